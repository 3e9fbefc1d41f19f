# Third-party sources that the build makes itself at configure time: each is
# an official release, pinned by its SHA-256, or a copy of it on this machine
# named by a setting, for a build without internet.

function(zarv_source_fail text)
  message(FATAL_ERROR "Zarv: ${text}")
endfunction()

# Sets <var> to the unpacked source folder of the release at <url>: the copy
# that the setting <setting> names (an archive or an unpacked folder, by its
# absolute path), or else the release downloaded into <work> and checked
# against <sha256>. The archive unpacks into <work>/source.
function(zarv_pinned_source var setting url sha256 work)
  set(archive "${${setting}}")
  if(archive AND NOT IS_ABSOLUTE "${archive}")
    zarv_source_fail("${setting} is '${archive}': give its absolute path")
  endif()
  if(archive AND IS_DIRECTORY "${archive}")
    set(${var} "${archive}" PARENT_SCOPE)
    return()
  endif()
  if(archive)
    if(NOT EXISTS "${archive}")
      zarv_source_fail("${setting} names ${archive}, which does not exist")
    endif()
  else()
    get_filename_component(name "${url}" NAME)
    set(archive "${work}/${name}")
    file(DOWNLOAD "${url}" "${archive}" STATUS status)
    list(GET status 0 code)
    if(NOT code EQUAL 0)
      file(REMOVE "${archive}")
      zarv_source_fail("could not download ${url}; without internet, name a copy of it in ${setting}")
    endif()
    file(SHA256 "${archive}" hash)
    if(NOT hash STREQUAL sha256)
      file(REMOVE "${archive}")
      zarv_source_fail("${url} has SHA-256 ${hash}, not ${sha256}")
    endif()
  endif()
  set(unpacked "${work}/source")
  file(REMOVE_RECURSE "${unpacked}")
  file(MAKE_DIRECTORY "${unpacked}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${archive}" WORKING_DIRECTORY "${unpacked}"
                  RESULT_VARIABLE failed)
  file(GLOB top LIST_DIRECTORIES true "${unpacked}/*")
  list(LENGTH top count)
  if(failed OR NOT count EQUAL 1 OR NOT IS_DIRECTORY "${top}")
    zarv_source_fail("${archive} does not unpack to one folder of source")
  endif()
  set(${var} "${top}" PARENT_SCOPE)
endfunction()

# Runs a command, appending what it prints to <log>; on failure shows the end
# of that and stops: "<what> <name> failed".
function(zarv_run_logged log what)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE failed)
  file(APPEND "${log}" "${output}")
  if(failed)
    string(LENGTH "${output}" length)
    if(length GREATER 3000)
      math(EXPR start "${length} - 3000")
      string(SUBSTRING "${output}" ${start} -1 output)
    endif()
    message("${output}")
    zarv_source_fail("${what} failed; the whole log is ${log}")
  endif()
endfunction()
