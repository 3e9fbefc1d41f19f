# SFML for the browser: the pinned SFML's own sources built with Emscripten
# (web/CMakeLists.txt), with FreeType from Debian's source, pinned like it.
# The source is unpacked into the build tree and mended there: the patch
# teaches its platform switches the browser. The backend SFML has none of
# there (the canvas as its window, WebGL as its context, keys from the page's
# events) is compiled where it stands, in web/SFML/.

include(cmake/PinnedSource.cmake)
set(ZARV_FREETYPE_PINNED_VERSION 2.13.3)
set(zarv_freetype_url
    "https://deb.debian.org/debian/pool/main/f/freetype/freetype_${ZARV_FREETYPE_PINNED_VERSION}%2Bdfsg.orig.tar.xz")
set(zarv_freetype_sha256 686ec73cbf6783b245dd068a09ce807b729ac0f8a46dd70f7867923c32fdf4de)
set(ZARV_FREETYPE_SOURCE "$ENV{ZARV_FREETYPE_SOURCE}" CACHE PATH
    "A copy of FreeType ${ZARV_FREETYPE_PINNED_VERSION}'s source (.tar.xz or unpacked folder), for a build without internet")

set(zarv_web_patch "${CMAKE_SOURCE_DIR}/web/sfml-${ZARV_SFML_PINNED_VERSION}-web.patch")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zarv_web_patch})
file(SHA256 "${zarv_web_patch}" zarv_web_patch_hash)
zarv_cache_folder(zarv_web web-sfml-${ZARV_SFML_PINNED_VERSION}-freetype-${ZARV_FREETYPE_PINNED_VERSION}
                  "${CMAKE_CURRENT_LIST_FILE}" ${zarv_sfml_sha256} ${zarv_freetype_sha256} ${zarv_web_patch_hash})
set(zarv_sfml_prefix "${zarv_web}/sfml") # SFML's licence, for the page's licences
set(zarv_freetype_prefix "${zarv_web}/freetype")
set(zarv_web_log "${zarv_web}/build.log")

if(NOT EXISTS "${zarv_web}/stamp")
  message(STATUS "Zarv: SFML ${ZARV_SFML_PINNED_VERSION} and FreeType ${ZARV_FREETYPE_PINNED_VERSION} for the browser")
  file(REMOVE_RECURSE "${zarv_web}")
  file(MAKE_DIRECTORY "${zarv_web}/freetype-work" "${zarv_web}/sfml-work")
  file(WRITE "${zarv_web_log}" "")

  # FreeType with only what a TrueType font needs: no zlib, bzip2, PNG, Brotli or HarfBuzz
  zarv_pinned_source(source ZARV_FREETYPE_SOURCE "${zarv_freetype_url}" ${zarv_freetype_sha256}
                     "${zarv_web}/freetype-work")
  set(freetype "FreeType ${ZARV_FREETYPE_PINNED_VERSION}")
  zarv_run_logged("${zarv_web_log}" "Configuring ${freetype}" ${CMAKE_COMMAND} -S "${source}"
                  -B "${zarv_web}/freetype-work/build" -G "${CMAKE_GENERATOR}"
                  -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
                  -DCMAKE_INSTALL_PREFIX=${zarv_freetype_prefix} -DCMAKE_INSTALL_LIBDIR=lib
                  -DFT_DISABLE_ZLIB=ON -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON -DFT_DISABLE_HARFBUZZ=ON
                  -DFT_DISABLE_BROTLI=ON)
  cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
  zarv_run_logged("${zarv_web_log}" "Building ${freetype}"
                  ${CMAKE_COMMAND} --build "${zarv_web}/freetype-work/build" --parallel ${cores} --target install)
  file(COPY "${source}/LICENSE.TXT" "${source}/docs/FTL.TXT" DESTINATION "${zarv_freetype_prefix}/licence")

  # SFML's source, copied where it is not already the build's own, then mended
  zarv_pinned_source(source ZARV_SFML_SOURCE "${zarv_sfml_url}" ${zarv_sfml_sha256} "${zarv_web}/sfml-work")
  string(FIND "${source}" "${zarv_web}/sfml-work/source/" at)
  if(NOT at EQUAL 0)
    file(COPY "${source}" DESTINATION "${zarv_web}/sfml-work/source")
    get_filename_component(name "${source}" NAME)
    set(source "${zarv_web}/sfml-work/source/${name}")
  endif()
  find_program(PATCH_EXECUTABLE patch REQUIRED)
  zarv_run_logged("${zarv_web_log}" "Patching SFML ${ZARV_SFML_PINNED_VERSION} for the browser with"
                  ${PATCH_EXECUTABLE} --batch --forward -p1 -d "${source}" -i "${zarv_web_patch}")
  file(MAKE_DIRECTORY "${zarv_sfml_prefix}")
  file(COPY "${source}/license.md" DESTINATION "${zarv_sfml_prefix}")
  file(WRITE "${zarv_web}/source-dir" "${source}")
  file(WRITE "${zarv_web}/stamp" "")
endif()
zarv_cache_done("${zarv_web}")

file(READ "${zarv_web}/source-dir" ZARV_WEB_SFML_SOURCE)
set(ZARV_WEB_FREETYPE "${zarv_freetype_prefix}")
# Optimised for size, SFML and the game alike, compiled and linked (binaryen's
# wasm-opt -Oz), after Release's -O3: the page's frame costs the same, its wasm
# is smaller (docs/performance.md)
add_compile_options(-Oz)
add_link_options(-Oz)
add_subdirectory(web "${CMAKE_BINARY_DIR}/_deps/web-sfml")
