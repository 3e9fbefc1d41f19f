# The portable Linux build's libraries. What desktops do not all have goes
# into the game (SFML, FreeType, Ogg, Vorbis, FLAC and what they need, and
# the C++ runtime) or beside it (OpenAL Soft, whose LGPL lets a player swap
# it); the game then needs only what every desktop has. Built on the oldest
# system it is to run on, it runs on that system's glibc and every later one.

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  message(FATAL_ERROR "ZARV_PORTABLE makes the portable Linux folder: it builds for Linux only")
endif()
set(ZARV_PINNED_SFML ON)
include(cmake/PinnedSource.cmake)

# OpenAL Soft, as Debian ships it (the release's own source), built here with
# only the backends it opens at run time: PulseAudio, which PipeWire desktops
# serve too, and ALSA; and the wave writer and null outputs, which need nothing
set(ZARV_OPENAL_PINNED_VERSION 1.24.2)
set(zarv_openal_url
    "https://deb.debian.org/debian/pool/main/o/openal-soft/openal-soft_${ZARV_OPENAL_PINNED_VERSION}.orig.tar.gz")
set(zarv_openal_sha256 7efd383d70508587fbc146e4c508771a2235a5fc8ae05bf6fe721c20a348bd7c)
set(ZARV_OPENAL_SOURCE "$ENV{ZARV_OPENAL_SOURCE}" CACHE PATH
    "A copy of OpenAL Soft ${ZARV_OPENAL_PINNED_VERSION}'s source (.tar.gz or unpacked folder), for a build without internet")

zarv_cache_folder(zarv_openal openal-${ZARV_OPENAL_PINNED_VERSION} "${CMAKE_CURRENT_LIST_FILE}"
                  ${zarv_openal_sha256})
set(zarv_openal_prefix "${zarv_openal}/install")
set(zarv_openal_log "${zarv_openal}/build.log")
if(NOT EXISTS "${zarv_openal_prefix}/stamp")
  message(STATUS "Zarv: building OpenAL Soft ${ZARV_OPENAL_PINNED_VERSION} to ship beside the game")
  file(REMOVE_RECURSE "${zarv_openal}")
  file(MAKE_DIRECTORY "${zarv_openal}")
  file(WRITE "${zarv_openal_log}" "")
  zarv_pinned_source(source ZARV_OPENAL_SOURCE "${zarv_openal_url}" ${zarv_openal_sha256} "${zarv_openal}")
  string(FIND "${source}" "${zarv_openal}/source/" at)
  if(NOT at EQUAL 0)  # a folder of the builder's own: mend a copy
    file(REMOVE_RECURSE "${zarv_openal}/source")
    file(COPY "${source}" DESTINATION "${zarv_openal}/source")
    get_filename_component(name "${source}" NAME)
    set(source "${zarv_openal}/source/${name}")
  endif()
  # It asks for C17 for its C examples alone, which are not built; CMake
  # before 3.21 knows no C17 and refuses to generate them
  file(READ "${source}/CMakeLists.txt" text)
  string(REPLACE "C_STANDARD 17)" "C_STANDARD 11)" text "${text}")
  file(WRITE "${source}/CMakeLists.txt" "${text}")

  set(options -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=${zarv_openal_prefix} -DCMAKE_INSTALL_LIBDIR=lib
              -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
              "-DCMAKE_SHARED_LINKER_FLAGS=-static-libstdc++ -static-libgcc -s"
              -DALSOFT_REQUIRE_PULSEAUDIO=ON -DALSOFT_REQUIRE_ALSA=ON
              -DALSOFT_BACKEND_PIPEWIRE=OFF -DALSOFT_BACKEND_JACK=OFF -DALSOFT_BACKEND_PORTAUDIO=OFF
              -DALSOFT_BACKEND_OSS=OFF -DALSOFT_BACKEND_SNDIO=OFF -DALSOFT_BACKEND_SOLARIS=OFF -DALSOFT_RTKIT=OFF
              -DALSOFT_UTILS=OFF -DALSOFT_EXAMPLES=OFF -DALSOFT_TESTS=OFF -DALSOFT_EMBED_HRTF_DATA=OFF
              -DALSOFT_INSTALL_CONFIG=OFF -DALSOFT_INSTALL_HRTF_DATA=OFF -DALSOFT_INSTALL_AMBDEC_PRESETS=OFF
              -DALSOFT_UPDATE_BUILD_VERSION=OFF)
  if(CMAKE_TOOLCHAIN_FILE)
    list(APPEND options -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE})
  endif()
  set(openal "OpenAL Soft ${ZARV_OPENAL_PINNED_VERSION}")
  cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
  zarv_run_logged("${zarv_openal_log}" "Configuring ${openal}" ${CMAKE_COMMAND} -S "${source}"
                  -B "${zarv_openal}/build" -G "${CMAKE_GENERATOR}" ${options})
  zarv_run_logged("${zarv_openal_log}" "Building ${openal}"
                  ${CMAKE_COMMAND} --build "${zarv_openal}/build" --parallel ${cores} --target install)
  # Its licence, and those of the code it carries (pffft, fmt)
  file(GLOB notices "${source}/BSD-3Clause" "${source}/LICENSE-pffft" "${source}/fmt-*/LICENSE")
  file(COPY "${source}/COPYING" ${notices} DESTINATION "${zarv_openal_prefix}/licence")
  file(WRITE "${zarv_openal_prefix}/stamp" "")
endif()
zarv_cache_done("${zarv_openal}")
set(OpenAL_LIB "${zarv_openal_prefix}/lib/libopenal.so" CACHE FILEPATH "OpenAL Soft, shipped beside the game" FORCE)
set(ZARV_OPENAL_INCLUDE_DIR "${zarv_openal_prefix}/include/AL")

# The static libraries that each library SFML names stands for, with the ones
# they need in turn, as pkg-config lists them; glibc's stay shared. SFML's
# static configuration takes these settings as they are.
find_package(PkgConfig REQUIRED)
find_library(OpenGL_LIB NAMES GL REQUIRED) # libGL.so.1, not GLVND's libOpenGL, which older desktops lack
set(ZARV_PORTABLE_ARCHIVES "")
foreach(binding FreeType:freetype2 VorbisFile:vorbisfile VorbisEnc:vorbisenc Vorbis:vorbis Ogg:ogg FLAC:flac)
  string(REPLACE ":" ";" binding "${binding}")
  list(GET binding 0 name)
  list(GET binding 1 module)
  pkg_check_modules(zarv_${module} REQUIRED QUIET ${module})
  set(libraries "")
  foreach(library IN LISTS zarv_${module}_STATIC_LIBRARIES)
    if(library MATCHES "^(m|dl|pthread|rt)$")
      list(APPEND libraries ${library})
    else()
      find_library(zarv_lib${library}_a NAMES lib${library}.a HINTS ${zarv_${module}_STATIC_LIBRARY_DIRS} REQUIRED)
      list(APPEND libraries ${zarv_lib${library}_a})
      list(APPEND ZARV_PORTABLE_ARCHIVES ${zarv_lib${library}_a})
    endif()
  endforeach()
  set(${name}_LIB "${libraries}" CACHE STRING "What SFML's ${name} stands for: static libraries" FORCE)
endforeach()
list(REMOVE_DUPLICATES ZARV_PORTABLE_ARCHIVES)
