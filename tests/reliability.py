#!/usr/bin/env python3
"""The real game against spoiled assets, odd command lines, missing devices and
a memory checker. Whatever happens, it must open, play, and end with status 0
on Escape, or, where it cannot run at all, end promptly and say why.

Usage: reliability.py path/to/zarv [case ...]
"""

import ctypes
import ctypes.util
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

from end_to_end import (ASSETS, MAGENTA, MENU_HZ, WHITE, Failure, Game, check, countdown_shown,
                        end_session, highlighted_option, keep_evidence, menu_shown, near, wait_for)

HERE = os.path.dirname(os.path.abspath(__file__))


# Ways to spoil an asset file

def missing(path):
    os.remove(path)


def empty(path):
    open(path, "w").close()


def truncated(path):
    with open(path, "rb") as f:
        data = f.read()
    with open(path, "wb") as f:
        f.write(data[:len(data) // 2])


def wrong_kind(path):
    if path.endswith(".ttf"):  # an image where the font should be
        subprocess.run(["convert", "-size", "64x64", "xc:orange", "png:" + path], check=True)
    else:  # text where a sound should be
        with open(path, "w") as f:
            f.write("RIFF? no: these are words, not samples.\n" * 40)


SPOILERS = [missing, empty, truncated, wrong_kind]


def plays(game):
    """Return starts a game and the ball leaves the centre: the menu, the
    countdown and live play all ran, whether or not text or sound did."""
    wait_for("the menu", lambda: menu_shown(game.screenshot()))
    game.press_until("Return", "the menu to go", lambda: not menu_shown(game.screenshot()))
    wait_for("the ball to be served", lambda: near(game.screenshot().pixel(640, 360), WHITE))


def spoiled_session(binary, asset, spoil):
    game = Game(binary, tamper=lambda folder: spoil(os.path.join(folder, asset)))
    name = "%s %s" % (spoil.__name__, asset)
    return name, game, lambda: check_spoiled(game, asset, spoil)


def check_spoiled(game, asset, spoil):
    plays(game)
    end_session(game)
    messages = game.messages()
    # SFML takes half a file without a word (a font's glyphs are read lazily, a
    # sound's samples up to the end); a missing, empty or foreign file it names.
    if spoil is not truncated:
        check('"%s"' % asset in messages, "SFML did not name %s on stderr:\n%s" % (asset, messages))


# Hostile environments

def no_sound_device(binary):
    """Every sound call fails then, and the menu re-pitches its sound on every
    frame. Some SFML releases report each failed call: whatever the release,
    the console gets a few lines, not a flood (the unit tests show the repeats
    counted instead)."""
    game = Game(binary, sound=False)

    def run():
        wait_for("the menu", lambda: menu_shown(game.screenshot()))
        before = game.messages().count("\n")
        check(before > 0, "nothing said about the missing sound device")
        time.sleep(10)  # a while on the menu: a flood would be hundreds of lines a second
        added = game.messages().count("\n") - before
        check(added <= 5, "%d lines on stderr in ten seconds on the menu" % added)
        plays(game)
        end_session(game)
        lines = game.messages().count("\n")  # the sound libraries' start-up lines among them
        check(lines <= 400, "%d lines on stderr in one session" % lines)
    return "no sound device", game, run


def odd_command_line(binary):
    args = ["--help", "-x", "", "--fullscreen", "ünïcödé", "%s%n", "x" * 5000]
    game = Game(binary, args=args)

    def run():
        game.press_until("s", "the highlight to move", lambda: highlighted_option(game.screenshot()) == 2)
        plays(game)
        end_session(game)
    return "command-line arguments", game, run


def close_button(binary):
    game = Game(binary)

    def run():
        wait_for("the menu", lambda: menu_shown(game.screenshot()))
        send_close_request(game.env["DISPLAY"], int(game.window))
        status = game.exit_status()
        check(status == 0, "closing the window ended the game with status %s" % status)
    return "WM_DELETE_WINDOW", game, run


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def send_close_request(display_name, window):
    """What a window manager sends when the close button is clicked."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    display = x11.XOpenDisplay(display_name.encode())
    check(display, "cannot reach the X server")
    event = XEvent()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = window
    event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


def check_no_display(binary):
    """Without an X display the game cannot open its window: one line says so,
    and it ends with status 1 at once, not by an abort with a core file."""
    folder = tempfile.mkdtemp(prefix="zarv-no-display-")
    env = dict(os.environ, ALSOFT_DRIVERS="null")
    env.pop("DISPLAY", None)

    def allow_core():  # so that an abort would leave its core file here
        resource.setrlimit(resource.RLIMIT_CORE, (resource.RLIM_INFINITY,) * 2)
    try:
        done = subprocess.run([binary], cwd=folder, env=env, capture_output=True, text=True,
                              timeout=60, preexec_fn=allow_core)
        left = os.listdir(folder)
    except subprocess.TimeoutExpired:
        raise Failure("the game hung without a display")
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    check(done.returncode == 1, "without a display the game ended with status %d" % done.returncode)
    check(done.stderr == "zarv: cannot open the game's window: no X display (DISPLAY is not set)\n",
          "not one clear line:\n" + done.stderr)
    check(not left, "files left in the working folder: %s" % left)


# A session under valgrind's memcheck

VALGRIND_OPTIONS = ["valgrind", "--log-file=valgrind.txt", "--leak-check=full", "--keep-debuginfo=yes",
                    "--num-callers=30", "--suppressions=" + os.path.join(HERE, "valgrind.supp")]


def under_valgrind(binary):
    game = Game(binary, wrapper=VALGRIND_OPTIONS)

    def run():
        # Mesa's software renderer crawls under valgrind: allow minutes per step.
        slow = 600
        started = time.monotonic()
        wait_for("the menu", lambda: menu_shown(game.screenshot()), slow)
        mark = game.recording.mark()
        game.press_until("s", "Player v Player highlighted",
                         lambda: highlighted_option(game.screenshot()) == 2, slow)
        game.recording.wait_for_sound(mark, MENU_HZ, "the menu sound")
        for option, key in ((2, None), (1, "w")):
            if key:
                game.press_until(key, "option %d highlighted" % option,
                                 lambda: highlighted_option(game.screenshot()) == option, slow)
            game.press_until("Return", "the countdown", lambda: countdown_shown(game.screenshot()), slow)
            wait_for("the serve", lambda: not near(game.screenshot().pixel(640, 360), MAGENTA)
                     and not countdown_shown(game.screenshot()), slow)
            game.press_until("r", "the menu again", lambda: menu_shown(game.screenshot()), slow)
        game.hold("Escape")
        check(game.exit_status(slow) == 0, "did not exit 0 under valgrind")
        print("  session under valgrind took %.0f s" % (time.monotonic() - started))

        report = open(os.path.join(game.folder, "valgrind.txt")).read()
        for problem in ("Process terminating", "Invalid read", "Invalid write", "Invalid free",
                        "uninitialised value", "Mismatched free"):
            check(problem not in report, "valgrind found '%s':\n%s" % (problem, report[-8000:]))
        ours = [record for record in report.split("\n==") if "definitely lost" in record
                and any(mark in record for mark in ("/game/", "/arena/", "zarv)"))]
        check(not ours, "definite leaks in the game's own code:\n" + "\n".join(ours))
    return "valgrind session", game, run


def sessions(binary):
    for asset in ASSETS:
        for spoil in SPOILERS:
            yield spoiled_session(binary, asset, spoil)
    yield odd_command_line(binary)
    yield no_sound_device(binary)
    yield close_button(binary)
    yield under_valgrind(binary)


def main():
    binary = os.path.abspath(sys.argv[1])
    wanted = sys.argv[2:]
    passed = failed = 0
    checks = [(name, game, run) for name, game, run in sessions(binary)]
    checks.append(("no display", None, lambda: check_no_display(binary)))
    for name, game, run in checks:
        if wanted and not any(w in name for w in wanted):
            continue
        started = time.monotonic()
        try:
            if game:
                game.start()
            run()
            passed += 1
            print("PASS %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
        except Exception as error:  # report every check, whatever went wrong
            failed += 1
            print("FAIL %s: %s" % (name, error), flush=True)
            if game:
                keep_evidence(game, name.replace(" ", "_"))
        finally:
            if game:
                game.stop()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
