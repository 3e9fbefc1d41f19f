"""What the tests and the benchmarks play Zarv with: an X server of their
own, the game or its page, what the screen shows, what the ear hears and how
much memory it takes. Nothing here waits a fixed time: every wait polls,
with a deadline generous enough that a slow machine only makes it slower."""

import os
import subprocess
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEADLINE = 30.0  # seconds for one step of a case
EMULATED_DEADLINE = DEADLINE * 10  # every frame of an emulated game is drawn by emulated Mesa
TOOL_DEADLINE = 60  # seconds for one call of a tool: xdotool, import, tesseract
BUILD_DEADLINE = 1800  # seconds for a build, an install or a package manager


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, probe, deadline=DEADLINE):
    """Polls probe() until it returns something truthy, and returns that."""
    end = time.monotonic() + deadline
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() > end:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.05)


def read(path, mode="r"):
    with open(path, mode) as f:
        return f.read()


def write(path, data):
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)


def run(*command, cwd=None, env=None, input=None, timeout=TOOL_DEADLINE):
    """A tool's standard output; its failure, with all it said, fails the case."""
    done = subprocess.run(command, cwd=cwd, env=env, input=input, capture_output=True,
                          text=input is None or isinstance(input, str), timeout=timeout)
    check(done.returncode == 0, "%s failed (%d):\n%s%s" % (" ".join(command), done.returncode,
                                                           done.stdout, done.stderr))
    return done.stdout
