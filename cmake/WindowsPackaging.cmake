# Windows: zarv.exe with its icon, and the zip a player unpacks anywhere and
# starts with a double click (cpack -G ZIP): zarv-<version>-win64/ holding the
# game, openal32.dll, the assets, a README and the licence of everything in it.

# SFML's static config names OpenGL32, which MinGW's case-sensitive library
# names on Linux do not match
set_property(TARGET OpenGL PROPERTY INTERFACE_LINK_LIBRARIES opengl32)
# The C++ runtime linked in too, so that the zip needs no MinGW DLLs
target_link_options(zarv PRIVATE -static)

enable_language(RC)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/zarv.ico
  COMMAND zarv_make_icon ${CMAKE_BINARY_DIR}/zarv.ico 16 24 32 48 256
  DEPENDS zarv_make_icon
  COMMENT "Drawing the Windows icon")
target_sources(zarv PRIVATE packaging/windows/zarv.rc)
set_source_files_properties(packaging/windows/zarv.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/zarv.ico INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR})

# The pinned SFML's Windows install keeps openal32.dll in bin/, and its licence beside
configure_file(packaging/windows/README.txt.in ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE WIN32)

install(TARGETS zarv RUNTIME DESTINATION .)
install(FILES ${zarv_sound_files} ${CMAKE_BINARY_DIR}/segoeui.ttf ${CMAKE_BINARY_DIR}/README.txt
              ${zarv_sfml_prefix}/bin/openal32.dll
        DESTINATION .)
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES ${zarv_sfml_prefix}/license.md DESTINATION licenses RENAME SFML.txt)
install(FILES packaging/licenses/OpenSans.txt DESTINATION licenses)
install(DIRECTORY packaging/windows/licenses/ DESTINATION licenses)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zarv)
set(CPACK_PACKAGE_FILE_NAME zarv-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
include(CPack)
