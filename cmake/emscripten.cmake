# Builds for the browser with Emscripten (Debian's emscripten package):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/emscripten.cmake ...
# This is Emscripten's own toolchain file, wherever em-config says it is, with
# its programs run under Node (plain Node: emcmake would add an option for
# threads that Node 20 refuses). scripts/build-web uses it.

execute_process(COMMAND em-config EMSCRIPTEN_ROOT OUTPUT_VARIABLE zarv_emscripten_root
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE zarv_no_emscripten)
if(zarv_no_emscripten)
  message(FATAL_ERROR "No em-config here: install Emscripten (Debian's emscripten package)")
endif()
include("${zarv_emscripten_root}/cmake/Modules/Platform/Emscripten.cmake")
