"""An X server of its own, and the windows in it: found by their title,
placed and focused (there is no window manager), looked at."""

import os
import subprocess

from harness import TOOL_DEADLINE, check, run

PLACE_TRY = 10  # seconds for one try at moving and focusing a window


class Xvfb:
    """A fresh Xvfb, stopped on the way out. -noreset: by default the server
    resets when its last client leaves, and refuses connections while it does."""

    def __init__(self, size=(1280, 720), options=()):
        self.size, self.options = size, list(options)
        self.process = self.env = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % self.size,
             "-nolisten", "tcp", "-noreset"] + self.options, pass_fds=[write_end],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            display = pipe.readline().strip()
        check(display, "Xvfb did not start")
        self.env = dict(os.environ, DISPLAY=":" + display)
        return self

    def __exit__(self, *exception):
        self.process.terminate()
        self.process.wait()

    def xdotool(self, *args):
        return run("xdotool", *args, env=self.env)

    def find_window(self, *search):
        """The first visible window that xdotool's search finds, or None."""
        found = subprocess.run(["xdotool", "search", "--onlyvisible"] + list(search), env=self.env,
                               capture_output=True, text=True, timeout=TOOL_DEADLINE).stdout.split()
        return found[0] if found else None

    def place(self, window):
        """Moves the window to (0, 0) and gives it the focus; False if either did
        not stick in time (a move that a game's own centring undoes leaves --sync
        waiting), so that the caller tries again."""
        try:
            for command in (["windowmove", "--sync", window, "0", "0"], ["windowfocus", "--sync", window]):
                if subprocess.run(["xdotool"] + command, env=self.env, capture_output=True,
                                  timeout=PLACE_TRY).returncode != 0:
                    return False
        except subprocess.TimeoutExpired:
            return False
        return True

    def rgb(self, window):
        """The window's pixels, 8-bit RGB. import asks for a window to be
        clicked if its window is gone: never call it on a window that has gone."""
        return subprocess.run(["import", "-window", window, "-depth", "8", "rgb:-"], env=self.env, check=True,
                              capture_output=True, timeout=TOOL_DEADLINE).stdout
