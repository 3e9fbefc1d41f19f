# SFML 2 for the game: the system's, where it has one from 2.5 on; otherwise
# (none at all, or only SFML 3, whose API differs) and always for Windows, the
# pinned SFML 2 release, built here from its official source and linked
# statically. Either way the targets are SFML's own imported ones,
# sfml-graphics and the rest.

set(ZARV_SFML_PINNED_VERSION 2.6.2)
set(zarv_sfml_url "https://www.sfml-dev.org/files/SFML-${ZARV_SFML_PINNED_VERSION}-sources.zip")
set(zarv_sfml_sha256 19d6dbd9c901c74441d9888c13cb1399f614fe8993d59062a72cfbceb00fed04)

option(ZARV_PINNED_SFML
       "Build SFML ${ZARV_SFML_PINNED_VERSION} from its source even where the system has SFML 2" OFF)
set(ZARV_SFML_SOURCE "$ENV{ZARV_SFML_SOURCE}" CACHE PATH
    "A copy of SFML ${ZARV_SFML_PINNED_VERSION}'s source (.zip, .tar.gz or unpacked folder), for a build without internet")

if(EMSCRIPTEN)
  include(cmake/WebSFML.cmake)
  return()
endif()

if(NOT WIN32 AND NOT ZARV_PINNED_SFML)
  find_package(SFML 2.5 QUIET COMPONENTS graphics window audio system)
  if(SFML_FOUND)
    message(STATUS "Zarv: SFML ${SFML_VERSION} from the system")
    return()
  endif()
endif()

if(WIN32)
  set(zarv_sfml_why "as for every Windows build")
elseif(ZARV_PORTABLE)
  set(zarv_sfml_why "as for the portable Linux folder")
elseif(ZARV_PINNED_SFML)
  set(zarv_sfml_why "as ZARV_PINNED_SFML asks")
else()
  set(zarv_sfml_why "as this system has no SFML 2 of 2.5 or later")
endif()
message(STATUS "Zarv: SFML ${ZARV_SFML_PINNED_VERSION} built from its source and linked statically, ${zarv_sfml_why}")
set(ZARV_SFML_LINKED_IN ON)

include(cmake/PinnedSource.cmake)

# Built once for every build tree with the same compiler, toolchain and options
set(zarv_sfml_openal "")
if(ZARV_PORTABLE)
  set(zarv_sfml_openal "${OpenAL_LIB}") # SFML's config, once read, sets it elsewhere too
endif()
zarv_cache_folder(zarv_sfml sfml-${ZARV_SFML_PINNED_VERSION} "${CMAKE_CURRENT_LIST_FILE}" ${zarv_sfml_sha256}
                  "${ZARV_PORTABLE}" "${zarv_sfml_openal}")
set(zarv_sfml_prefix "${zarv_sfml}/install")
set(zarv_sfml_log "${zarv_sfml}/build.log")

if(NOT EXISTS "${zarv_sfml_prefix}/stamp")
  file(REMOVE_RECURSE "${zarv_sfml}")
  file(MAKE_DIRECTORY "${zarv_sfml}")
  file(WRITE "${zarv_sfml_log}" "")
  zarv_pinned_source(ZARV_SFML_SOURCE_DIR ZARV_SFML_SOURCE "${zarv_sfml_url}" ${zarv_sfml_sha256} "${zarv_sfml}")

  file(STRINGS "${ZARV_SFML_SOURCE_DIR}/CMakeLists.txt" parts REGEX "^set\\(VERSION_(MAJOR|MINOR|PATCH) [0-9]+\\)")
  string(REGEX REPLACE "set\\(VERSION_[A-Z]+ ([0-9]+)\\)" "\\1" parts "${parts}")
  string(REPLACE ";" "." version "${parts}")
  if(NOT version STREQUAL ZARV_SFML_PINNED_VERSION)
    zarv_source_fail("${ZARV_SFML_SOURCE} holds SFML '${version}', not ${ZARV_SFML_PINNED_VERSION}")
  endif()

  set(options -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON
              -DSFML_BUILD_NETWORK=OFF -DCMAKE_INSTALL_PREFIX=${zarv_sfml_prefix} -DCMAKE_INSTALL_LIBDIR=lib
              -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER})
  if(CMAKE_TOOLCHAIN_FILE)
    list(APPEND options -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE})
  endif()
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    # SFML's find rules look in its own extlibs, which the cross build's find roots
    # hide unless its source is one; FindOpenAL does not know MinGW's file name.
    list(APPEND options -DCMAKE_FIND_ROOT_PATH=${ZARV_SFML_SOURCE_DIR}
                        -DOPENAL_LIBRARY=${ZARV_SFML_SOURCE_DIR}/extlibs/libs-mingw/x64/libopenal32.a)
  elseif(NOT WIN32 AND NOT APPLE)
    # The system's FreeType, OpenAL, Vorbis and FLAC, whose libraries the game then links;
    # for the portable build, the OpenAL Soft built beside it
    list(APPEND options -DSFML_USE_SYSTEM_DEPS=ON)
    if(ZARV_PORTABLE)
      list(APPEND options -DOPENAL_LIBRARY=${OpenAL_LIB} -DOPENAL_INCLUDE_DIR=${ZARV_OPENAL_INCLUDE_DIR})
    endif()
  endif()
  cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
  set(sfml "SFML ${ZARV_SFML_PINNED_VERSION}")
  zarv_run_logged("${zarv_sfml_log}" "Configuring ${sfml}" ${CMAKE_COMMAND} -S "${ZARV_SFML_SOURCE_DIR}"
                  -B "${zarv_sfml}/build" -G "${CMAKE_GENERATOR}" ${options})
  zarv_run_logged("${zarv_sfml_log}" "Building ${sfml}"
                  ${CMAKE_COMMAND} --build "${zarv_sfml}/build" --parallel ${cores} --target install)
  if(NOT WIN32 AND NOT APPLE)
    # On ELF, static constructors run in link order, where SFML's objects come
    # after the game's: SFML's own process-wide objects (the mutexes its GL and
    # sound resources are counted under) would be built after the game's window
    # and sounds, which need them. Given a priority, they are built first, as
    # they are when SFML is a shared library.
    file(GLOB archives "${zarv_sfml_prefix}/lib/libsfml-*.a")
    foreach(archive IN LISTS archives)
      zarv_run_logged("${zarv_sfml_log}" "Ordering the static constructors of ${sfml}"
                      ${CMAKE_OBJCOPY} --rename-section .init_array=.init_array.00200 "${archive}")
    endforeach()
  endif()
  file(COPY "${ZARV_SFML_SOURCE_DIR}/license.md" DESTINATION "${zarv_sfml_prefix}")
  file(WRITE "${zarv_sfml_prefix}/stamp" "")
endif()
zarv_cache_done("${zarv_sfml}")

set(SFML_STATIC_LIBRARIES ON)
if(CMAKE_CROSSCOMPILING)
  list(APPEND CMAKE_FIND_ROOT_PATH "${zarv_sfml_prefix}") # for the libraries SFML's static config asks for
endif()
# SFML 2.6's static configuration links sfml-audio to OpenAL::OpenAL, but puts
# the OpenAL library it finds into a target named OpenAL, which it never makes
add_library(OpenAL INTERFACE IMPORTED)
add_library(OpenAL::OpenAL INTERFACE IMPORTED)
set_property(TARGET OpenAL::OpenAL PROPERTY INTERFACE_LINK_LIBRARIES OpenAL)
set(SFML_DIR "${zarv_sfml_prefix}/lib/cmake/SFML" CACHE PATH "SFML's CMake configuration" FORCE)
find_package(SFML ${ZARV_SFML_PINNED_VERSION} EXACT CONFIG REQUIRED COMPONENTS graphics window audio system)
