"""The game's page as a player meets it: its files served from a folder of
their own on 127.0.0.1 and opened in headless Chromium, or in Firefox under
an Xvfb of its own, driven by tests/web/drive.js (puppeteer-core) with real
key events, touches and clicks, its canvas looked at as the game's window
is, and its sounds counted as its Web Audio starts them."""

import base64
import functools
import http.server
import json
import os
import shutil
import struct
import subprocess
import tempfile
import threading
import time

from harness import DEADLINE, SOURCE, TOOL_DEADLINE, Failure, check, wait_for, write
from harness.ear import DETUNE, SOUND_FILES, wav_seconds
from harness.game import Played
from harness.screen import HEIGHT, WIDTH, Screenshot
from harness.x import Xvfb

DRIVER = os.path.join(SOURCE, "tests", "web", "drive.js")
# scripts/npm-tools tests/web build/web-tools, unless ZARV_WEB_TOOLS names another
WEB_TOOLS = os.environ.get("ZARV_WEB_TOOLS", os.path.join(SOURCE, "build", "web-tools", "node_modules"))
# The browser's names for the keys the cases hold, where they differ from X's
PAGE_KEYS = {"Up": "ArrowUp", "Down": "ArrowDown", "Return": "Enter"}
# The page's touch controls, by the key each stands for
TOUCH_KEYS = {"w": "W", "s": "S", "Up": "Up", "Down": "Down", "Return": "Return", "r": "R"}
PAGE_SCREEN = (1920, 1200)  # for Firefox, whose window then holds a page of 1280 x 800


def page_files(site):
    """What a browser fetches of the page: index.html and the files it names,
    which are named by their contents, and the service worker."""
    return sorted(name for name in os.listdir(site) if name in ("index.html", "service-worker.js")
                  or name.startswith(("zarv.", "page.", "online.", "manifest.", "icon.")))


def page_file(site, extension):
    """The page's one zarv.<hash>.<extension>."""
    found = [name for name in page_files(site) if name.startswith("zarv.") and name.endswith("." + extension)]
    check(len(found) == 1, "%s holds %s zarv.*.%s" % (site, len(found), extension))
    return found[0]


class QuietServer(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                          **{".wasm": "application/wasm", ".webmanifest": "application/manifest+json"})

    def log_message(self, *args):
        pass


class SoundLog:
    """The page's sounds as its Web Audio starts them. A sound is told by the
    length of its buffer, the file's own, and by the pitch of its samples (the
    start and stop sounds are as long as each other); its playback rate is the
    pitch the game gave it, within the random detune of up to 7 %."""

    def __init__(self, page, sounds):
        self.page = page
        self.durations = {name: wav_seconds(os.path.join(sounds, name)) for name in SOUND_FILES.values()
                          if os.path.exists(os.path.join(sounds, name))}

    def mark(self):
        return len(self.page.log()["sounds"])

    def heard(self, mark, pitch_range):
        duration = self.durations[SOUND_FILES[pitch_range]]
        return [sound for sound in self.page.log()["sounds"][mark:]
                if abs(sound["duration"] - duration) < 0.001 and DETUNE[0] <= sound["rate"] <= DETUNE[1]
                and pitch_range[0] <= sound["pitch"] * sound["rate"] <= pitch_range[1]]

    def began(self, mark, pitch_range):
        return bool(self.heard(mark, pitch_range))

    def wait_for_sound(self, mark, pitch_range, name):
        try:
            return wait_for(name, lambda: self.heard(mark, pitch_range), self.page.deadline)
        except Failure:
            raise Failure("did not hear %s (a %.3f s buffer); heard %s"
                          % (name, self.durations[SOUND_FILES[pitch_range]], self.page.log()["sounds"][mark:]))


class Page(Played):
    """The page's files copied from site into a folder of their own, served,
    and opened in a browser of its own with a new profile: every load a first
    visit."""

    web = True

    def __init__(self, site, browser="chromium", sounds=None, tamper=None, webgl=True, expect_errors=False,
                 deadline=DEADLINE, options=None, touch=False, query="", url=None):
        """sounds: the folder of the game's WAV files, where they are not in
        site; options: drive.js's (the viewport, the devices stood in for);
        touch: the game's keys held by fingers on the page's controls;
        expect_errors: the case spoils the page on purpose; url: site's page as
        another server serves it (a broker, an invite link), opened as it is."""
        self.site, self.browser, self.tamper, self.webgl = site, browser, tamper, webgl
        self.expect_errors, self.options, self.touch, self.query, self.url = expect_errors, options, touch, query, url
        self.deadline = deadline
        self.start_deadline = max(DEADLINE * 2, deadline)
        self.held = set()
        self.closed = False
        self.place = self.window = True
        self.folder = tempfile.mkdtemp(prefix="zarv-page-")
        self.served = os.path.join(self.folder, "site")
        self.recording = SoundLog(self, sounds or site)
        self.x = self.server = self.process = self.stderr = None

    def start(self):
        if not self.url:
            os.mkdir(self.served)
            for name in page_files(self.site):
                shutil.copy(os.path.join(self.site, name), self.served)
            if self.tamper:
                self.tamper(self.served)
            self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                                          functools.partial(QuietServer, directory=self.served))
            threading.Thread(target=self.server.serve_forever, daemon=True).start()
            self.url = "http://127.0.0.1:%d/index.html%s" % (self.server.server_address[1], self.query)
        env = dict(os.environ, HOME=self.folder, ZARV_NO_WEBGL="0" if self.webgl else "1",
                   NODE_PATH=WEB_TOOLS)
        if self.browser == "firefox":
            self.x = Xvfb(PAGE_SCREEN).__enter__()
            env["DISPLAY"] = self.x.env["DISPLAY"]
        self.stderr = open(os.path.join(self.folder, "driver.txt"), "w+")
        self.process = subprocess.Popen(["node", DRIVER, self.browser, self.url, json.dumps(self.options or {})],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr,
                                        env=env, text=True)
        wait_for("the page to load", lambda: self.evaluate("document.readyState") == "complete", self.start_deadline)
        return self

    def stop(self):
        if self.process and self.process.poll() is None:
            try:
                self.release_all()
            except Failure:  # the browser may be gone already: stop it all the same
                pass
            self.process.stdin.close()
            try:
                self.process.wait(timeout=TOOL_DEADLINE)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.server:
            self.server.shutdown()
            self.server.server_close()
        if self.x:
            self.x.__exit__()
        if self.stderr:
            self.stderr.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def command(self, line):
        """One of drive.js's commands, and its answer."""
        if self.process.poll() is None:
            self.process.stdin.write(line + "\n")
            self.process.stdin.flush()
            answer = self.process.stdout.readline()
        if self.process.poll() is not None or not answer:
            self.stderr.flush()
            self.stderr.seek(0)
            raise Failure("the browser's driver ended:\n" + self.stderr.read()[-3000:])
        value = json.loads(answer)
        if isinstance(value, dict) and "error" in value:
            raise Failure("%s: %s" % (line[:60], value["error"]))
        return value

    def evaluate(self, expression):
        return self.command("eval " + expression)

    def until(self, what, expression, deadline=None, navigating=False):
        """The expression's value once it is truthy. With navigating, an answer
        from a page that is being replaced is an error, and ignored."""
        end = time.monotonic() + (deadline or self.start_deadline)
        while True:
            try:
                value = self.evaluate(expression)
            except Failure:
                if not navigating:
                    raise
                value = None
            if value:
                return value
            check(time.monotonic() < end, "timed out waiting for " + what)
            time.sleep(0.02)

    def shown(self, notice):
        """Whether one of the page's notices (loading, click-to-play, ended, failed) shows; a
        page that is loading anew may not have it yet."""
        return self.evaluate("(notice => !!notice && !notice.hidden)(document.getElementById(%s))"
                             % json.dumps(notice))

    def log(self):
        return self.command("log")

    def hold(self, key):
        if self.touch and key in TOUCH_KEYS:
            self.command("touchstart %s [data-key=%s]" % (key, TOUCH_KEYS[key]))
        else:
            self.command("keydown " + PAGE_KEYS.get(key, key))
        self.held.add(key)

    def release(self, key):
        if self.touch and key in TOUCH_KEYS:
            self.command("touchend " + key)
        else:
            self.command("keyup " + PAGE_KEYS.get(key, key))
        self.held.discard(key)

    def png(self):
        return base64.b64decode(self.command("shot"))

    def screenshot(self):
        """The canvas as shown, at the game's own 1280 x 720 however many device pixels it covers"""
        png = self.png()
        width, height = struct.unpack(">II", png[16:24])
        scale = [] if (width, height) == (WIDTH, HEIGHT) else ["-resize", "%dx%d!" % (WIDTH, HEIGHT)]
        rgb = subprocess.run(["convert", "png:-"] + scale + ["-depth", "8", "rgb:-"], input=png, check=True,
                             capture_output=True, timeout=TOOL_DEADLINE).stdout
        check(len(rgb) == WIDTH * HEIGHT * 3, "screenshot of unexpected size %d" % len(rgb))
        return Screenshot(rgb)

    def save_screenshot(self, path):
        write(path, self.png())

    def exit_status(self, deadline=None):
        """0 once the page says that the game has ended; a page has no other status."""
        wait_for("the page to say that the game has ended", lambda: self.shown("ended"), deadline or self.deadline)
        return 0

    def messages(self):
        return "\n".join("%s: %s" % (m["type"], m["text"]) for m in self.log()["messages"])

    def end(self):
        """A page's session ends with Escape and the page saying that the game
        has ended; the audio that the first key started is running, and no
        uncaught error or console error appeared."""
        if self.expect_errors or self.closed:
            return
        # Online, the first Escape leaves the match, and the next ends the game
        if self.evaluate("!!(window.Module && Module.zarvOnline)") and not self.shown("online-alone"):
            self.press_until("Escape", "the match to end", lambda: self.shown("online-alone"))
        if not self.shown("ended"):
            self.press_until("Escape", "the game to end", lambda: self.shown("ended"))
        wait_for("the page's audio to run", lambda: (lambda states: states and all(
            state == "running" for state in states))(self.evaluate("window.zarvLog.contexts.map(c => c.state)")),
            self.deadline)
        log = self.log()
        errors = [m for m in log["messages"] if m["type"] in ("error", "pageerror")]
        check(not errors, "the page reported errors:\n" + self.messages())
        check(not log["refused"], "the page's Content-Security-Policy refused %s" % log["refused"])

    def close(self):
        """Closes the page's tab, as a player does, the browser left running."""
        self.release_all()
        self.command("close")
        self.closed = True

    def keep_evidence(self, folder):
        if self.process and self.process.poll() is None and not self.closed:
            try:
                self.save_screenshot(os.path.join(folder, "screen.png"))
                write(os.path.join(folder, "console.txt"), self.messages())
            except Failure:
                pass
