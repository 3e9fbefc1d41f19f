# Install layout, desktop integration and the Debian package.
#
# Debian's games layout: the binary in lib/games/zarv, its data in
# share/games/zarv and a launcher in games/ (or bin/). The game reads its
# assets from the working directory, so the launcher changes to the data folder
# first; it finds both folders relative to its own real location, which keeps
# an install relocatable and lets one launcher serve any prefix.

include(GNUInstallDirs)
include(cmake/Changelog.cmake)

set(ZARV_APP_ID "io.github.zarv.zarv" CACHE STRING
    "Reverse-DNS id of the desktop entry, the AppStream metainfo and the icon")
option(ZARV_INSTALL_LAUNCHER_IN_BINDIR
       "Install the launcher in ${CMAKE_INSTALL_BINDIR} instead of games/" OFF)
set(ZARV_INSTALL_GAMESDIR "games" CACHE PATH "Launcher folder when not in the bin folder")
set(ZARV_INSTALL_GAMELIBDIR "lib/games/zarv" CACHE PATH "Folder of the game's binary")
set(ZARV_INSTALL_GAMEDATADIR "${CMAKE_INSTALL_DATADIR}/games/zarv" CACHE PATH
    "Folder of the game's font and sounds, its working directory")
set(ZARV_SCREENSHOT_URL "https://raw.githubusercontent.com/zarv/zarv/main/docs/screenshot.png"
    CACHE STRING "Web address of docs/screenshot.png, for the AppStream metainfo")
set(ZARV_HOMEPAGE_URL "https://zarv.invalid/" CACHE STRING
    "The game's home page, for the AppStream metainfo and the package; the default is a placeholder")
if(NOT ZARV_HOMEPAGE_URL MATCHES "^https?://[^ ]+$")
  message(FATAL_ERROR "ZARV_HOMEPAGE_URL is '${ZARV_HOMEPAGE_URL}': give a web address, "
                      "-DZARV_HOMEPAGE_URL=https://...")
endif()
set(ZARV_PACKAGE_MAINTAINER "The Zarv developers <zarv@zarv.invalid>" CACHE STRING
    "Maintainer of the Debian package, also named in its changelog: Name <email>")
if(NOT ZARV_PACKAGE_MAINTAINER MATCHES "^[^<>]+ <[^<>@ ]+@[^<>@ ]+>$")
  message(FATAL_ERROR "ZARV_PACKAGE_MAINTAINER is '${ZARV_PACKAGE_MAINTAINER}': "
                      "give a name and an address, -DZARV_PACKAGE_MAINTAINER='Name <address>'")
endif()
# One upstream version built for several Debian releases is versioned as
# Debian does it: 1.0.0+deb12u1 for Debian 12, which sorts before 13's
set(ZARV_DEBIAN_RELEASE "" CACHE STRING
    "Debian release the package is built for, by number (12): its version is then <version>+deb12u1")
set(ZARV_DEBIAN_CODENAME "" CACHE STRING "Code name of ZARV_DEBIAN_RELEASE (bookworm), for the package's changelog")
if(ZARV_DEBIAN_RELEASE)
  if(NOT ZARV_DEBIAN_RELEASE MATCHES "^[0-9]+$" OR NOT ZARV_DEBIAN_CODENAME MATCHES "^[a-z]+$")
    message(FATAL_ERROR "ZARV_DEBIAN_RELEASE '${ZARV_DEBIAN_RELEASE}' and ZARV_DEBIAN_CODENAME "
                        "'${ZARV_DEBIAN_CODENAME}' are to be a number and a name, such as 12 and bookworm")
  endif()
  set(zarv_package_version "${PROJECT_VERSION}+deb${ZARV_DEBIAN_RELEASE}u1")
else()
  set(zarv_package_version "${PROJECT_VERSION}")
endif()
set(ZARV_INSTALL_DOCDIR "${CMAKE_INSTALL_DATADIR}/doc/zarv" CACHE PATH
    "Folder of the copyright notice and the changelog")

if(ZARV_INSTALL_LAUNCHER_IN_BINDIR)
  set(zarv_launcher_dir "${CMAKE_INSTALL_BINDIR}")
else()
  set(zarv_launcher_dir "${ZARV_INSTALL_GAMESDIR}")
endif()

# The font: a symlink to the system's copy when a Debian package owns it (the
# package then depends on that one), a copy of the file otherwise.
set(ZARV_FONT_PACKAGE "" CACHE STRING
    "Debian package that owns ZARV_FONT_FILE; found with dpkg-query when empty")
set(zarv_font_package "${ZARV_FONT_PACKAGE}")
find_program(DPKG_QUERY_EXECUTABLE dpkg-query)
if(NOT zarv_font_package AND DPKG_QUERY_EXECUTABLE)
  get_filename_component(zarv_font_real "${ZARV_FONT_FILE}" REALPATH)
  execute_process(COMMAND ${DPKG_QUERY_EXECUTABLE} -S "${zarv_font_real}"
                  OUTPUT_VARIABLE zarv_font_owner ERROR_QUIET RESULT_VARIABLE zarv_dpkg_status
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  # "package: /path", or "package:arch: /path"; several owners (diversions) are not trusted
  if(zarv_dpkg_status EQUAL 0 AND zarv_font_owner MATCHES "^([^:, ]+)(:[^:, ]+)?: [^\n]*$")
    set(zarv_font_package "${CMAKE_MATCH_1}")
  endif()
endif()
if(zarv_font_package)
  message(STATUS "Zarv: installs a symlink to ${ZARV_FONT_FILE}, from ${zarv_font_package}")
else()
  message(STATUS "Zarv: no package owns ${ZARV_FONT_FILE}: installs a copy of it")
endif()

# The launcher's paths to the binary and the data, from its own folder; only
# absolute install folders (rare) tie it to the configured prefix
function(zarv_path_from_launcher var dir)
  if(IS_ABSOLUTE "${dir}")
    set(path "${dir}")
  elseif(IS_ABSOLUTE "${zarv_launcher_dir}")
    set(path "${CMAKE_INSTALL_PREFIX}/${dir}")
  else()
    file(RELATIVE_PATH relative "/prefix/${zarv_launcher_dir}" "/prefix/${dir}")
    set(path "$here/${relative}")
  endif()
  set(${var} "${path}" PARENT_SCOPE)
endfunction()
zarv_path_from_launcher(ZARV_LAUNCHER_DATA "${ZARV_INSTALL_GAMEDATADIR}")
zarv_path_from_launcher(ZARV_LAUNCHER_BINARY "${ZARV_INSTALL_GAMELIBDIR}/zarv")

# The history, once, in CHANGELOG.md: the Debian changelog and the AppStream
# releases are made from it, and its newest date dates the manual page.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS CHANGELOG.md LICENSE)
zarv_changelog(CHANGELOG.md "${ZARV_PACKAGE_MAINTAINER}"
               zarv_debian_changelog ZARV_APPSTREAM_RELEASES ZARV_RELEASE_DATE)

set(zarv_staging "${CMAKE_BINARY_DIR}/packaging")
configure_file(packaging/zarv.sh.in "${zarv_staging}/zarv" @ONLY)
configure_file(packaging/${ZARV_APP_ID}.metainfo.xml.in
               "${zarv_staging}/${ZARV_APP_ID}.metainfo.xml" @ONLY)
if(NOT zarv_font_package)
  configure_file("${ZARV_FONT_FILE}" "${zarv_staging}/segoeui.ttf" COPYONLY)
endif()

# file(CONFIGURE OUTPUT ... CONTENT ...) without its substitutions, which
# CMake before 3.20 refuses for content with a "<", such as an address
function(zarv_write_if_changed path content)
  file(WRITE "${path}.new" "${content}")
  configure_file("${path}.new" "${path}" COPYONLY)
endfunction()

# The copyright notice in Debian's machine-readable form, its licence text
# and copyright line taken from LICENSE
file(READ LICENSE zarv_licence)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" zarv_copyright "${zarv_licence}")
set(zarv_copyright "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]+\n\n" "" zarv_licence "${zarv_licence}")
string(REGEX REPLACE "\n+$" "" zarv_licence "${zarv_licence}")
string(REPLACE "\n\n" "\n.\n" zarv_licence "${zarv_licence}")
string(REPLACE "\n" "\n " zarv_licence " ${zarv_licence}")
zarv_write_if_changed("${zarv_staging}/doc/copyright"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Zarv
Upstream-Contact: ${ZARV_PACKAGE_MAINTAINER}
Comment: The game's font, Open Sans (Apache-2.0), is not in this package: it
 links to the one from the fonts-open-sans package.

Files: *
Copyright: ${zarv_copyright}
License: Expat

License: Expat
${zarv_licence}
")

# The changelog, compressed without a name or time in the gzip header, so that
# two builds give the same bytes
if(ZARV_DEBIAN_RELEASE)
  # Dated by the build (SOURCE_DATE_EPOCH, the commit's date, where set), after the release
  string(TIMESTAMP zarv_rebuild_day "%Y-%m-%d" UTC)
  string(TIMESTAMP zarv_rebuild_time "%H:%M:%S" UTC)
  zarv_rfc2822_date(zarv_rebuild_date "${zarv_rebuild_day}")
  string(REPLACE "00:00:00" "${zarv_rebuild_time}" zarv_rebuild_date "${zarv_rebuild_date}")
  string(PREPEND zarv_debian_changelog
         "zarv (${zarv_package_version}) ${ZARV_DEBIAN_CODENAME}; urgency=medium\n\n"
         "  * Zarv ${PROJECT_VERSION} built for Debian ${ZARV_DEBIAN_RELEASE} (${ZARV_DEBIAN_CODENAME}).\n\n"
         " -- ${ZARV_PACKAGE_MAINTAINER}  ${zarv_rebuild_date}\n\n")
endif()
zarv_write_if_changed("${zarv_staging}/changelog" "${zarv_debian_changelog}")
add_custom_command(OUTPUT "${zarv_staging}/doc/changelog.gz"
  COMMAND gzip -9 -n -c "${zarv_staging}/changelog" > "${zarv_staging}/doc/changelog.gz"
  DEPENDS "${zarv_staging}/changelog"
  COMMENT "Compressing the Debian changelog")
add_custom_target(zarv_changelog ALL DEPENDS "${zarv_staging}/doc/changelog.gz")

# The icon, drawn from the game's arena and paddles by zarv_make_icon
set(ZARV_ICON_SIZES 48 64 128 256)
set(zarv_icons "")
foreach(size IN LISTS ZARV_ICON_SIZES)
  set(icon "${zarv_staging}/icons/${size}x${size}/${ZARV_APP_ID}.png")
  add_custom_command(OUTPUT "${icon}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${zarv_staging}/icons/${size}x${size}"
    COMMAND zarv_make_icon "${icon}" ${size}
    DEPENDS zarv_make_icon
    COMMENT "Drawing the ${size}x${size} icon")
  list(APPEND zarv_icons "${icon}")
endforeach()
add_custom_target(zarv_icons ALL DEPENDS ${zarv_icons})

install(TARGETS zarv RUNTIME DESTINATION "${ZARV_INSTALL_GAMELIBDIR}")
install(PROGRAMS "${zarv_staging}/zarv" DESTINATION "${zarv_launcher_dir}")
install(FILES ${zarv_sound_files} DESTINATION "${ZARV_INSTALL_GAMEDATADIR}")
if(zarv_font_package)
  set(zarv_font_link "${ZARV_FONT_FILE}")
else()
  install(FILES "${zarv_staging}/segoeui.ttf" DESTINATION "${ZARV_INSTALL_GAMEDATADIR}")
  set(zarv_font_link "")
endif()
install(FILES "${zarv_staging}/doc/copyright" "${zarv_staging}/doc/changelog.gz"
        DESTINATION "${ZARV_INSTALL_DOCDIR}")
install(CODE "set(ZARV_SOURCE_DIR \"${CMAKE_CURRENT_SOURCE_DIR}\")
set(ZARV_STAGING \"${zarv_staging}\")
set(ZARV_APP_ID \"${ZARV_APP_ID}\")
set(ZARV_LAUNCHER_DIR \"${zarv_launcher_dir}\")
set(ZARV_GAMELIBDIR \"${ZARV_INSTALL_GAMELIBDIR}\")
set(ZARV_GAMEDATADIR \"${ZARV_INSTALL_GAMEDATADIR}\")
set(ZARV_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
set(ZARV_DOCDIR \"${ZARV_INSTALL_DOCDIR}\")
set(ZARV_MANDIR \"${CMAKE_INSTALL_MANDIR}\")
set(ZARV_FONT_LINK \"${zarv_font_link}\")
set(PROJECT_VERSION \"${PROJECT_VERSION}\")
set(ZARV_RELEASE_DATE \"${ZARV_RELEASE_DATE}\")")
install(SCRIPT cmake/InstallForPrefix.cmake)
install(FILES "${zarv_staging}/${ZARV_APP_ID}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
foreach(size IN LISTS ZARV_ICON_SIZES)
  install(FILES "${zarv_staging}/icons/${size}x${size}/${ZARV_APP_ID}.png"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()

# Every installed file, for the uninstall script
set(zarv_installed_files
  "${zarv_launcher_dir}/zarv"
  "${ZARV_INSTALL_GAMELIBDIR}/zarv"
  "${CMAKE_INSTALL_DATADIR}/applications/${ZARV_APP_ID}.desktop"
  "${CMAKE_INSTALL_DATADIR}/metainfo/${ZARV_APP_ID}.metainfo.xml"
  "${CMAKE_INSTALL_MANDIR}/man6/zarv.6.gz"
  "${ZARV_INSTALL_DOCDIR}/copyright"
  "${ZARV_INSTALL_DOCDIR}/changelog.gz")
foreach(name IN LISTS ZARV_SOUNDS ITEMS segoeui.ttf)
  list(APPEND zarv_installed_files "${ZARV_INSTALL_GAMEDATADIR}/${name}")
endforeach()
foreach(size IN LISTS ZARV_ICON_SIZES)
  list(APPEND zarv_installed_files
       "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps/${ZARV_APP_ID}.png")
endforeach()
configure_file(cmake/uninstall.cmake.in "${zarv_staging}/uninstall.cmake" @ONLY)
# The layout, for the install test
configure_file(cmake/layout.json.in "${zarv_staging}/layout.json" @ONLY)

add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -P "${zarv_staging}/uninstall.cmake"
  COMMENT "Removing Zarv from ${CMAKE_INSTALL_PREFIX}")

# cpack -G DEB: zarv_<version>_<arch>.deb, installing to /usr. The launcher's
# paths are relative, so the prefix the tree was configured with does not matter.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "zarv")
set(CPACK_PACKAGE_VENDOR "The Zarv developers")
set(CPACK_DEBIAN_PACKAGE_VERSION "${zarv_package_version}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ZARV_HOMEPAGE_URL}")
set(CPACK_PACKAGE_CONTACT "${ZARV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bat-and-ball arcade game in a round arena")
set(CPACK_PACKAGE_DESCRIPTION
    "Zarv is a small arcade game for one or two people at one keyboard, played
inside a circle. Each side steers a thick arc-shaped paddle around the rim of
a round arena while the ball bounces inside. Play against the computer or
against a friend.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "games")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${zarv_font_package}")
if(ZARV_SFML_LINKED_IN)
  # SFML linked in opens libGL.so.1 itself at run time, where dpkg-shlibdeps cannot see it
  list(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS libgl1)
  list(JOIN CPACK_DEBIAN_PACKAGE_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(CMAKE_CROSSCOMPILING)
  # Built for another Debian architecture (arm64, with cmake/aarch64-linux-gnu.cmake):
  # the package is named for it, and dpkg-shlibdeps looks among its libraries
  find_program(DPKG_ARCHITECTURE_EXECUTABLE dpkg-architecture REQUIRED)
  execute_process(COMMAND ${DPKG_ARCHITECTURE_EXECUTABLE} -t "${CMAKE_LIBRARY_ARCHITECTURE}" -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE ERROR_QUIET RESULT_VARIABLE failed
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed OR NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    message(FATAL_ERROR "No Debian architecture builds for ${CMAKE_LIBRARY_ARCHITECTURE}, "
                        "the cross build's library architecture")
  endif()
  file(WRITE "${zarv_staging}/cpack-architecture.cmake"
       "set(ENV{DEB_HOST_ARCH} ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})\n")
  set(CPACK_PROJECT_CONFIG_FILE "${zarv_staging}/cpack-architecture.cmake")
endif()
include(CPack)
