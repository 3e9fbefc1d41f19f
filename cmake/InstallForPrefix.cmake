# Runs at install time, when the prefix is known for sure (--prefix, or /usr
# for the package), for the files that name it: the desktop entry starts the
# launcher by its full path, so that the menu finds it whether or not its
# folder is on the PATH; the manual page says where everything is; and the
# font's symlink is relative where Debian wants it so.
# Set before it: ZARV_SOURCE_DIR, ZARV_STAGING, ZARV_APP_ID, ZARV_LAUNCHER_DIR,
# ZARV_GAMELIBDIR, ZARV_GAMEDATADIR, ZARV_DATADIR, ZARV_DOCDIR, ZARV_MANDIR,
# ZARV_FONT_LINK (the font to link to, or empty), PROJECT_VERSION and
# ZARV_RELEASE_DATE.

function(zarv_full_path var path)
  if(NOT IS_ABSOLUTE "${path}")
    get_filename_component(path "${CMAKE_INSTALL_PREFIX}/${path}" ABSOLUTE)
  endif()
  set(${var} "${path}" PARENT_SCOPE)
endfunction()

function(zarv_installed path)
  message(STATUS "Installing: $ENV{DESTDIR}${path}")
  set(CMAKE_INSTALL_MANIFEST_FILES ${CMAKE_INSTALL_MANIFEST_FILES} "${path}" PARENT_SCOPE)
endfunction()

zarv_full_path(ZARV_MAN_LAUNCHER "${ZARV_LAUNCHER_DIR}/zarv")
zarv_full_path(ZARV_MAN_DATA "${ZARV_GAMEDATADIR}")
zarv_full_path(ZARV_MAN_BINARY "${ZARV_GAMELIBDIR}/zarv")
zarv_full_path(ZARV_MAN_DOCS "${ZARV_DOCDIR}")

# The desktop entry. Exec's own quoting: a path with anything but the plainest
# characters goes in double quotes, with " ` $ \ escaped, and then every \
# doubled once more since the value is itself an escaped string.
set(ZARV_DESKTOP_EXEC "${ZARV_MAN_LAUNCHER}")
if(NOT ZARV_DESKTOP_EXEC MATCHES "^[-A-Za-z0-9_./+,:=@]+$")
  string(REPLACE "\\" "\\\\" ZARV_DESKTOP_EXEC "${ZARV_DESKTOP_EXEC}")
  string(REPLACE "\"" "\\\"" ZARV_DESKTOP_EXEC "${ZARV_DESKTOP_EXEC}")
  string(REPLACE "`" "\\`" ZARV_DESKTOP_EXEC "${ZARV_DESKTOP_EXEC}")
  string(REPLACE "$" "\\$" ZARV_DESKTOP_EXEC "${ZARV_DESKTOP_EXEC}")
  string(REPLACE "\\" "\\\\" ZARV_DESKTOP_EXEC "\"${ZARV_DESKTOP_EXEC}\"")
endif()
string(REPLACE "%" "%%" ZARV_DESKTOP_EXEC "${ZARV_DESKTOP_EXEC}")
zarv_full_path(entry "${ZARV_DATADIR}/applications/${ZARV_APP_ID}.desktop")
configure_file("${ZARV_SOURCE_DIR}/packaging/${ZARV_APP_ID}.desktop.in" "$ENV{DESTDIR}${entry}" @ONLY)
zarv_installed("${entry}")

# The manual page, compressed without a name or time in the gzip header, so
# that two builds give the same bytes
set(page "${ZARV_STAGING}/zarv.6")
configure_file("${ZARV_SOURCE_DIR}/packaging/zarv.6.in" "${page}" @ONLY)
zarv_full_path(man "${ZARV_MANDIR}/man6/zarv.6.gz")
get_filename_component(man_folder "$ENV{DESTDIR}${man}" DIRECTORY)
file(MAKE_DIRECTORY "${man_folder}")
execute_process(COMMAND gzip -9 -n -c "${page}" OUTPUT_FILE "$ENV{DESTDIR}${man}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip could not compress the manual page")
endif()
zarv_installed("${man}")

# The font: a link to the system's copy. Debian wants a link within one
# top-level folder relative (/usr/share/games/zarv -> ../../fonts/...) and
# one across them absolute (a prefix in /opt or the home folder).
if(ZARV_FONT_LINK)
  zarv_full_path(data "${ZARV_GAMEDATADIR}")
  string(REGEX MATCH "^/[^/]*" data_top "${data}")
  string(REGEX MATCH "^/[^/]*" font_top "${ZARV_FONT_LINK}")
  if(data_top STREQUAL font_top)
    file(RELATIVE_PATH target "${data}" "${ZARV_FONT_LINK}")
  else()
    set(target "${ZARV_FONT_LINK}")
  endif()
  file(MAKE_DIRECTORY "$ENV{DESTDIR}${data}")
  file(REMOVE "$ENV{DESTDIR}${data}/segoeui.ttf")
  file(CREATE_LINK "${target}" "$ENV{DESTDIR}${data}/segoeui.ttf" SYMBOLIC)
  zarv_installed("${data}/segoeui.ttf")
endif()
