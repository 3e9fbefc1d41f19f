#include "game/console.hpp"

#include <SFML/System/Err.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <streambuf>
#include <string>
#include <unordered_set>

#if !defined(_WIN32) && !defined(__APPLE__) && !defined(__EMSCRIPTEN__)
#include <X11/Xlib.h>
#endif

// Without a display SFML aborts inside the window's constructor, before main,
// leaving a core file. Windows always has a desktop and a page its canvas:
// nothing to check there.
void exitUnlessDisplayOpens()
{
#if !defined(_WIN32) && !defined(__APPLE__) && !defined(__EMSCRIPTEN__)
    if (Display* display = XOpenDisplay(nullptr))
    {
        XCloseDisplay(display);
        return;
    }
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        std::fputs("zarv: cannot open the game's window: no X display (DISPLAY is not set)\n", stderr);
    else
        std::fprintf(stderr, "zarv: cannot open the game's window: no X display at DISPLAY=%s\n", name);
    std::exit(1);
#endif
}

namespace
{

using ReportClock = std::chrono::steady_clock;
constexpr ReportClock::duration ReportEvery = std::chrono::minutes(1);

// A message is what SFML writes up to the flush of its std::endl. Without a
// sound device it reports a failed OpenAL call on every menu frame, hundreds
// of lines a second: each text is shown the first time, and after that only
// counted, with the count told at most once a minute and at exit.
class RepeatFilter : public std::streambuf
{
public:
    explicit RepeatFilter(std::streambuf* original) : original(original) {}

    RepeatFilter(const RepeatFilter&) = delete;
    RepeatFilter& operator=(const RepeatFilter&) = delete;
    RepeatFilter(RepeatFilter&&) = delete;
    RepeatFilter& operator=(RepeatFilter&&) = delete;

    // Static destruction: whatever SFML says after this goes straight out again.
    ~RepeatFilter() override
    {
        sf::err().rdbuf(original);
        RepeatFilter::sync();
        reportHeldBack();
    }

protected:
    int_type overflow(int_type character) override
    {
        if (!traits_type::eq_int_type(character, traits_type::eof()))
            pending += traits_type::to_char_type(character);
        return traits_type::not_eof(character);
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        pending.append(text, static_cast<std::size_t>(count));
        return count;
    }

    int sync() override
    {
        if (pending.empty())
            return 0;
        if (shown.insert(pending).second)
        {
            std::fwrite(pending.data(), 1, pending.size(), stderr);
            std::fflush(stderr);
        }
        else
        {
            ++heldBack;
            if (ReportClock::now() - lastReport >= ReportEvery)
                reportHeldBack();
        }
        pending.clear();
        return 0;
    }

private:
    void reportHeldBack()
    {
        if (heldBack != 0)
        {
            std::fprintf(stderr, "zarv: held back %llu repeats of the messages above\n", heldBack);
            std::fflush(stderr);
        }
        heldBack = 0;
        lastReport = ReportClock::now();
    }

    std::streambuf* original;
    std::string pending;
    std::unordered_set<std::string> shown;
    unsigned long long heldBack = 0;
    ReportClock::time_point lastReport = ReportClock::now();
};

} // namespace

void holdBackRepeatedErrors()
{
    // Built after SFML's own error stream, so destroyed before it.
    static RepeatFilter filter(sf::err().rdbuf());
    sf::err().rdbuf(&filter);
}
