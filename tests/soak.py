#!/usr/bin/env python3
"""Long play: the real game driven by random real key presses, in both modes,
with R and Return among them. It must not crash, its resident memory must stay
flat once warmed up, and Escape must end it with status 0.

Usage: soak.py path/to/zarv [seconds]   (60 in CI; 600 for the long version)
"""

import os
import random
import sys
import time

from end_to_end import Game, check, end_session, keep_evidence, menu_shown, read_scores, start_game, wait_for

STEERING = ["w", "s", "Up", "Down"]
GROWTH_LIMIT_KB = 1024


def resident_kb(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS for %d" % pid)


def warm_up(game):
    """Every glyph the game will ever draw is cached in a font texture the first
    time it shows, and the texture doubles in size as it fills: a few MB at once,
    not a leak. Untouched serves in a two-player game take both scores down to
    -10, through every digit, before anything is measured."""
    start_game(game, 2)
    wait_for("the scores to pass -10", lambda: (lambda s: s[0].startswith("-") and len(s[0]) >= 3
                                                and s[0][1:].isdigit())(read_scores(game)), 180)
    game.press_until("r", "the menu", lambda: menu_shown(game.screenshot()))


def soak(game, seconds, rng):
    settle = 5.0  # seconds of random play before the baseline sample
    started = time.monotonic()
    samples = []  # (seconds since start, resident kB)
    presses = 0
    while time.monotonic() - started < seconds:
        check(game.process.poll() is None, "the game ended with status %s after %d key presses"
              % (game.process.returncode, presses))
        roll = rng.random()
        if roll < 0.04:
            keys = ["r"]           # back to the menu
        elif roll < 0.12:
            keys = ["Return"]      # start whichever game is highlighted
        else:
            keys = rng.sample(STEERING, rng.choice([1, 1, 1, 2]))
        for key in keys:
            game.hold(key)
        # Random key lengths drive the game; no state is waited for here.
        time.sleep(rng.uniform(0.02, 0.6))
        for key in keys:
            game.release(key)
        presses += 1
        if game.process.poll() is None:
            samples.append((time.monotonic() - started, resident_kb(game.process.pid)))

    settled = [kb for at, kb in samples if at >= settle]
    baseline = settled[0]
    growth = max(settled) - baseline
    print("  %d key presses in %.0f s; resident memory %d kB at first, largest %d kB, growth %d kB"
          % (presses, seconds, baseline, max(settled), growth), flush=True)
    check(growth < GROWTH_LIMIT_KB, "resident memory grew by %d kB after warm-up" % growth)


def main():
    binary = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    seed = int(time.time())
    print("soak for %.0f s, key seed %d" % (seconds, seed), flush=True)
    game = Game(binary)
    try:
        game.start()
        warm_up(game)
        soak(game, seconds, random.Random(seed))
        end_session(game)
    except Exception as error:  # keep the evidence, whatever went wrong
        print("FAIL soak: %s" % error)
        keep_evidence(game, "soak")
        print("0 passed, 1 failed")
        return 1
    finally:
        game.stop()
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
