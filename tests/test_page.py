"""What only the page shows, in Chromium and Firefox (the phone's case in
Chromium: WebDriver BiDi, which drives Firefox, emulates no touch or phone)."""

import json
import os
import re

import pytest

from harness import SOURCE, read, wait_for
from harness.page import TOUCH_KEYS, page_file
from harness.screen import (PALETTE, RED_OVER_WHITE, countdown_shown, highlighted_option, menu_shown, paddle_at,
                            paddles_at, rgb, wait_for_menu)
from test_play import hold_through_a_miss, menu_looks_right

# A phone held sideways, of 2 device pixels a CSS pixel, with touch
PHONE = dict(width=844, height=390, deviceScaleFactor=2, isMobile=True, hasTouch=True, isLandscape=True)
INLINE_SCRIPT = ("(() => { const script = document.createElement('script');"
                 " script.textContent = 'window.inlineRan = true'; document.body.appendChild(script);"
                 " return window.inlineRan === true; })()")
CANVAS = "document.getElementById('canvas')"


def test_page_style_takes_the_game_palette(target):
    """The page's style names the game's colours it shows once, in its :root,
    with the palette's values, and writes none of them again."""
    style = read(os.path.join(SOURCE, "web", "page", "page.css"))
    named = {name: tuple(int(v) for v in values.split(","))
             for name, values in re.findall(r"--([a-z]+): ([\d, ]+);", style)}
    by_css = {name.lower(): rgb(name) for name in PALETTE}
    assert named and all(by_css.get(name) == value for name, value in named.items()), \
        "the page's colours %s are not the game's %s" % (named, by_css)
    body = style.replace(re.search(r":root \{[^}]*\}", style).group(0), "")
    literals = [tuple(int(h[i:i + 2], 16) for i in (0, 2, 4)) for h in re.findall(r"#([0-9a-fA-F]{6})\b", body)]
    literals += [tuple(int(v) for v in values.split(",")[:3]) for values in re.findall(r"rgba?\((\d+, *\d+, *\d+)", body)]
    again = sorted(set(literals) & set(by_css.values()))
    assert not again, "the page's style writes the game's colours %s again" % again


@pytest.mark.targets("page")
def test_page_ends_and_plays_again(game):
    """Escape ends the game as on the desktop; the page's button starts it again."""
    wait_for_menu(game)
    game.press_until("Escape", "the game to end", lambda: game.shown("ended"))
    game.command("click #play-again")
    wait_for("the menu again", lambda: not game.shown("ended") and menu_shown(game.screenshot()), game.start_deadline)


@pytest.mark.targets("page")
@pytest.mark.game(tamper=lambda site: os.remove(os.path.join(site, page_file(site, "data"))), expect_errors=True)
def test_page_without_its_data(game):
    """A data file that does not load is said on the page; an inline script is refused."""
    wait_for("the page to say that its data did not load", lambda: game.shown("failed"), game.start_deadline)
    text = game.evaluate("document.getElementById('failed').textContent")
    assert page_file(game.site, "data") in text, "the page says: " + text
    assert not game.evaluate(INLINE_SCRIPT), "an inline script ran"
    assert wait_for("the refusal", lambda: game.log()["refused"], game.deadline) == ["script-src-elem: inline"]


@pytest.mark.targets("page")
@pytest.mark.game(webgl=False, expect_errors=True)
def test_page_without_webgl(game):
    """A browser without WebGL gets a sentence, not an error."""
    wait_for("the page to say that it needs WebGL", lambda: game.shown("failed"), game.start_deadline)
    assert "WebGL" in game.evaluate("document.getElementById('failed-text').textContent"), "no word of WebGL"


def stopped_and_reloaded(game, fault, saying):
    """After the fault, the page shows its notice and no other, the console
    no flood; Reload brings the menu back."""
    wait_for_menu(game)
    said = len(game.log()["messages"])
    game.evaluate(fault)
    wait_for("the page to say " + saying, lambda: game.shown("failed"), game.deadline)
    text = game.evaluate("document.getElementById('failed-text').textContent")
    assert saying in text, "the page says: " + text
    assert game.shown("reload") and not game.shown("ended"), "no Reload button, or the game's end shown too"
    assert len(game.log()["messages"]) - said <= 2, "the console was flooded:\n" + game.messages()
    game.command("click #reload")
    wait_for("the menu again", lambda: not game.shown("failed") and menu_shown(game.screenshot()), game.start_deadline)


@pytest.mark.targets("page")
@pytest.mark.game(expect_errors=True)
def test_page_says_a_fault_in_a_later_frame(game):
    """Drawing that throws in a later frame."""
    stopped_and_reloaded(game, "(() => { const gl = %s.getContext('webgl');"
                         " gl.drawArrays = gl.drawElements = () => { throw new Error('drawing failed'); }; })()"
                         % CANVAS, "drawing failed")


@pytest.mark.targets("page")
def test_page_says_its_graphics_were_lost(game):
    """A lost WebGL context, as a GPU reset leaves it."""
    stopped_and_reloaded(game, "%s.getContext('webgl').getExtension('WEBGL_lose_context').loseContext()" % CANVAS,
                         "graphics were reset")


def canvas_rect(game):
    return game.evaluate("(r => [r.left, r.top, r.right, r.bottom])(%s.getBoundingClientRect())" % CANVAS)


def buffer_follows_the_screen(game):
    """The canvas draws as many pixels as it covers on the screen."""
    game.until("the drawing buffer to cover the canvas's CSS size in device pixels",
               "(c => Math.abs(c.width - c.clientWidth * devicePixelRatio) <= 1"
               " && Math.abs(c.height - c.clientHeight * devicePixelRatio) <= 1)(%s)" % CANVAS, game.deadline)


def controls_in_view(game):
    """Each control named, wholly in view and off the game, blue's left and red's right."""
    controls = game.evaluate(
        "[...document.querySelectorAll('[data-key]')].map(c => (r => ({key: c.dataset.key,"
        " name: c.getAttribute('aria-label'), box: [r.left, r.top, r.right, r.bottom]}))(c.getBoundingClientRect()))")
    width, height = game.evaluate("[innerWidth, innerHeight]")
    game_box = canvas_rect(game)
    assert sorted(c["key"] for c in controls) == sorted(TOUCH_KEYS.values()), "the controls are %s" % controls
    for control in controls:
        left, top, right, bottom = control["box"]
        assert control["name"], "the %s control has no name" % control["key"]
        assert 0 <= left < right <= width and 0 <= top < bottom <= height, \
            "the %s control is not wholly in view in %dx%d: %s" % (control["key"], width, height, control["box"])
        assert right <= game_box[0] or left >= game_box[2] or top >= game_box[3] or bottom <= game_box[1], \
            "the %s control covers the game" % control["key"]
        if control["key"] in ("W", "S"):
            assert right <= width / 3, "blue's %s control is not at the left edge" % control["key"]
        if control["key"] in ("Up", "Down"):
            assert left >= width * 2 / 3, "red's %s control is not at the right edge" % control["key"]


def tap_between_frames(game, key, what, probe):
    """A tap that comes and goes between two frames, which the game must still see."""
    game.evaluate("window.zarvDisplay.paused = true")
    game.hold(key)
    game.release(key)
    game.evaluate("window.zarvDisplay.paused = false")
    wait_for(what, probe, game.deadline)


@pytest.mark.targets("chromium")
@pytest.mark.game(touch=True, options=dict(viewport=PHONE, display=dict(hz=60)))
def test_page_on_a_phone_by_touch(game):
    """A phone held sideways, then upright: a sharp canvas, the menu whole,
    the controls in view; taps choose, start and end a game; two fingers
    turn both paddles; a pinch zooms nothing."""
    menu_looks_right(game)
    buffer_follows_the_screen(game)
    controls_in_view(game)
    tap_between_frames(game, "s", "a tap on S to highlight Player v Player",
                       lambda: highlighted_option(game.screenshot()) == 2)
    tap_between_frames(game, "Return", "a tap on Return to start the game", lambda: countdown_shown(game.screenshot()))
    hold_through_a_miss(game, ["w", "Up"], 185, 355)
    left, top, right, bottom = canvas_rect(game)
    middle_x, middle_y = int((left + right) / 2), int((top + bottom) / 2)
    game.command("touchstart a %d,%d" % (middle_x - 20, middle_y))
    game.command("touchstart b %d,%d" % (middle_x + 20, middle_y))
    for step in range(1, 6):
        game.command("touchmove a %d,%d" % (middle_x - 20 - 25 * step, middle_y - 10 * step))
        game.command("touchmove b %d,%d" % (middle_x + 20 + 25 * step, middle_y + 10 * step))
    game.command("touchend a")
    game.command("touchend b")
    assert game.evaluate("[visualViewport.scale, scrollX, scrollY]") == [1, 0, 0], "a pinch zoomed or scrolled"
    tap_between_frames(game, "r", "a tap on R to bring back the menu", lambda: menu_shown(game.screenshot()))

    game.command("viewport " + json.dumps(dict(PHONE, width=PHONE["height"], height=PHONE["width"],
                                               isLandscape=False)))
    wait_for("the game across the width, upright",
             lambda: (lambda box: box[2] - box[0] > PHONE["height"] * 0.9)(canvas_rect(game)), game.deadline)
    controls_in_view(game)
    buffer_follows_the_screen(game)
    wait_for("the menu upright", lambda: menu_shown(game.screenshot()), game.deadline)


def stand_in_pads(game, *pads):
    """The pads navigator.getGamepads() gives: mapping, buttons held and the
    left stick's up-down axis; None where one has gone."""
    game.evaluate("window.zarvGamepads = %s, true" % json.dumps([None if pad is None else dict(
        id=pad.get("id", "Stand-in pad %d" % index), index=index, connected=True, timestamp=0,
        mapping=pad.get("mapping", "standard"), axes=[0, pad.get("stick", 0), 0, 0],
        buttons=[dict(pressed=b in pad.get("held", ()), value=1 if b in pad.get("held", ()) else 0)
                 for b in range(17)]) for index, pad in enumerate(pads)]))


PAD_A, PAD_BACK, PAD_UP, PAD_DOWN = 0, 8, 12, 13
ODD_PAD = dict(mapping="", id="Stand-in pad of its own mapping", held=[PAD_A, PAD_DOWN], stick=1)


@pytest.mark.targets("page")
@pytest.mark.game(options=dict(gamepads=True))
def test_page_with_two_gamepads(game):
    """A pad without the standard mapping is ignored, said once; then blue's
    d-pad and A choose and start, blue's stick and red's d-pad steer, a pad
    that goes lets go of its keys, and Back returns to the menu."""
    def after(what, pads, probe):
        stand_in_pads(game, *pads)
        wait_for(what, lambda: probe(game.screenshot()), game.deadline)

    wait_for_menu(game)
    after("blue's d-pad to highlight Player v Player", (ODD_PAD, dict(held=[PAD_DOWN]), {}),
          lambda s: highlighted_option(s) == 2)
    after("blue's A to start the game", (ODD_PAD, dict(held=[PAD_A]), {}), countdown_shown)
    after("blue at 185 and red at 355 after a miss, turned by the pads", (ODD_PAD, dict(stick=-1), dict(held=[PAD_UP])),
          lambda s: countdown_shown(s) and paddles_at(s, 185, 355))
    after("red's paddle to turn down", (ODD_PAD, {}, dict(held=[PAD_DOWN])),
          lambda s: not countdown_shown(s) and not paddle_at(s, RED_OVER_WHITE, 355))
    after("both paddles home after the next miss, red's pad gone", (ODD_PAD, {}, None),
          lambda s: countdown_shown(s) and paddles_at(s, 180, 0))
    after("Back to bring the menu", (ODD_PAD, dict(held=[PAD_BACK]), None), menu_shown)
    stand_in_pads(game)
    said = [m for m in game.log()["messages"] if ODD_PAD["id"] in m["text"]]
    assert len(said) == 1, "the pad without the standard mapping was told of %d times" % len(said)


def game_frames_a_second(game, hz, jitter, say):
    """Game frames and refreshes over a second of the stand-in display's clock at hz."""
    game.evaluate("Object.assign(window.zarvDisplay, {hz: %d, jitter: %g}), true" % (hz, jitter))
    reading = "[window.zarvDisplay.refreshes, window.zarvDisplay.now, window.zarvLog.clears]"
    game.until("the display at %d Hz to settle" % hz, "%s[0] >= %d" % (reading, game.evaluate(reading)[0] + hz // 4),
               game.deadline)
    refreshes, now, clears = game.evaluate(reading)
    after = game.until("a second of the page's clock at %d Hz" % hz,
                       "(r => r[0] >= %d && r)(%s)" % (refreshes + hz, reading), game.deadline)
    frames = after[2] - clears
    rate = 1000 * frames / (after[1] - now)
    say("%d Hz%s: %.1f game frames a second, %d of %d refreshes" % (
        hz, " (frames %g ms early or late)" % jitter if jitter else "", rate, frames, after[0] - refreshes))
    return rate, frames, after[0] - refreshes


@pytest.mark.targets("page")
@pytest.mark.game(options=dict(display=dict(hz=60)))
def test_page_at_its_speed_on_any_display(game, say):
    """60 game frames a second at 144 and 120 Hz, one a refresh at 60 Hz
    however early or late, and at 30 Hz."""
    wait_for_menu(game)
    for hz, jitter in ((144, 0), (120, 0), (60, 1), (30, 0)):
        rate, frames, refreshes = game_frames_a_second(game, hz, jitter, say)
        if hz > 60:
            assert 59 <= rate <= 61, "%.1f game frames a second at %d Hz" % (rate, hz)
        else:
            assert frames == refreshes, "%d game frames for %d refreshes at %d Hz" % (frames, refreshes, hz)
