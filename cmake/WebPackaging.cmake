# The page: zarv.js and zarv.wasm, the font and the sounds packed in
# zarv.data, index.html, and the licences of everything in it. `cmake
# --install` lays it out under the prefix; scripts/build-web zips it with
# index.html at the top, as itch.io's HTML upload wants.

set(zarv_web_assets "")
foreach(asset IN LISTS zarv_sound_files ITEMS "${CMAKE_BINARY_DIR}/segoeui.ttf")
  get_filename_component(name "${asset}" NAME)
  list(APPEND zarv_web_assets "SHELL:--preload-file ${asset}@/${name}")
endforeach()
# The game's loop ends when its window closes, as on the desktop: main returns
# and the page is told (Module.onExit)
target_link_options(zarv PRIVATE ${zarv_web_assets} -sEXIT_RUNTIME=1 -sALLOW_MEMORY_GROWTH=1
                    "-sEXPORTED_RUNTIME_METHODS=[]" -sENVIRONMENT=web)
set_property(TARGET zarv APPEND PROPERTY LINK_DEPENDS ${zarv_sound_files} "${CMAKE_BINARY_DIR}/segoeui.ttf")
add_custom_command(TARGET zarv POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DJS=${CMAKE_BINARY_DIR}/zarv.js -DDATA=${CMAKE_BINARY_DIR}/zarv.data
          -P ${CMAKE_SOURCE_DIR}/cmake/WebPackageId.cmake
  COMMENT "Naming the page's data by its contents")

configure_file(packaging/web/index.html "${CMAKE_BINARY_DIR}/index.html" COPYONLY)

install(FILES "${CMAKE_BINARY_DIR}/index.html" "${CMAKE_BINARY_DIR}/zarv.js" "${CMAKE_BINARY_DIR}/zarv.wasm"
              "${CMAKE_BINARY_DIR}/zarv.data"
        DESTINATION .)
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES "${zarv_sfml_prefix}/license.md" DESTINATION licenses RENAME SFML.txt)
install(FILES "${zarv_freetype_prefix}/licence/FTL.TXT" DESTINATION licenses RENAME FreeType.txt)
install(FILES packaging/licenses/OpenSans.txt DESTINATION licenses)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zarv)
set(CPACK_PACKAGE_FILE_NAME zarv-${PROJECT_VERSION}-web)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF) # index.html at the top
include(CPack)
