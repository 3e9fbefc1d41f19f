# The portable Linux folder, zarv-<version>-linux-<processor>/, which a player
# unpacks anywhere and starts with its launcher: the game in lib/ with OpenAL
# Soft beside it, found through the run path $ORIGIN; the sounds, a copy of
# the font, the icon and a desktop entry; a README and the licence of
# everything linked in. `cmake --install` lays it out under the prefix, and
# scripts/build-linux packs it.

set(ZARV_PORTABLE_FOLDER "zarv-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}" CACHE INTERNAL "The folder in the tarball")
set(zarv_staging "${CMAKE_BINARY_DIR}/portable")

# The C++ runtime linked in, as its version varies more than glibc's
target_link_options(zarv PRIVATE -static-libstdc++ -static-libgcc)
set_target_properties(zarv PROPERTIES INSTALL_RPATH "$ORIGIN")

# The launcher, as for the installed game, with the game one folder down
set(ZARV_LAUNCHER_DATA "$here")
set(ZARV_LAUNCHER_BINARY "$here/lib/zarv")
configure_file(packaging/zarv.sh.in "${zarv_staging}/zarv" @ONLY)
set(ZARV_DESKTOP_EXEC zarv)
configure_file(packaging/io.github.zarv.zarv.desktop.in "${zarv_staging}/io.github.zarv.zarv.desktop" @ONLY)
configure_file(packaging/linux/README.txt.in "${zarv_staging}/README.txt" @ONLY)
add_custom_command(OUTPUT "${zarv_staging}/io.github.zarv.zarv.png"
  COMMAND zarv_make_icon "${zarv_staging}/io.github.zarv.zarv.png" 256
  DEPENDS zarv_make_icon
  COMMENT "Drawing the icon")
add_custom_target(zarv_portable_icon ALL DEPENDS "${zarv_staging}/io.github.zarv.zarv.png")

# The licences: the game's, SFML's, OpenAL Soft's with a word on where its
# source is, the font's, and, for each static library linked in and the C++
# runtime, the copyright file of the Debian package it came from, with the
# common licence texts those name
configure_file(packaging/linux/OpenAL-Soft.txt.in "${zarv_staging}/licenses/OpenAL-Soft.txt" @ONLY)
file(GLOB zarv_openal_notices "${zarv_openal_prefix}/licence/*")
list(SORT zarv_openal_notices)
foreach(notice IN LISTS zarv_openal_notices)
  file(READ "${notice}" text)
  file(APPEND "${zarv_staging}/licenses/OpenAL-Soft.txt"
       "\n------------------------------------------------------------------------\n\n${text}")
endforeach()
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.a
                OUTPUT_VARIABLE zarv_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
find_program(DPKG_QUERY_EXECUTABLE dpkg-query REQUIRED)
set(zarv_licence_packages "")
foreach(archive IN LISTS ZARV_PORTABLE_ARCHIVES zarv_libstdcxx)
  get_filename_component(archive "${archive}" REALPATH)
  execute_process(COMMAND ${DPKG_QUERY_EXECUTABLE} -S "${archive}" OUTPUT_VARIABLE owner
                  RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed OR NOT owner MATCHES "^([^:, ]+)(:[^:, ]+)?: ")
    message(FATAL_ERROR "No Debian package owns ${archive}: the portable build takes each library's "
                        "copyright from the package it came from")
  endif()
  list(APPEND zarv_licence_packages "${CMAKE_MATCH_1}")
endforeach()
list(REMOVE_DUPLICATES zarv_licence_packages)
set(zarv_common_licences "")
foreach(package IN LISTS zarv_licence_packages)
  file(READ "/usr/share/doc/${package}/copyright" text)
  file(WRITE "${zarv_staging}/licenses/${package}.txt" "${text}")
  string(REGEX MATCHALL "/usr/share/common-licenses/[A-Za-z0-9.+-]*[A-Za-z0-9+]" named "${text}")
  list(APPEND zarv_common_licences ${named})
endforeach()
list(REMOVE_DUPLICATES zarv_common_licences)
foreach(licence IN LISTS zarv_common_licences)
  if(EXISTS "${licence}" AND NOT IS_DIRECTORY "${licence}")
    get_filename_component(licence "${licence}" REALPATH)
    file(COPY "${licence}" DESTINATION "${zarv_staging}/licenses/common-licenses")
  endif()
endforeach()

get_filename_component(zarv_openal_library "${zarv_openal_prefix}/lib/libopenal.so.1" REALPATH)
install(PROGRAMS "${zarv_staging}/zarv" DESTINATION .)
install(TARGETS zarv RUNTIME DESTINATION lib)
install(PROGRAMS "${zarv_openal_library}" DESTINATION lib RENAME libopenal.so.1)
install(FILES ${zarv_sound_files} "${CMAKE_BINARY_DIR}/segoeui.ttf" "${zarv_staging}/README.txt"
              "${zarv_staging}/io.github.zarv.zarv.desktop" "${zarv_staging}/io.github.zarv.zarv.png"
        DESTINATION .)
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES "${zarv_sfml_prefix}/license.md" DESTINATION licenses RENAME SFML.txt)
install(FILES packaging/licenses/OpenSans.txt DESTINATION licenses)
install(DIRECTORY "${zarv_staging}/licenses/" DESTINATION licenses)
