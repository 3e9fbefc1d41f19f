// Preloaded (LD_PRELOAD) into a game to time its start-up. The first
// glXSwapBuffers is its first frame: once the X server has it, this writes
// CLOCK_MONOTONIC in nanoseconds to the file named by ZARV_FIRST_FRAME_FILE
// and ends the process, since nothing after that frame is being timed.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>

extern "C" void glXSwapBuffers(void* display, unsigned long drawable)
{
    using Swap = void (*)(void*, unsigned long);
    using Sync = int (*)(void*, int);
    // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast): dlsym hands out untyped pointers
    const auto realSwap = reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "glXSwapBuffers"));
    const auto sync = reinterpret_cast<Sync>(dlsym(RTLD_DEFAULT, "XSync"));
    // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
    realSwap(display, drawable);
    if (sync != nullptr)
        sync(display, 0);

    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (const char* path = std::getenv("ZARV_FIRST_FRAME_FILE"))
        std::ofstream(path) << static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec << '\n';
    _exit(0);
}
