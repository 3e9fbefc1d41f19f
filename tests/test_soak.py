"""Random real key presses in both modes, R and Return among them, for
ZARV_SOAK_SECONDS (60): no crash, and resident memory flat once warmed up."""

import os
import random
import time

import pytest

from harness import wait_for
from harness.memory import memory_kb
from harness.screen import menu_shown, read_scores, start_game

STEERING = ["w", "s", "Up", "Down"]
GROWTH_LIMIT_KB = 1024
SETTLE = 5.0  # seconds of random play before the baseline sample


def warm_up(game):
    """Each glyph enters a font texture, which doubles as it fills, the first
    time it shows: untouched serves take the scores to -10 before measuring."""
    start_game(game, 2)
    wait_for("the scores to pass -10", lambda: (lambda s: s[0].startswith("-") and len(s[0]) >= 3
                                                and s[0][1:].isdigit())(read_scores(game)), 180)
    game.press_until("r", "the menu", lambda: menu_shown(game.screenshot()))


@pytest.mark.long
def test_soak(game, say):
    seconds = float(os.environ.get("ZARV_SOAK_SECONDS", 60))
    seed = int(time.time())
    rng = random.Random(seed)
    warm_up(game)
    started = time.monotonic()
    samples = []  # (seconds since start, resident kB)
    presses = 0
    while time.monotonic() - started < seconds:
        assert game.process.poll() is None, "the game ended with status %s after %d key presses, key seed %d" % (
            game.process.returncode, presses, seed)
        roll = rng.random()
        if roll < 0.04:
            keys = ["r"]           # back to the menu
        elif roll < 0.12:
            keys = ["Return"]      # start whichever game is highlighted
        else:
            keys = rng.sample(STEERING, rng.choice([1, 1, 1, 2]))
        for key in keys:
            game.hold(key)
        time.sleep(rng.uniform(0.02, 0.6))  # random key lengths drive the game; no state is waited for here
        game.release_all()
        presses += 1
        if game.process.poll() is None:
            samples.append((time.monotonic() - started, memory_kb(game.process.pid)["VmRSS"]))
    settled = [kb for at, kb in samples if at >= SETTLE]
    growth = max(settled) - settled[0]
    say("%d key presses in %.0f s, key seed %d; resident memory %d kB at first, largest %d kB, growth %d kB"
        % (presses, seconds, seed, settled[0], max(settled), growth))
    assert growth < GROWTH_LIMIT_KB, "resident memory grew by %d kB after warm-up" % growth
