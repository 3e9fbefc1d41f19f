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

from end_to_end import Game, check, end_session, keep_evidence, menu_shown, wait_for

STEERING = ["w", "s", "Up", "Down"]
GROWTH_LIMIT_KB = 1024


def resident_kb(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS for %d" % pid)


def soak(game, seconds, rng):
    wait_for("the menu", lambda: menu_shown(game.screenshot()))
    warm_up = min(60.0, seconds / 3)
    started = time.monotonic()
    samples = []  # (seconds since start, resident kB)
    presses = 0
    while time.monotonic() - started < seconds:
        check(game.process.poll() is None, "the game died after %d key presses" % presses)
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
        samples.append((time.monotonic() - started, resident_kb(game.process.pid)))

    settled = [kb for at, kb in samples if at >= warm_up]
    at_warm_up = settled[0]
    growth = max(settled) - at_warm_up
    print("  %d key presses in %.0f s; resident memory %d kB after %.0f s warm-up, largest %d kB, "
          "growth %d kB" % (presses, seconds, at_warm_up, warm_up, max(settled), growth), flush=True)
    check(growth < GROWTH_LIMIT_KB, "resident memory grew by %d kB after warm-up" % growth)


def main():
    binary = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    seed = int(time.time())
    print("soak for %.0f s, key seed %d" % (seconds, seed), flush=True)
    game = Game(binary)
    try:
        game.start()
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
