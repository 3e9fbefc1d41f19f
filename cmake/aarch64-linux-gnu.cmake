# Cross-builds for 64-bit ARM Linux (arm64, aarch64) with Debian's cross
# compiler (g++-aarch64-linux-gnu) and its multiarch libraries, the arm64
# -dev packages installed beside this machine's own:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake ...
# Programs built for aarch64 run through qemu-aarch64-static, so the tests
# need no ARM machine and no binfmt registration.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)

# Multiarch keeps the arm64 libraries in the same root as the build machine's,
# under lib/aarch64-linux-gnu, which the library architecture above selects;
# pkg-config reads only their .pc files
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER) # build tools come from the host
