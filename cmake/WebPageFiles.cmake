# Run after the page is linked (cmake -DBUILD=<build dir> -DPAGE=web/page
# -DOUT=<folder> -DLIBRARIES=<node_modules> -DBROKER=<URL> -DBUILT=<seconds>
# -DPALETTE=game/palette.hpp -P): lays out the page in OUT with every file but index.html named by its
# contents, zarv.<hash>.js and the rest, so that a host or a browser that
# caches them can never pair one build's script with another's data;
# index.html, which names them, is the only file to revalidate. What the page
# needs to play online, PeerJS, qrcode-generator and its own online.js, is
# bundled into one online.<hash>.js, fetched only for a match. The web app's
# manifest and icons are named by their contents too; the service worker,
# which must keep its address, names the release's files and its cache after
# index.html's contents.
#
# Emscripten's file packager names the data with a random UUID, which would
# give every build other bytes. It is only read to cache the data in the
# browser, which the page does not ask for: the UUID is made from the data's
# own SHA-256 instead, the same for the same data.

function(zarv_named_by_contents variable file name extension)
  file(SHA256 "${file}" hash)
  string(SUBSTRING "${hash}" 0 16 hash)
  set(${variable} "${name}.${hash}.${extension}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
file(READ "${BUILD}/zarv.js" script)
file(SHA256 "${BUILD}/zarv.data" hash)
string(REGEX REPLACE "^(........)(....)(....)(....)(............).*$" "\\1-\\2-\\3-\\4-\\5" id "${hash}")
string(REGEX REPLACE "\"package_uuid\":\"[0-9a-f-]+\"" "\"package_uuid\":\"${id}\"" script "${script}")

foreach(extension wasm data)
  zarv_named_by_contents(game_${extension} "${BUILD}/zarv.${extension}" zarv ${extension})
  configure_file("${BUILD}/zarv.${extension}" "${OUT}/${game_${extension}}" COPYONLY)
  string(REPLACE "zarv.${extension}" "${game_${extension}}" script "${script}")
endforeach()
file(WRITE "${OUT}/zarv.js.tmp" "${script}")
zarv_named_by_contents(game_js "${OUT}/zarv.js.tmp" zarv js)
file(RENAME "${OUT}/zarv.js.tmp" "${OUT}/${game_js}")

zarv_named_by_contents(page_js "${PAGE}/page.js" page js)
zarv_named_by_contents(page_css "${PAGE}/page.css" page css)
configure_file("${PAGE}/page.js" "${OUT}/${page_js}" COPYONLY)
configure_file("${PAGE}/page.css" "${OUT}/${page_css}" COPYONLY)

set(bundle "")
foreach(part "${LIBRARIES}/peerjs/dist/peerjs.min.js" "${LIBRARIES}/qrcode-generator/dist/qrcode.js" "${PAGE}/online.js")
  file(READ "${part}" text)
  string(APPEND bundle "${text}\n")
endforeach()
file(WRITE "${OUT}/online.js.tmp" "${bundle}")
zarv_named_by_contents(online_js "${OUT}/online.js.tmp" online js)
file(RENAME "${OUT}/online.js.tmp" "${OUT}/${online_js}")

# The build's name for the other player's page to compare with, and its date
string(REGEX REPLACE "^zarv\\.([0-9a-f]+)\\.js$" "\\1" build "${game_js}")
set(built "${BUILT}")
set(broker "${BROKER}")
string(REGEX REPLACE "^https?://([^/]+).*$" "\\1" broker_host "${BROKER}")
string(REGEX MATCH "^https" secure "${BROKER}")
if(secure)
  set(broker_origins "https://${broker_host} wss://${broker_host}")
else()
  set(broker_origins "http://${broker_host} ws://${broker_host}")
endif()
# The web app: the icons (drawn by the icon maker in BUILD), the backdrop's
# colour from the game's palette, and the manifest that names them
foreach(icon 192 512 maskable)
  zarv_named_by_contents(icon_${icon} "${BUILD}/icon-${icon}.png" icon png)
  configure_file("${BUILD}/icon-${icon}.png" "${OUT}/${icon_${icon}}" COPYONLY)
endforeach()
file(STRINGS "${PALETTE}" backdrop REGEX "Backdrop\\(")
string(REGEX REPLACE ".*Backdrop\\(([0-9]+), ([0-9]+), ([0-9]+).*" "\\1;\\2;\\3" backdrop "${backdrop}")
set(hex "")
foreach(channel IN LISTS backdrop)
  math(EXPR channel "${channel}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x(.)$" "0x0\\1" channel "${channel}")
  string(SUBSTRING "${channel}" 2 2 channel)
  string(APPEND hex "${channel}")
endforeach()
set(backdrop "#${hex}")
configure_file("${PAGE}/manifest.webmanifest" "${OUT}/manifest.tmp" @ONLY)
zarv_named_by_contents(manifest "${OUT}/manifest.tmp" manifest webmanifest)
file(RENAME "${OUT}/manifest.tmp" "${OUT}/${manifest}")

configure_file("${PAGE}/index.html" "${OUT}/index.html" @ONLY)

# What the service worker keeps at once: index.html, every file the game
# loads and the web app's. online.<hash>.js, fetched only for a match, is
# kept when it is fetched.
file(SHA256 "${OUT}/index.html" release)
string(SUBSTRING "${release}" 0 16 release)
set(files "[\"index.html\"")
foreach(name ${page_js} ${page_css} ${game_js} ${game_wasm} ${game_data} ${manifest} ${icon_192} ${icon_512}
             ${icon_maskable})
  string(APPEND files ", \"${name}\"")
endforeach()
string(APPEND files "]")
configure_file("${PAGE}/service-worker.js" "${OUT}/service-worker.js" @ONLY)
