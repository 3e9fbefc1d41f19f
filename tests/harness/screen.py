"""What the game's screen shows, read as a player reads it: the palette's
colours at the places the game draws them, the menu's highlight, the
countdown, the paddles on the rim, the ball, and the scores through OCR."""

import math
import os
import re

from harness import SOURCE, read, run, wait_for

WIDTH, HEIGHT = 1280, 720

# The game's colours, by name, (red, green, blue, alpha), from the one place they are written
PALETTE = {name: tuple(int(value) for value in values.split(",")) for name, values in re.findall(
    r"^const sf::Color (\w+)\(([\d, ]+)\);$", read(os.path.join(SOURCE, "game", "palette.hpp")), re.M)}


def rgb(name):
    return PALETTE[name][:3]


BACKDROP, WHITE, SLATE, MIST, STEEL, MAGENTA = map(rgb, ["Backdrop", "White", "Slate", "Mist", "Steel", "Magenta"])
# The paddles' translucent colours as they come out over the white arena
BLUE_OVER_WHITE = (127, 126, 252)
RED_OVER_WHITE = (254, 126, 125)

CPU_OPTION = (540, 280, 740, 322)
PVP_OPTION = (540, 400, 740, 442)
COUNTDOWN_AREA = (480, 60, 760, 420)
BLUE_SCORE = "260x330+0+220"
RED_SCORE = "280x330+1000+220"  # clear of the arena's rim


class Screenshot:
    def __init__(self, rgb):
        self.rgb = rgb

    def pixel(self, x, y):
        i = (y * WIDTH + x) * 3
        return tuple(self.rgb[i:i + 3])

    def count(self, colour, box, tolerance=3):
        """Pixels of about this colour inside box = (left, top, right, bottom)."""
        left, top, right, bottom = box
        found = 0
        for y in range(top, bottom):
            row = self.rgb[(y * WIDTH + left) * 3:(y * WIDTH + right) * 3]
            for i in range(0, len(row), 3):
                if all(abs(row[i + k] - colour[k]) <= tolerance for k in range(3)):
                    found += 1
        return found


def near(actual, expected, tolerance=4):
    return all(abs(a - e) <= tolerance for a, e in zip(actual, expected))


def highlighted_option(shot):
    """1 or 2 as the thick Slate outline sits around one option, else None."""
    cpu = shot.count(SLATE, CPU_OPTION, tolerance=2)
    pvp = shot.count(SLATE, PVP_OPTION, tolerance=2)
    if cpu > 300 and pvp < 20:
        return 1
    if pvp > 300 and cpu < 20:
        return 2
    return None


def menu_shown(shot):
    return near(shot.pixel(530, 360), MIST) and near(shot.pixel(515, 360), SLATE)


def countdown_shown(shot):
    return not menu_shown(shot) and shot.count(STEEL, COUNTDOWN_AREA) > 2000


def rim_point(bearing):
    """The pixel in the middle of the paddles' band at this bearing (radians)."""
    return (int(round(640 + 342 * math.cos(bearing))), int(round(360 + 342 * math.sin(bearing))))


def paddle_at(shot, colour, rotation):
    """The paddle covers bearings [r, r + 0.5] and nothing just beyond either end."""
    r = math.radians(rotation)
    return (near(shot.pixel(*rim_point(r + 0.25)), colour)
            and near(shot.pixel(*rim_point(r - 0.05)), WHITE)
            and near(shot.pixel(*rim_point(r + 0.55)), WHITE))


def paddles_at(shot, blue, red):
    return paddle_at(shot, BLUE_OVER_WHITE, blue) and paddle_at(shot, RED_OVER_WHITE, red)


def red_ball_seen(shot):
    """A red ball inside the arena, well clear of the rim where the red paddle is."""
    found = 0
    for y in range(60, 660, 2):
        for x in range(340, 940, 2):
            if (x - 640) ** 2 + (y - 360) ** 2 < 310 ** 2 and near(shot.pixel(x, y), RED_OVER_WHITE):
                found += 1
    return found > 20


def read_scores(game):
    """Both scores from one screenshot, as a player reads them: tesseract on
    each score's side of the window, its glyphs turned black on white."""
    shot = os.path.join(game.folder, "scores.png")
    game.save_screenshot(shot)
    read = []
    for region in (BLUE_SCORE, RED_SCORE):
        score = os.path.join(game.folder, "score.png")
        run("convert", shot, "-crop", region, "+repage", "-fuzz", "6%", "-fill", "white",
            "-opaque", "rgb(%d,%d,%d)" % BACKDROP, "-fill", "black", "+opaque", "white",
            "-resize", "25%", "-bordercolor", "white", "-border", "20", score)
        read.append(run("tesseract", score, "-", "--psm", "7",
                        "-c", "tessedit_char_whitelist=-0123456789").strip())
    return tuple(read)


def first_point(game):
    """The scores once they are no longer 0 and 0."""
    return wait_for("a point to fall", lambda: (lambda s: s != ("0", "0") and s)(read_scores(game)), game.deadline)


def wait_for_menu(game):
    return wait_for("the menu", lambda: (lambda s: menu_shown(s) and s)(game.screenshot()), game.deadline)


def start_game(game, option):
    """From the menu: highlight option 1 or 2, then Return until the countdown shows."""
    wait_for_menu(game)
    game.press_until("s" if option == 2 else "w", "option %d highlighted" % option,
                     lambda: highlighted_option(game.screenshot()) == option)
    game.press_until("Return", "the countdown", lambda: countdown_shown(game.screenshot()))
