# The page: zarv.js and zarv.wasm, the font and the sounds packed in
# zarv.data, index.html with its own script and style, each but index.html
# named by its contents (in page/ of the build), and the licences of
# everything in it. `cmake --install` lays it out under the prefix;
# scripts/build-web zips it with index.html at the top, as itch.io's HTML
# upload wants.

# The font cut down to the characters that the game's texts can show, printable
# ASCII, with their outlines, hinting and kerning as they are: the same pixels,
# a seventh of the bytes to fetch
find_program(ZARV_PYFTSUBSET pyftsubset REQUIRED) # Debian's fonttools
set(zarv_web_font "${CMAKE_BINARY_DIR}/segoeui-web.ttf")
add_custom_command(OUTPUT "${zarv_web_font}"
  COMMAND ${ZARV_PYFTSUBSET} "${CMAKE_BINARY_DIR}/segoeui.ttf" --unicodes=U+0020-007E --legacy-kern
          --name-IDs=* --notdef-outline --output-file=${zarv_web_font}
  DEPENDS "${CMAKE_BINARY_DIR}/segoeui.ttf" COMMENT "Cutting the font down to the game's characters" VERBATIM)
add_custom_target(zarv_web_font DEPENDS "${zarv_web_font}")
add_dependencies(zarv zarv_web_font)

set(zarv_web_assets "SHELL:--preload-file ${zarv_web_font}@/segoeui.ttf")
foreach(asset IN LISTS zarv_sound_files)
  get_filename_component(name "${asset}" NAME)
  list(APPEND zarv_web_assets "SHELL:--preload-file ${asset}@/${name}")
endforeach()
# The game's loop ends when its window closes, as on the desktop: main returns
# and the page is told (Module.onExit). No eval() or new Function, which the
# page's Content-Security-Policy forbids.
target_link_options(zarv PRIVATE ${zarv_web_assets} -sEXIT_RUNTIME=1 -sALLOW_MEMORY_GROWTH=1
                    "-sEXPORTED_RUNTIME_METHODS=[]" -sENVIRONMENT=web -sDYNAMIC_EXECUTION=0)
# Playing online: the broker that brings two pages together, which the page's
# Content-Security-Policy lets it reach, and the libraries that the page
# bundles for it, which scripts/build-web installs from web/page's lock file
set(ZARV_BROKER_URL "https://0.peerjs.com/" CACHE STRING
    "The PeerJS broker that the page uses by default (its Content-Security-Policy allows it and the page's own site)")
set(ZARV_PAGE_LIBRARIES "${CMAKE_BINARY_DIR}/page-libraries/node_modules" CACHE PATH
    "node_modules of web/page's package-lock.json (scripts/npm-tools web/page <build>/page-libraries)")
if(NOT EXISTS "${ZARV_PAGE_LIBRARIES}/peerjs/dist/peerjs.min.js")
  message(FATAL_ERROR "No ${ZARV_PAGE_LIBRARIES}/peerjs: run scripts/npm-tools web/page ${CMAKE_BINARY_DIR}/page-libraries "
                      "first, as scripts/build-web does, or set ZARV_PAGE_LIBRARIES")
endif()
set(zarv_built 0) # the build's date, which the page compares with the other player's
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(zarv_built $ENV{SOURCE_DATE_EPOCH})
endif()
# The web app's icons, drawn by the icon maker: the manifest's at 192 and 512
# pixels and a maskable one, the 192 also the page's and iOS's home screen
# icon. Debian's pngquant and optipng pack them into a fifth of the bytes,
# 16 colours without dithering, as flat as the icon is.
find_program(ZARV_PNGQUANT pngquant REQUIRED)
find_program(ZARV_OPTIPNG optipng REQUIRED)
set(zarv_web_icons "")
foreach(icon 192 512 "192 maskable")
  string(REGEX REPLACE "^192 " "" name "${icon}")
  set(png "${CMAKE_BINARY_DIR}/icon-${name}.png")
  separate_arguments(size UNIX_COMMAND "${icon}")
  add_custom_command(OUTPUT "${png}"
    COMMAND zarv_make_icon "${png}" ${size}
    COMMAND ${ZARV_PNGQUANT} 16 --nofs --speed 1 --strip --force --output "${png}" "${png}"
    COMMAND ${ZARV_OPTIPNG} -quiet -o2 -strip all "${png}"
    DEPENDS zarv_make_icon COMMENT "Drawing the page's ${icon} icon" VERBATIM)
  list(APPEND zarv_web_icons "${png}")
endforeach()
set(zarv_page_sources web/page/index.html web/page/page.js web/page/page.css web/page/online.js
                      web/page/package-lock.json web/page/manifest.webmanifest web/page/service-worker.js
                      game/palette.hpp ${zarv_web_icons})
set_property(TARGET zarv APPEND PROPERTY LINK_DEPENDS ${zarv_sound_files} "${zarv_web_font}")
# Laid out again on every build, which takes a moment: the game or the page's own files may have changed
add_custom_target(zarv_page ALL
  COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DPAGE=${CMAKE_SOURCE_DIR}/web/page
          -DLIBRARIES=${ZARV_PAGE_LIBRARIES} -DBROKER=${ZARV_BROKER_URL} -DBUILT=${zarv_built}
          -DPALETTE=${CMAKE_SOURCE_DIR}/game/palette.hpp
          -DOUT=${CMAKE_BINARY_DIR}/page -P ${CMAKE_SOURCE_DIR}/cmake/WebPageFiles.cmake
  DEPENDS zarv ${zarv_page_sources} COMMENT "Laying out the page, its files named by their contents")

install(DIRECTORY "${CMAKE_BINARY_DIR}/page/" DESTINATION .)
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES "${zarv_sfml_prefix}/license.md" DESTINATION licenses RENAME SFML.txt)
install(FILES "${zarv_freetype_prefix}/licence/FTL.TXT" DESTINATION licenses RENAME FreeType.txt)
install(FILES packaging/licenses/OpenSans.txt DESTINATION licenses)
# online.<hash>.js: PeerJS, with what it bundles, and qrcode-generator
foreach(library peerjs/LICENSE eventemitter3/LICENSE webrtc-adapter/LICENSE.md sdp/LICENSE
                peerjs-js-binarypack/LICENSE)
  string(REGEX REPLACE "/.*$" ".txt" name "${library}")
  install(FILES "${ZARV_PAGE_LIBRARIES}/${library}" DESTINATION licenses RENAME ${name})
endforeach()
install(FILES packaging/licenses/qrcode-generator.txt DESTINATION licenses)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zarv)
set(CPACK_PACKAGE_FILE_NAME zarv-${PROJECT_VERSION}-web)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF) # index.html at the top
include(CPack)
