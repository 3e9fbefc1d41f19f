"""The game against spoiled assets, odd command lines, missing devices and a
memory checker: it plays and ends with status 0 on Escape, or says why it
cannot run at all."""

import ctypes
import ctypes.util
import os
import resource
import subprocess
import time

import pytest

from harness import SOURCE, read, wait_for, write
from harness.game import ASSETS
from harness.ear import MENU_HZ
from harness.screen import MAGENTA, WHITE, countdown_shown, highlighted_option, menu_shown, near, wait_for_menu

pytestmark = pytest.mark.long


VALGRIND = ["valgrind", "--log-file=valgrind.txt", "--leak-check=full", "--keep-debuginfo=yes", "--num-callers=30",
            "--suppressions=" + os.path.join(SOURCE, "tests", "valgrind.supp")]


@pytest.mark.game(wrapper=VALGRIND, deadline=600)  # Mesa's software renderer crawls under valgrind
def test_valgrind_session(game, say):
    started = time.monotonic()
    wait_for_menu(game)
    mark = game.recording.mark()
    game.press_until("s", "Player v Player highlighted", lambda: highlighted_option(game.screenshot()) == 2)
    game.recording.wait_for_sound(mark, MENU_HZ, "the menu sound")
    for option, key in ((2, None), (1, "w")):
        if key:
            game.press_until(key, "option %d highlighted" % option, lambda: highlighted_option(game.screenshot()) == option)
        game.press_until("Return", "the countdown", lambda: countdown_shown(game.screenshot()))
        wait_for("the serve", lambda: not near(game.screenshot().pixel(640, 360), MAGENTA)
                 and not countdown_shown(game.screenshot()), game.deadline)
        game.press_until("r", "the menu again", lambda: menu_shown(game.screenshot()))
    game.hold("Escape")
    assert game.exit_status() == 0, "did not exit 0 under valgrind"
    say("session under valgrind took %.0f s" % (time.monotonic() - started))
    report = read(os.path.join(game.folder, "valgrind.txt"))
    for problem in ("Process terminating", "Invalid read", "Invalid write", "Invalid free", "uninitialised value",
                    "Mismatched free"):
        assert problem not in report, "valgrind found '%s':\n%s" % (problem, report[-8000:])
    ours = [record for record in report.split("\n==") if "definitely lost" in record
            and any(mark in record for mark in ("/game/", "/arena/", "zarv)"))]
    assert not ours, "definite leaks in the game's own code:\n" + "\n".join(ours)


def plays(game):
    """The menu, the countdown and live play run, whether or not text or sound does."""
    wait_for_menu(game)
    game.press_until("Return", "the menu to go", lambda: not menu_shown(game.screenshot()))
    wait_for("the ball to be served", lambda: near(game.screenshot().pixel(640, 360), WHITE))


def truncated(path):
    write(path, read(path, "rb")[:os.path.getsize(path) // 2])


def wrong_kind(path):
    if path.endswith(".ttf"):  # an image where the font should be
        subprocess.run(["convert", "-size", "64x64", "xc:orange", "png:" + path], check=True)
    else:  # text where a sound should be
        write(path, "RIFF? no: these are words, not samples.\n" * 40)


SPOILERS = {"missing": os.remove, "empty": lambda path: write(path, ""), "truncated": truncated,
            "wrong_kind": wrong_kind}


@pytest.mark.parametrize("spoil", SPOILERS)
@pytest.mark.parametrize("asset", ASSETS)
def test_spoiled_asset(launch, asset, spoil):
    game = launch(tamper=lambda folder: SPOILERS[spoil](os.path.join(folder, asset)))
    plays(game)
    game.end()
    # SFML takes half a file without a word (a font's glyphs are read lazily, a
    # sound's samples up to the end); a missing, empty or foreign file it names.
    if spoil != "truncated":
        assert '"%s"' % asset in game.messages(), "SFML did not name %s on stderr" % asset


@pytest.mark.game(sound="unconfigured")
def test_no_sound_device(game):
    """Every sound call fails, and some SFML releases report each: the console
    gets a few lines, not a flood (the unit tests show the repeats counted)."""
    wait_for_menu(game)
    before = game.messages().count("\n")
    assert before > 0, "nothing said about the missing sound device"
    time.sleep(10)  # a while on the menu: a flood would be hundreds of lines a second
    added = game.messages().count("\n") - before
    assert added <= 5, "%d lines on stderr in ten seconds on the menu" % added
    plays(game)
    game.end()
    lines = game.messages().count("\n")  # the sound libraries' start-up lines among them
    assert lines <= 400, "%d lines on stderr in one session" % lines


@pytest.mark.game(args=["--help", "-x", "", "--fullscreen", "ünïcödé", "%s%n", "x" * 5000])
def test_odd_command_line(game):
    game.press_until("s", "the highlight to move", lambda: highlighted_option(game.screenshot()) == 2)
    plays(game)


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def send_close_request(display_name, window):
    """What a window manager sends when the close button is clicked."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(display_name.encode())
    assert display, "cannot reach the X server"
    event = XEvent()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = window
    event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


def test_close_button(game):
    wait_for_menu(game)
    send_close_request(game.env["DISPLAY"], int(game.window))
    assert game.exit_status() == 0, "closing the window did not end the game with status 0"


def test_no_display(target, scratch):
    """Without an X display: one line, and status 1 at once, not an abort with a core file."""
    env = dict(os.environ, ALSOFT_DRIVERS="null")
    env.pop("DISPLAY", None)

    def allow_core():  # so that an abort would leave its core file here
        resource.setrlimit(resource.RLIMIT_CORE, (resource.RLIM_INFINITY,) * 2)
    done = subprocess.run([target.path], cwd=scratch, env=env, capture_output=True, text=True, timeout=60,
                          preexec_fn=allow_core)
    assert done.returncode == 1, "without a display the game ended with status %d" % done.returncode
    assert done.stderr == "zarv: cannot open the game's window: no X display (DISPLAY is not set)\n", done.stderr
    assert not os.listdir(scratch), "files left in the working folder"
