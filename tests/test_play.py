"""The game played end to end, with real key presses, screenshots and the
recorded mix, wherever a case's targets say."""

import os
import subprocess

import pytest

from harness import check, wait_for
from harness.ear import DETUNE, MENU_HZ, SOUND_FILES, START_HZ, STOP_HZ, BOUNCE_HZ, Recording, read_pcm, write_mix
from harness.screen import (BACKDROP, BLUE_OVER_WHITE, MAGENTA, MIST, RED_OVER_WHITE, STEEL, WHITE, countdown_shown,
                            first_point, highlighted_option, menu_shown, near, paddle_at, paddles_at, read_scores,
                            red_ball_seen, start_game, wait_for_menu)

# Wine's own Minesweeper: in every Wine, and S, Return and Escape leave it open
OTHER_WINDOWS_PROGRAM = r"C:\windows\system32\winemine.exe"


def test_overlapping_sounds_heard_apart(target, scratch):
    """The ear, on the game's sound files mixed by the harness: each alone at
    either end of the detune is heard as itself and no other; the stop sound
    is heard where it begins, 0 to 0.3 s into a start sound or inside three."""
    folder = os.path.dirname(target.path)
    pcm = {name: read_pcm(os.path.join(folder, name)) for name in SOUND_FILES.values()}
    start, stop = SOUND_FILES[START_HZ], SOUND_FILES[STOP_HZ]
    mixes = [[(name, pitch, 0)] for name in pcm for pitch in DETUNE]
    pitches = (DETUNE[0], 1, DETUNE[1])
    mixes += [[(start, pitches[i % 3], 0), (stop, pitches[(i + 1) % 3], i * 0.05)] for i in range(7)]
    mixes.append([(start, 1, 0), (start, 1, 0.3), (start, 1, 0.6), (stop, 1, 0.4)])
    path = os.path.join(scratch, "mixed.wav")
    for mix in mixes:
        write_mix(path, [(pcm[name], pitch, seconds) for name, pitch, seconds in mix])
        heard = Recording(path, folder, 0).sounds_since(0)
        assert len(heard) == len(mix) and all(any(name == n and abs(seconds - s) <= 0.03 for s, n in heard)
                                              for name, _, seconds in mix), "mixed %s, heard %s" % (mix, heard)


@pytest.mark.game(screen=(1920, 1080), place=False)
def test_window_title_size_and_place(game):
    """On a 1920 x 1080 screen, left where the game puts it."""
    assert game.xdotool("getwindowname", game.window).strip() == "Zarv"
    wait_for("the window centred on the screen, at (320, 180)",
             lambda: "Position: 320,180 " in game.xdotool("getwindowgeometry", game.window), game.deadline)
    assert "Geometry: 1280x720" in game.xdotool("getwindowgeometry", game.window)
    hints = subprocess.run(["xprop", "-id", game.window, "WM_NORMAL_HINTS"], env=game.env, capture_output=True,
                           text=True, check=True).stdout
    assert "minimum size: 1280 by 720" in hints and "maximum size: 1280 by 720" in hints, "the window can be resized"


def menu_looks_right(game):
    shot = wait_for_menu(game)
    assert near(shot.pixel(5, 5), BACKDROP), "backdrop is %s" % (shot.pixel(5, 5),)
    assert near(shot.pixel(640, 120), WHITE), "arena is %s" % (shot.pixel(640, 120),)
    assert near(shot.pixel(640, 360 - 350 - 3), STEEL, 12), "arena rim is not Steel"
    assert paddle_at(shot, BLUE_OVER_WHITE, 180), "the blue paddle is not on the left, above the middle"
    assert paddle_at(shot, RED_OVER_WHITE, 0), "the red paddle is not on the right, below the middle"
    assert near(shot.pixel(640, 200), WHITE), "something covers the top of the arena"
    assert near(shot.pixel(640, 360), MIST), "the ball shows over the menu box"
    assert highlighted_option(shot) == 1, "Player v CPU is not highlighted"
    assert shot.count(STEEL, (900, 630, 1190, 700)) > 300, "no hint at the bottom right"
    if game.web and not game.touch:
        assert game.evaluate("[...document.querySelectorAll('[data-key]')].every(c => !c.offsetParent)"), \
            "touch controls shown on a desktop with a mouse"


@pytest.mark.targets("desktop", "emulated", "wine", "page")
def test_menu_looks_right(game):
    menu_looks_right(game)


def keys_typed_elsewhere_do_nothing(game):
    """Another window takes the focus and gets S, Return and Escape, while the
    pointer crosses in and out of the game's window. Under Wine it is a Windows
    program's, closed by Alt+F4: with no window manager, Wine 10 ignores the X
    focus leaving the game for an X window, and the game is never told."""
    # By its full path the Windows program is the very process started, whose pid its window carries
    command = [game.wine_loader, OTHER_WINDOWS_PROGRAM] if game.wine else ["xmessage", "-geometry", "+0+0", "elsewhere"]
    other = subprocess.Popen(command, cwd=game.folder, env=game.env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    search = ["--pid", str(other.pid)] if game.wine else ["--class", "xmessage"]
    try:
        found = wait_for("another window", lambda: game.x.find_window(*search), game.start_deadline)
        game.xdotool("windowfocus", "--sync", found)
        for key in ("s", "Return", "Escape"):
            game.hold(key)
        for _ in range(10):  # into the game's window, then onto the other one
            game.xdotool("mousemove", "--sync", "640", "600")
            game.xdotool("mousemove", "--sync", "--window", found, "20", "20")
            shot = game.screenshot()
            assert menu_shown(shot) and highlighted_option(shot) == 1, "keys typed into another window reached the game"
        game.release_all()
        if game.wine:
            game.xdotool("key", "alt+F4")
            wait_for("the other program to close on Alt+F4", lambda: other.poll() is not None, game.start_deadline)
    finally:
        if other.poll() is None:
            other.kill()
        other.wait()
    wait_for("the focus back on the game", lambda: game.x.place(game.window), game.start_deadline)


def keys_typed_into_the_page_do_nothing(game):
    """A text box takes the focus with a real click and gets S, Return and
    Escape: the page says "click to play" and the game takes none of them; a
    click on the canvas gives it the focus back."""
    game.evaluate("(() => { const box = document.createElement('input'); box.id = 'elsewhere';"
                  " box.style = 'position: fixed; left: 0; top: 0'; document.body.appendChild(box); })()")
    game.command("click #elsewhere")
    wait_for('"click to play"', lambda: game.shown("click-to-play"), game.deadline)
    for key in ("s", "Return", "Escape"):
        game.hold(key)
    for _ in range(10):
        shot = game.screenshot()
        assert menu_shown(shot) and highlighted_option(shot) == 1, "keys typed into a text box reached the game"
    game.release_all()
    assert game.evaluate("document.getElementById('elsewhere').value") == "s", "the text box did not get its key"
    assert not game.shown("ended"), "Escape typed into a text box ended the game"
    game.command("click #canvas")
    wait_for('"click to play" to go', lambda: not game.shown("click-to-play"), game.deadline)


@pytest.mark.targets("desktop", "sanitized", "emulated", "wine", "page")
def test_menu_keys_sounds_and_screens(game):
    wait_for_menu(game)
    (keys_typed_into_the_page_do_nothing if game.web else keys_typed_elsewhere_do_nothing)(game)

    mark = game.recording.mark()
    game.press_until("s", "the highlight to move down", lambda: highlighted_option(game.screenshot()) == 2)
    game.recording.wait_for_sound(mark, MENU_HZ, "the menu sound")
    game.press_until("Up", "the highlight to move up", lambda: highlighted_option(game.screenshot()) == 1)

    # R comes as soon as the start sound begins, so that the start and stop
    # sounds overlap on every run, and is held until the stop sound begins: a
    # slow machine may still show the menu the game has just left.
    mark = game.recording.mark()
    game.press_until("Return", "the start sound to begin", lambda: game.recording.began(mark, START_HZ))
    stop_mark = game.recording.mark()
    game.press_until("r", "the stop sound to begin", lambda: game.recording.began(stop_mark, STOP_HZ))
    wait_for("the menu to come back", lambda: menu_shown(game.screenshot()), game.deadline)
    game.recording.wait_for_sound(mark, START_HZ, "the start sound")
    game.recording.wait_for_sound(stop_mark, STOP_HZ, "the stop sound")
    assert highlighted_option(game.screenshot()) == 1, "the highlight moved on R"


@pytest.mark.game(assets=[])
def test_no_assets_still_plays_silently(game):
    shot = wait_for_menu(game)
    assert near(shot.pixel(640, 120), WHITE), "no arena without assets"
    assert paddle_at(shot, BLUE_OVER_WHITE, 180), "no blue paddle without assets"
    assert highlighted_option(shot) is None, "text drawn without a font"
    game.press_until("Return", "the ball to show as the menu goes",
                     lambda: near(game.screenshot().pixel(640, 360), MAGENTA))
    game.hold("Escape")
    assert game.exit_status() == 0, "did not exit 0 on Escape without assets"
    pcm = game.recording.samples()
    assert len(pcm) > 0, "nothing was recorded at all"
    assert max(abs(s) for s in pcm) == 0, "a sound was heard without sound files"
    assert "segoeui.ttf" in game.messages() and "menu.wav" in game.messages(), "SFML's messages are missing"


@pytest.mark.targets("desktop", "emulated", "wine", "page")
def test_untouched_serve_costs_both_sides_a_point(game):
    # Nobody steers, so every serve escapes: a reading slower than a rally (a
    # busy machine) sees a later score, and R clears them for another try.
    for _ in range(3):
        wait_for("the scores to read 0 and 0", lambda: read_scores(game) == ("0", "0"), game.deadline)
        start_game(game, 2)
        # Served from the centre down and to the right, below the red paddle
        blue, red = first_point(game)
        assert blue == red and blue.startswith("-"), "an untouched serve scored %s and %s" % (blue, red)
        if blue == "-1":
            wait_for("the countdown again", lambda: countdown_shown(game.screenshot()), game.deadline)
            return
        game.press_until("r", "the menu", lambda: menu_shown(game.screenshot()))
    raise AssertionError("never read the first point in time")


@pytest.mark.targets("desktop", "sanitized", "page")
def test_cpu_meets_the_first_serve(game):
    start_game(game, 1)
    mark = game.recording.mark()
    # The serve heads down and right, where the computer's hit turns it red
    wait_for("the ball to turn red", lambda: red_ball_seen(game.screenshot()), game.deadline)
    game.recording.wait_for_sound(mark, BOUNCE_HZ, "the bounce sound")
    # The point goes to a paddle that touched the ball, almost always red; a
    # busy machine may read a later point, which the computer meets too.
    scores = first_point(game)
    assert all(score.isdigit() for score in scores), "the first points read %s" % (scores,)


def hold_through_a_miss(game, keys, blue, red):
    """Keys held through a rally: the miss puts both paddles home, the keys
    turn them once more, and they wait out the countdown at blue and red."""
    for key in keys:
        game.hold(key)
    wait_for("blue at %d and red at %d after a miss with %s held" % (blue, red, "+".join(keys)),
             lambda: (lambda s: countdown_shown(s) and paddles_at(s, blue, red))(game.screenshot()), game.deadline)
    game.release_all()


@pytest.mark.targets("desktop", "page")
def test_players_steer_their_own_paddles(game):
    start_game(game, 2)
    hold_through_a_miss(game, ["w", "Up"], 185, 355)  # both up their own side
    hold_through_a_miss(game, ["Down"], 180, 5)       # red down; blue left alone
    blue, red = read_scores(game)
    assert blue == red and int(blue) <= -2, "untouched serves scored %s and %s" % (blue, red)
