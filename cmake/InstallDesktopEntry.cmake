# Runs at install time, when the prefix is known for sure (--prefix, or /usr
# for the package): the desktop entry starts the launcher by its full path, so
# that the menu finds it whether or not its folder is on the PATH.
# Set before it: ZARV_DESKTOP_IN, ZARV_DESKTOP_DIR, ZARV_DESKTOP_NAME, ZARV_LAUNCHER_DIR.

function(zarv_full_path var path)
  if(NOT IS_ABSOLUTE "${path}")
    get_filename_component(path "${CMAKE_INSTALL_PREFIX}/${path}" ABSOLUTE)
  endif()
  set(${var} "${path}" PARENT_SCOPE)
endfunction()

zarv_full_path(launcher "${ZARV_LAUNCHER_DIR}/zarv")
zarv_full_path(folder "${ZARV_DESKTOP_DIR}")

# Exec's own quoting: a path with anything but the plainest characters goes
# in double quotes, with " ` $ \ escaped, and then every \ doubled once more
# since the value is itself an escaped string.
set(ZARV_DESKTOP_EXEC "${launcher}")
if(NOT ZARV_DESKTOP_EXEC MATCHES "^[-A-Za-z0-9_./+,:=@]+$")
  string(REPLACE "\\" "\\\\" ZARV_DESKTOP_EXEC "${ZARV_DESKTOP_EXEC}")
  string(REPLACE "\"" "\\\"" ZARV_DESKTOP_EXEC "${ZARV_DESKTOP_EXEC}")
  string(REPLACE "`" "\\`" ZARV_DESKTOP_EXEC "${ZARV_DESKTOP_EXEC}")
  string(REPLACE "$" "\\$" ZARV_DESKTOP_EXEC "${ZARV_DESKTOP_EXEC}")
  string(REPLACE "\\" "\\\\" ZARV_DESKTOP_EXEC "\"${ZARV_DESKTOP_EXEC}\"")
endif()
string(REPLACE "%" "%%" ZARV_DESKTOP_EXEC "${ZARV_DESKTOP_EXEC}")

set(entry "$ENV{DESTDIR}${folder}/${ZARV_DESKTOP_NAME}")
message(STATUS "Installing: ${entry}")
configure_file("${ZARV_DESKTOP_IN}" "${entry}" @ONLY)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${folder}/${ZARV_DESKTOP_NAME}")
