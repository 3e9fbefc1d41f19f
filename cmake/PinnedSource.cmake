# Third-party sources that the build makes itself at configure time: each is
# an official release, pinned by its SHA-256, or a copy of it on this machine
# named by a setting, for a build without internet. What they build into, and
# the archives downloaded, are kept in one cache for every build tree of the
# machine: each library is built once for each compiler, toolchain and set of
# options, and each archive fetched once.

include_guard(GLOBAL)

function(zarv_source_fail text)
  message(FATAL_ERROR "Zarv: ${text}")
endfunction()

if(DEFINED ENV{ZARV_CACHE_DIR})
  set(zarv_default_cache "$ENV{ZARV_CACHE_DIR}")
elseif(IS_ABSOLUTE "$ENV{XDG_CACHE_HOME}")
  set(zarv_default_cache "$ENV{XDG_CACHE_HOME}/zarv")
elseif(IS_DIRECTORY "$ENV{HOME}")
  set(zarv_default_cache "$ENV{HOME}/.cache/zarv")
else()
  set(zarv_default_cache "${CMAKE_BINARY_DIR}/_deps")
endif()
set(ZARV_CACHE_DIR "${zarv_default_cache}" CACHE PATH
    "Where the pinned libraries are built and their sources kept, for every build tree of this machine")
if(NOT IS_ABSOLUTE "${ZARV_CACHE_DIR}")
  zarv_source_fail("ZARV_CACHE_DIR is '${ZARV_CACHE_DIR}': give its absolute path")
endif()

# Sets <var> to the cache's folder for <name> built by the CMake file
# <recipe> with this build's compiler and toolchain file and the rest of the
# arguments (every other input that changes what it builds into), and holds
# that folder's lock until zarv_cache_done(<var>): another build tree
# configuring at the same time waits for it, up to an hour.
function(zarv_cache_folder var name recipe)
  file(SHA256 "${recipe}" recipe_hash)
  set(toolchain_hash "")
  if(CMAKE_TOOLCHAIN_FILE)
    file(SHA256 "${CMAKE_TOOLCHAIN_FILE}" toolchain_hash)
  endif()
  string(SHA256 key "${ARGN} ${recipe_hash} ${toolchain_hash} ${CMAKE_GENERATOR} ${CMAKE_CXX_COMPILER} \
${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}")
  string(SUBSTRING "${key}" 0 16 key)
  set(folder "${ZARV_CACHE_DIR}/${name}-${key}")
  file(MAKE_DIRECTORY "${ZARV_CACHE_DIR}")
  file(LOCK "${folder}.lock" GUARD PROCESS TIMEOUT 3600 RESULT_VARIABLE locked)
  if(NOT locked EQUAL 0)
    zarv_source_fail("could not lock ${folder}.lock within an hour: ${locked}")
  endif()
  set(${var} "${folder}" PARENT_SCOPE)
endfunction()

function(zarv_cache_done folder)
  file(LOCK "${folder}.lock" RELEASE)
endfunction()

# Downloads <url> into <archive> and checks its SHA-256, trying three times,
# each try given up after 60 s without data or 10 minutes in all
function(zarv_download url archive sha256 setting)
  foreach(attempt 1 2 3)
    file(DOWNLOAD "${url}" "${archive}.part" STATUS status TIMEOUT 600 INACTIVITY_TIMEOUT 60)
    list(GET status 0 code)
    list(GET status 1 status)
    if(code EQUAL 0)
      file(SHA256 "${archive}.part" hash)
      if(hash STREQUAL sha256)
        file(RENAME "${archive}.part" "${archive}")
        return()
      endif()
      set(status "SHA-256 ${hash}, not ${sha256}")
    endif()
    file(REMOVE "${archive}.part")
    message(STATUS "Zarv: try ${attempt} of 3 to download ${url} failed: ${status}")
    if(NOT attempt EQUAL 3)
      execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 10)
    endif()
  endforeach()
  zarv_source_fail("could not download ${url} into ${archive} (${status}); without internet, name a copy of it in ${setting}")
endfunction()

# Sets <var> to the unpacked source folder of the release at <url>: the copy
# that the setting <setting> names (an archive or an unpacked folder, by its
# absolute path), or else the release downloaded into the cache's sources/
# once and checked against <sha256>. The archive unpacks into <work>/source.
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
    set(archive "${ZARV_CACHE_DIR}/sources/${name}")
    zarv_cache_folder(lock "source" "${CMAKE_CURRENT_FUNCTION_LIST_FILE}" "${url}")
    set(hash "")
    if(EXISTS "${archive}")
      file(SHA256 "${archive}" hash)
    endif()
    if(NOT hash STREQUAL sha256)
      file(REMOVE "${archive}")
      file(MAKE_DIRECTORY "${ZARV_CACHE_DIR}/sources")
      zarv_download("${url}" "${archive}" ${sha256} ${setting})
    endif()
    zarv_cache_done("${lock}")
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
