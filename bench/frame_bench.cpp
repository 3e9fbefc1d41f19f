// Whole frames and key polling with the real SFML, under an X server (Xvfb):
// the game's own runFrame() on the menu and in live play, against a bare
// window of the same size and context settings that only clears and displays,
// and the parts of a frame timed on their own to tell where the time goes.
// Run in the build folder, beside the game's font and sounds.
//
// Usage: zarv_frame_bench [rounds], on a screen of at least 2560 x 1440 so
// that no window covers another. Prints "info KEY VALUE" and
// "sample NAME MEDIAN_MS P99_MS MEAN_MS COUNT" lines.

#include "game/frame.hpp"
#include "game/game_state.hpp"

#include <SFML/OpenGL.hpp>
#include <SFML/Window/Context.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace
{

using Key = sf::Keyboard;
using Clock = std::chrono::steady_clock;

std::map<std::string, std::vector<double>> samples; // milliseconds

void timeOnce(const std::string& name, const std::function<void()>& work)
{
    const Clock::time_point start = Clock::now();
    work();
    const std::chrono::duration<double, std::milli> spent = Clock::now() - start;
    samples[name].push_back(spent.count());
}

// A block's first call is not kept: it pays for what the game does not do
// every frame, such as switching GL contexts between windows or changing a
// text's string.
void timeBlock(const std::string& name, int frames, const std::function<void()>& work)
{
    work();
    for (int i = 0; i < frames; ++i)
        timeOnce(name, work);
}

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::lround(fraction * static_cast<double>(values.size() - 1)));
    return values[index];
}

void printSamples()
{
    for (const auto& [name, values] : samples)
    {
        double sum = 0.0;
        for (double value : values)
            sum += value;
        std::printf("sample %s %.6f %.6f %.6f %zu\n", name.c_str(), percentile(values, 0.5), percentile(values, 0.99),
                    sum / static_cast<double>(values.size()), values.size());
    }
}

// A "Player v CPU" game in play. After a miss the game counts down again:
// skipping that keeps every timed frame a live one.
void armLivePlay()
{
    inMenu = 0;
    twoPlayer = 0;
    ballLive = 1;
    countdown = 0;
}

void liveGameFrame()
{
    runFrame();
    if (ballLive == 0)
        armLivePlay();
}

// What runFrame() asks of the X server besides drawing: the events, then the
// keys a live "Player v CPU" frame reads (W, Up, S, Down) or a menu frame
// reads (the same and Return).
void pollEvents()
{
    sf::Event event{};
    while (window.pollEvent(event))
        handleEvent(event);
}

void pollLiveFrame()
{
    pollEvents();
    for (Key::Key key : {Key::W, Key::Up, Key::S, Key::Down})
        static_cast<void>(Key::isKeyPressed(key));
}

void pollMenuFrame()
{
    pollEvents();
    for (Key::Key key : {Key::W, Key::Up, Key::S, Key::Down, Key::Return})
        static_cast<void>(Key::isKeyPressed(key));
}

// The texts runFrame() sets every frame, with the game's own objects.
void updateTexts(const char* hint)
{
    hintText.setString(hint);
    blueScoreText.setString(formatInt(blueScore));
    redScoreText.setString(formatInt(redScore));
    placeRedScore();
}

// runFrame()'s draw calls, in its order, without its logic; display() apart,
// since llvmpipe defers the rasterising to the swap.
void drawLive()
{
    window.clear(Backdrop);
    window.draw(arena);
    window.draw(blueScoreText);
    window.draw(redScoreText);
    window.draw(ball);
    window.draw(bluePaddle);
    window.draw(redPaddle);
    window.draw(hintText);
}

void drawMenu()
{
    drawLive();
    window.draw(menuBox);
    window.draw(cpuOptionText);
    window.draw(pvpOptionText);
}

void timeDrawAndDisplay(const std::string& name, int frames, void (*draw)())
{
    draw();
    window.display();
    for (int i = 0; i < frames; ++i)
    {
        timeOnce(name + "_draw_calls", draw);
        timeOnce(name + "_display", [] { window.display(); });
    }
}

// All that a bare window does in a frame
void clearAndDisplay(sf::RenderWindow& target)
{
    target.clear(Backdrop);
    target.display();
}

void printInfo(const char* key, const std::string& value)
{
    std::printf("info %s %s\n", key, value.c_str());
}

// Looked up through SFML, as its own GL calls are, so that nothing here links libGL.
// NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast): GL hands out untyped pointers
std::string glString(GLenum name)
{
    using GetString = const GLubyte* (*)(GLenum);
    const auto getString = reinterpret_cast<GetString>(sf::Context::getFunction("glGetString"));
    const auto* text = getString != nullptr ? reinterpret_cast<const char*>(getString(name)) : nullptr;
    return text != nullptr ? text : "unknown";
}
// NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    constexpr int FramesPerBlock = 20;
    constexpr int KeyCallsPerBlock = 100;

    // Start-up as the game goes through it, less what static initialisation
    // did before main (SFML's shared GL context, the OpenAL device)
    timeOnce("startup_setup_scene", setupScene);
    timeOnce("startup_first_frame", runFrame);
    window.setPosition(sf::Vector2i(0, 0));

    // Bare windows beside the game's, so that none covers another: one with
    // the game's settings, and one without antialiasing to show what that costs
    sf::ContextSettings settings;
    settings.antialiasingLevel = 8;
    sf::RenderWindow bare;
    timeOnce("startup_open_bare_window",
             [&] { bare.create(sf::VideoMode(1280, 720, 32), sf::String("Bare"), sf::Style::Close, settings); });
    bare.setVerticalSyncEnabled(true);
    bare.setPosition(sf::Vector2i(1280, 0));
    sf::RenderWindow plain;
    timeOnce("startup_open_plain_window",
             [&] { plain.create(sf::VideoMode(1280, 720, 32), sf::String("Plain"), sf::Style::Close); });
    plain.setVerticalSyncEnabled(true);
    plain.setPosition(sf::Vector2i(0, 720));

    static_cast<void>(window.setActive(true));
    printInfo("renderer", glString(GL_RENDERER));
    printInfo("gl_version", glString(GL_VERSION));
    printInfo("game_antialiasing", std::to_string(window.getSettings().antialiasingLevel));
    printInfo("bare_antialiasing", std::to_string(bare.getSettings().antialiasingLevel));
    printInfo("plain_antialiasing", std::to_string(plain.getSettings().antialiasingLevel));
    printInfo("rounds", std::to_string(rounds));

    // Past the first frames, which load glyphs and compile llvmpipe's shaders
    for (int i = 0; i < 30; ++i)
        runFrame();
    armLivePlay();
    for (int i = 0; i < 30; ++i)
        liveGameFrame();

    // Interleaved rounds: whatever else the machine is doing falls on all alike
    for (int round = 0; round < rounds && window.isOpen(); ++round)
    {
        armLivePlay();
        timeBlock("game_live_frame", FramesPerBlock, liveGameFrame);
        inMenu = 1;
        timeBlock("game_menu_frame", FramesPerBlock, runFrame);
        timeBlock("bare_frame", FramesPerBlock, [&bare] { clearAndDisplay(bare); });
        timeBlock("bare_frame_no_antialiasing", FramesPerBlock, [&plain] { clearAndDisplay(plain); });

        timeDrawAndDisplay("live", FramesPerBlock, drawLive);
        timeDrawAndDisplay("menu", FramesPerBlock, drawMenu);
        timeBlock("live_text_updates", FramesPerBlock, [] { updateTexts("[R] to return"); });
        timeBlock("menu_text_updates", FramesPerBlock, [] { updateTexts("[Esc] to quit"); });
        timeBlock("live_key_polling", FramesPerBlock, pollLiveFrame);
        timeBlock("menu_key_polling", FramesPerBlock, pollMenuFrame);
        timeBlock("poll_events", FramesPerBlock, pollEvents);
        timeBlock("is_key_pressed", KeyCallsPerBlock, [] { static_cast<void>(Key::isKeyPressed(Key::W)); });
    }

    // What the game's own frames would cost without antialiasing: its window
    // opened again as the plain one is, everything else as it was
    window.create(sf::VideoMode(1280, 720, 32), sf::String("Zarv"), sf::Style::Close);
    window.setPosition(sf::Vector2i(0, 0));
    for (int round = 0; round < rounds && window.isOpen(); ++round)
    {
        armLivePlay();
        timeBlock("game_live_frame_no_antialiasing", FramesPerBlock, liveGameFrame);
        inMenu = 1;
        timeBlock("game_menu_frame_no_antialiasing", FramesPerBlock, runFrame);
        timeBlock("bare_frame_no_antialiasing", FramesPerBlock, [&plain] { clearAndDisplay(plain); });
    }

    printSamples();
    return window.isOpen() ? 0 : 1;
}
