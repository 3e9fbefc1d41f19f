"""The game played as a player plays it, in an X server of its own: its
window moved to (0, 0) and focused (there is no window manager, and keys
reach only the focused window), keys held for real through XTEST, its mix
recorded by OpenAL Soft's wave backend. A Windows build plays under Wine."""

import os
import resource
import shutil
import subprocess
import tempfile

from harness import DEADLINE, TOOL_DEADLINE, check, run, wait_for, write
from harness.ear import Recording
from harness.screen import HEIGHT, WIDTH, Screenshot
from harness.x import Xvfb

ASSETS = ["segoeui.ttf", "menu.wav", "selected.wav", "stop.wav", "zarv.wav"]
OUTPUT_LIMIT = 64 << 20  # bytes in any file the game writes: a Wine without its display writes gigabytes
SANITIZER_REPORTS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:")
OPENAL_WAVE = ("[general]\ndrivers = wave\nchannels = mono\nsample-type = int16\nfrequency = 44100\n"
               "dither = false\n[wave]\nfile = %s\n")


def wine_programs():
    """Wine's loader and server, called directly (the wine script prints a notice
    about the missing 32-bit Wine) from wherever this release's wine64 puts them."""
    found = {}
    for path in run("dpkg-query", "-L", "wine64").split():
        name = os.path.basename(path)
        if "/lib/" in path and name in ("wine64", "wine", "wineserver64", "wineserver") and os.path.isfile(path):
            found.setdefault("server" if name.startswith("wineserver") else "loader", path)
    return found["loader"], found["server"]


class Played:
    """What a game and its page have in common."""

    web = touch = False

    def press_until(self, key, what, probe, deadline=None):
        """Holds key until probe() sees its effect, then lets go."""
        self.hold(key)
        try:
            return wait_for(what, probe, deadline or self.deadline)
        finally:
            self.release(key)

    def release_all(self):
        for key in list(self.held):
            self.release(key)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exception):
        self.stop()


class Game(Played):
    """A program under its own Xvfb, by default the game in a working folder
    of its own with the chosen assets copied from beside it. tamper(folder)
    may spoil them; sound is "recorded", "silent" (OpenAL's null output) or
    "unconfigured" (no device where there is no sound card); with place False
    the window stays where the game put it, unfocused."""

    def __init__(self, program, wrapper=(), args=(), assets=ASSETS, tamper=None, sound="recorded",
                 screen=(WIDTH, HEIGHT), place=True, deadline=DEADLINE, env=None, preload=None, title="Zarv", cwd=None):
        self.wine = program.endswith(".exe")
        if self.wine:  # Wine shows the window before the game centres it, which may undo
            # the move to (0, 0): on a screen that holds it anywhere it is whole either way
            self.wine_loader, self.wine_server = wine_programs()
            wrapper, screen = [self.wine_loader], (1920, 1080)
        self.command = list(wrapper) + [program] + list(args)
        self.assets, self.source, self.tamper, self.sound = assets, os.path.dirname(program), tamper, sound
        self.screen, self.place, self.deadline = screen, place, deadline
        self.start_deadline = max(DEADLINE * (10 if wrapper else 1), deadline)
        self.extra_env, self.preload, self.title, self.cwd = dict(env or {}), preload, title, cwd
        self.held = set()
        self.x = self.process = self.stderr = self.window = None
        self.folder = tempfile.mkdtemp(prefix="zarv-game-")

    def start(self):
        for name in self.assets:
            shutil.copy(os.path.join(self.source, name), self.folder)
        if self.tamper:
            self.tamper(self.folder)
        self.x = Xvfb(self.screen).__enter__()
        self.env = dict(self.x.env)
        self.env.pop("ALSOFT_DRIVERS", None)
        mixed = os.path.join(self.folder, "mixed.wav")
        if self.sound == "recorded":
            self.env["ALSOFT_CONF"] = os.path.join(self.folder, "alsoft.conf")
            write(self.env["ALSOFT_CONF"], OPENAL_WAVE % mixed)
        elif self.sound == "silent":
            self.env["ALSOFT_DRIVERS"] = "null"
        if self.wine:  # every wine and wineserver call sees DISPLAY and this prefix; no .NET or Gecko installers
            self.env.update(WINEPREFIX=os.path.join(self.folder, "wine"), WINEDEBUG="-all",
                            WINEDLLOVERRIDES="mscoree,mshtml=")
            # Creates the prefix; with no window manager to hand over the
            # keyboard's focus, Wine is to follow X's focus itself
            run(self.wine_loader, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "UseTakeFocus", "/d", "N",
                "/f", env=self.env, timeout=self.start_deadline)
        game_env = dict(self.env, **self.extra_env, **({"LD_PRELOAD": self.preload} if self.preload else {}))
        self.stderr = open(os.path.join(self.folder, "stderr.txt"), "w+")
        limit = (lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (OUTPUT_LIMIT,) * 2)) if self.wine else None
        self.process = subprocess.Popen(self.command, cwd=self.cwd or self.folder, env=game_env,
                                        stdout=subprocess.DEVNULL, stderr=self.stderr, preexec_fn=limit)
        self.window = wait_for("the %s window" % self.title, self.find_window, self.start_deadline)
        # The game reads its sounds from its working folder, which a launcher changes to
        playing = self.folder if self.assets else os.readlink("/proc/%d/cwd" % self.process.pid)
        self.recording = Recording(mixed, playing, self.deadline)
        if self.place:
            wait_for("the window at (0, 0) with the focus", lambda: self.x.place(self.window), self.start_deadline)
        return self

    def stop(self):
        if self.x:
            self.release_all()
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if self.wine and self.x:  # Wine's own processes, before their X server goes
            for option in ("-k", "-w"):
                subprocess.run([self.wine_server, option], env=self.env, timeout=TOOL_DEADLINE)
        if self.x:
            self.x.__exit__()
        if self.stderr:
            self.stderr.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def xdotool(self, *args):
        return self.x.xdotool(*args)

    def find_window(self):
        check(self.process.poll() is None, "the game ended before its window showed")
        return self.x.find_window("--name", "^%s$" % self.title)

    def hold(self, key):
        # Real key events (XTEST), not sent ones: the game asks the X server
        # which keys are down, and only real events change that.
        self.xdotool("keydown", key)
        self.held.add(key)

    def release(self, key):
        self.xdotool("keyup", key)
        self.held.discard(key)

    def screenshot(self):
        check(self.process.poll() is None, "the game ended unexpectedly")
        rgb = self.x.rgb(self.window)
        check(len(rgb) == WIDTH * HEIGHT * 3, "screenshot of unexpected size %d" % len(rgb))
        return Screenshot(rgb)

    def save_screenshot(self, path):
        check(self.process.poll() is None, "the game ended unexpectedly")
        run("import", "-window", self.window, path, env=self.env)

    def exit_status(self, deadline=None):
        return wait_for("the game to exit", lambda: self.process.poll() is not None and (self.process.returncode,),
                        deadline or self.deadline)[0]

    def messages(self):
        self.stderr.flush()
        self.stderr.seek(0)
        return self.stderr.read()

    def end(self):
        """As a player ends a session: Escape, and exit status 0, with nothing
        reported by the sanitizers when the game was built with them."""
        if self.process.poll() is None:
            if not self.place:  # keys count only with the focus
                self.xdotool("windowfocus", "--sync", self.window)
            self.hold("Escape")
        status = self.exit_status(self.start_deadline)
        check(status == 0, "Escape ended the game with status %s" % status)
        for report in SANITIZER_REPORTS:
            check(report not in self.messages(), "a sanitizer reported:\n" + self.messages()[-6000:])

    def keep_evidence(self, folder):
        """What the game showed, said and played, for a look after a failure."""
        if self.window and self.process.poll() is None:
            try:
                self.save_screenshot(os.path.join(folder, "screen.png"))
            except Exception:  # the window may be gone already: keep the rest anyway
                pass
        for kept in ("stderr.txt", "mixed.wav", "valgrind.txt"):
            if os.path.exists(os.path.join(self.folder, kept)):
                shutil.copy(os.path.join(self.folder, kept), folder)
