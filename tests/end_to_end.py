#!/usr/bin/env python3
"""The real game in its own X server, played with real key presses.

Each case starts build/zarv under a fresh Xvfb, moves its window to (0, 0)
and focuses it (there is no window manager, and keys reach only the focused
window), presses keys with xdotool, looks at the window with ImageMagick's
import and listens to what OpenAL Soft mixed, written to a WAV file by its
wave backend, for each of the game's sounds by the sound's own file. One case
plays no game: it mixes those files into recordings of its own, overlapping,
and listens to them the same way.

The game reads keys as held, once per frame (about 80 frames a second under
Xvfb), so a key is held down until its effect shows, never tapped. Nothing
waits a fixed time: every check polls with a generous deadline.

A Windows zip is unpacked, its file list checked, and its zarv.exe played
the same way under Wine, in a Wine prefix of its own for every case.

A game built for another processor runs through the emulator that --emulator
names (qemu-aarch64-static for arm64), with every deadline ten times longer.

The game built for the browser is played as a page: its folder served on
127.0.0.1, opened in headless Chromium or in Firefox under Xvfb, driven by
tests/web/drive.js (puppeteer-core) with real key events and clicks, its
canvas looked at as above, and its sounds counted as its Web Audio starts
them. No uncaught error and no console error may appear.

Usage: end_to_end.py [--emulator PROGRAM] path/to/zarv [case ...]
       end_to_end.py path/to/zarv-<version>-win64.zip [case ...]
       end_to_end.py --browser chromium|firefox path/to/build-web/page/index.html [case ...]
"""

import array
import base64
import functools
import json
import math
import operator
import os
import re
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import traceback
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "web"))
from browser import SOURCE, DriverError, Session, page_file, page_files  # noqa: E402
from palette import PALETTE, rgb  # noqa: E402

DEADLINE = 30.0  # seconds; generous, so that a slow machine only makes it slower
EMULATED_DEADLINE = DEADLINE * 10  # for a game run through an emulator: every frame is drawn by emulated Mesa
WIDTH, HEIGHT = 1280, 720
ASSETS = ["segoeui.ttf", "menu.wav", "selected.wav", "stop.wav", "zarv.wav"]
WINDOWS_ZIP = ASSETS + ["zarv.exe", "openal32.dll", "README.txt", "LICENSE.txt"] + [
    "licenses/%s.txt" % name for name in ("SFML", "OpenAL-Soft", "FreeType", "Ogg-Vorbis-FLAC", "OpenSans", "MinGW-w64")]
# Wine's own Minesweeper: in every Wine, and S, Return and Escape leave it open
OTHER_WINDOWS_PROGRAM = r"C:\windows\system32\winemine.exe"
OUTPUT_LIMIT = 64 << 20  # bytes in any file the game writes: a Wine without its display writes gigabytes

# The palette, and the paddles' translucent colours as they come out over the white arena
BACKDROP, WHITE, SLATE, MIST, STEEL, MAGENTA = map(rgb, ["Backdrop", "White", "Slate", "Mist", "Steel", "Magenta"])
BLUE_OVER_WHITE = (127, 126, 252)
RED_OVER_WHITE = (254, 126, 125)

# Pitches of the synthesised sounds (Hz), before the game's random detune of up to 7 %
MENU_HZ = (560, 780)
START_HZ = (780, 1450)
STOP_HZ = (220, 560)
BOUNCE_HZ = (1250, 1800)
SOUND_FILES = {MENU_HZ: "menu.wav", START_HZ: "selected.wav", STOP_HZ: "stop.wav", BOUNCE_HZ: "zarv.wav"}


class Failure(Exception):
    pass


def wine_programs():
    """Wine's loader and server, called directly (the wine script prints a notice
    about the missing 32-bit Wine) from wherever this release's wine64 puts them."""
    files = subprocess.run(["dpkg-query", "-L", "wine64"], check=True, capture_output=True,
                           text=True).stdout.split()
    found = {}
    for path in files:
        name = os.path.basename(path)
        if "/lib/" in path and name in ("wine64", "wine", "wineserver64", "wineserver") and os.path.isfile(path):
            found.setdefault("server" if name.startswith("wineserver") else "loader", path)
    return found["loader"], found["server"]


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, probe, deadline=DEADLINE):
    """Polls probe() until it returns something truthy; fails after the deadline."""
    end = time.monotonic() + deadline
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() > end:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.05)


TOOL_DEADLINE = 60  # seconds for one xdotool, import or tesseract call
PLACE_TRY = 10  # seconds for one try at moving and focusing the window


def run(*command, env=None):
    return subprocess.run(command, env=env, check=True, capture_output=True, text=True,
                          timeout=TOOL_DEADLINE).stdout


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


RATE = 44100  # samples a second, of the recording and of the sound files
DECIMATION = 4  # the sounds' pitches lie below 3.5 kHz: a quarter of the samples keeps them
HOP = 110  # decimated samples from one analysed window to the next: 10 ms
WINDOW = 330  # decimated samples a window: 30 ms, to tell 1320 Hz from 1400 Hz
BIN_HZ = RATE / DECIMATION / WINDOW  # the frequencies looked at, a window's resolution apart
DETUNE = (0.93, 1.07)  # a sound may play up to 7 % off its file's pitch: the menu's is new every frame
MISFIT = 0.3  # how far a sound's loudness, window by window, may stray from its file's
QUIETEST = 0.5  # how much quieter than its file a sound may be heard: it plays at full volume


def read_pcm(path, start=0):
    """A 16-bit mono WAV file's samples from sample start on; none before its header is written."""
    try:
        with open(path, "rb") as wav:
            offset = wav.read(512).find(b"data")
            if offset < 0:
                return array.array("h")
            wav.seek(offset + 8 + 2 * start)
            body = wav.read()
    except FileNotFoundError:
        return array.array("h")
    return array.array("h", body[:len(body) // 2 * 2])


def decimated(pcm):
    return list(map(sum, zip(*[iter(pcm)] * DECIMATION)))


@functools.lru_cache(maxsize=None)
def probe(frequency_bin):
    """A Hann window's cosine and sine at that frequency, scaled so that a sine
    wave of amplitude a before decimation measures a."""
    hann = [0.5 - 0.5 * math.cos(2 * math.pi * (n + 0.5) / WINDOW) for n in range(WINDOW)]
    scale = 2 / sum(hann) / DECIMATION
    step = 2 * math.pi * frequency_bin * BIN_HZ * DECIMATION / RATE
    return ([h * scale * math.cos(step * n) for n, h in enumerate(hann)],
            [h * scale * math.sin(step * n) for n, h in enumerate(hann)])


def amplitude(window, frequency_bin):
    cosine, sine = probe(frequency_bin)
    return math.hypot(sum(map(operator.mul, window, cosine)), sum(map(operator.mul, window, sine)))


def stretch_pitch(pcm):
    """The pitch of a sound's loud part, from its zero crossings, in Hz."""
    loud = [i for i, s in enumerate(pcm) if abs(s) > 1500]
    if not loud:
        return 0
    part = pcm[loud[0]:loud[-1] + 1]
    crossings = sum(1 for a, b in zip(part, part[1:]) if (a < 0) != (b < 0))
    return crossings / 2 / (len(part) / RATE)


@functools.lru_cache(maxsize=None)
def sound_track(data):
    """A sound file's loudest frequency in each window, as the frequency bins
    the game may play it at, and its amplitude there: [(bins, amplitude)]."""
    samples = decimated(array.array("h", data))
    scanned = range(int(150 / BIN_HZ), int(2000 / BIN_HZ))
    track = []
    for start in range(0, len(samples), HOP):
        window = (samples[start:start + WINDOW] + [0] * WINDOW)[:WINDOW]
        loudest = max(scanned, key=lambda b: amplitude(window, b))
        track.append((range(int(loudest * DETUNE[0]), math.ceil(loudest * DETUNE[1]) + 1),
                      amplitude(window, loudest)))
    return track


class Recording:
    """The game's mixed sound, as OpenAL Soft's wave backend writes it: 16-bit
    mono. A sound file is heard where, window after window, the recording's
    loudest peak near the file's loudest frequency (within the game's detune)
    follows the file's loudness there: a sound that overlaps it at other
    frequencies leaves it alone."""

    def __init__(self, path, sounds, deadline):
        """sounds: the folder of the sound files that the game plays."""
        self.path = path
        self.sounds = sounds
        self.deadline = deadline
        self.decimated = []
        self.spectra = {}  # window -> {frequency bin: amplitude}
        self.loudness = {}  # (window, frequency bins) -> the loudest amplitude among them
        self.tracks = {}  # pitch range -> (the file's pitch, its track)
        self.fits = {}  # pitch range -> {onset window: (misfit, gain)}

    def samples(self, start=0):
        return read_pcm(self.path, start)

    def mark(self):
        return len(self.samples())

    def track(self, pitch_range):
        """The track of the sound file of pitch_range, once the file's own pitch
        is found in it. The first call works out every file's, so that none is
        left for a moment when a case times its keys by a sound."""
        if not self.tracks:
            for each, name in SOUND_FILES.items():
                pcm = read_pcm(os.path.join(self.sounds, name))
                self.tracks[each] = stretch_pitch(pcm), sound_track(pcm.tobytes())
        pitch, track = self.tracks[pitch_range]
        check(pitch_range[0] <= pitch <= pitch_range[1], "%s sounds at %.0f Hz, not %s..%s"
              % (SOUND_FILES[pitch_range], pitch, pitch_range[0], pitch_range[1]))
        return track

    def loudest(self, window, band):
        """The amplitude of the loudest frequency in band, where the spectrum
        peaks: the flank of a louder sound just outside it is not its own."""
        if (window, band) not in self.loudness:
            spectrum = self.spectra.setdefault(window, {})
            samples = self.decimated[window * HOP:window * HOP + WINDOW]
            silent = not any(samples)  # as the mix is between sounds
            for b in range(band.start - 1, band.stop + 1):
                if b not in spectrum:
                    spectrum[b] = 0 if silent else amplitude(samples, b)
            self.loudness[window, band] = max((spectrum[b] for b in band
                                               if spectrum[b - 1] <= spectrum[b] >= spectrum[b + 1]), default=0)
        return self.loudness[window, band]

    def fit(self, onset, track):
        """(misfit, gain) of the sound beginning in the onset window. A sound
        played up to 7 % slower or faster ends up to two windows later or
        sooner, which stays well within MISFIT."""
        expected = [a for _, a in track]
        heard = [self.loudest(onset + k, band) for k, (band, _) in enumerate(track)]
        power = sum(a * a for a in expected)
        gain = sum(map(operator.mul, heard, expected)) / power
        if gain <= 0:
            return math.inf, 0
        return math.sqrt(sum((h - gain * a) ** 2 for h, a in zip(heard, expected)) / power) / gain, gain

    def windows_since(self, mark, length=1):
        """The windows after mark where a sound of length windows may begin, as far as the recording goes."""
        self.decimated += decimated(self.samples(len(self.decimated) * DECIMATION))
        # from the window that mark falls in: a sound may begin late in it
        return range(mark // (DECIMATION * HOP), (len(self.decimated) - WINDOW) // HOP - length + 2)

    def began(self, mark, pitch_range):
        """Whether the sound of pitch_range has begun after mark: its first window is heard."""
        band, loudness = self.track(pitch_range)[0]
        return any(self.loudest(window, band) >= QUIETEST * loudness for window in self.windows_since(mark))

    def onsets(self, mark, pitch_range):
        """The windows where the sound of pitch_range begins after mark, as far as the recording goes."""
        track = self.track(pitch_range)
        fits = self.fits.setdefault(pitch_range, {})
        runs = []
        for onset in self.windows_since(mark, len(track)):
            if onset not in fits:
                fits[onset] = self.fit(onset, track)
            misfit, gain = fits[onset]
            if misfit <= MISFIT and gain >= QUIETEST:
                if runs and runs[-1][-1] == onset - 1:
                    runs[-1].append(onset)
                else:
                    runs.append([onset])
        return [min(run, key=lambda onset: fits[onset][0]) for run in runs]

    def seconds(self, mark, onset):
        return round(max(0, onset * HOP * DECIMATION - mark) / RATE, 3)

    def sounds_since(self, mark):
        """(seconds after mark, sound file) of each sound heard, in order."""
        return sorted((self.seconds(mark, onset), SOUND_FILES[pitch_range])
                      for pitch_range in SOUND_FILES for onset in self.onsets(mark, pitch_range))

    def wait_for_sound(self, mark, pitch_range, name):
        try:
            return wait_for(name, lambda: self.onsets(mark, pitch_range), self.deadline)
        except Failure:
            raise Failure("did not hear %s (%s, %s..%s Hz); heard %s"
                          % (name, SOUND_FILES[pitch_range], pitch_range[0], pitch_range[1],
                             self.sounds_since(mark)))


def played(pcm, pitch):
    """Samples as the game plays them at this pitch: resampled, by straight lines."""
    places = [i * pitch for i in range(int((len(pcm) - 1) / pitch))]
    return [pcm[int(x)] + (pcm[int(x) + 1] - pcm[int(x)]) * (x % 1) for x in places]


def write_mix(path, sounds):
    """A WAV file of sounds [(pcm, pitch, seconds)] played together, each from its own moment."""
    mix = []
    for pcm, pitch, seconds in sounds:
        start = round(seconds * RATE)
        resampled = played(pcm, pitch)
        mix += [0.0] * (start + len(resampled) - len(mix))
        mix[start:start + len(resampled)] = map(operator.add, mix[start:start + len(resampled)], resampled)
    mix += [0.0] * (RATE // 2)  # as the game's mix goes on
    body = array.array("h", [max(-32768, min(32767, round(s))) for s in mix]).tobytes()
    with open(path, "wb") as wav:
        wav.write(b"RIFF" + struct.pack("<I4s4sIHHIIHH4sI", 36 + len(body), b"WAVE", b"fmt ", 16, 1, 1, RATE,
                                        RATE * 2, 2, 16, b"data", len(body)) + body)


def start_xvfb(screen):
    """A fresh X server, and its DISPLAY. -noreset: by default the server
    resets when its last client leaves, and refuses connections while it does."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % screen,
         "-nolisten", "tcp", "-noreset"], pass_fds=[write_end],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        display = pipe.readline().strip()
    check(display, "Xvfb did not start")
    return xvfb, ":" + display


class Game:
    """build/zarv under its own Xvfb, in a working folder with the chosen assets."""

    web = False

    def __init__(self, binary, assets=ASSETS, wrapper=(), args=(), tamper=None, sound=True,
                 screen=(WIDTH, HEIGHT), place=True, deadline=DEADLINE):
        """tamper(folder) may spoil the assets before the game starts; with
        sound False the game gets no OpenAL configuration at all; with place
        False the window stays where the game put it, unfocused. deadline is
        what the cases allow each step."""
        self.wine = binary.endswith(".exe")
        if self.wine:  # Wine shows the window before the game centres it, which may undo
            # place_window's move: on a screen that holds it anywhere it is whole either way
            self.wine_loader, self.wine_server = wine_programs()
            wrapper, screen = [self.wine_loader], (1920, 1080)
        self.command = list(wrapper) + [binary] + list(args)
        self.tamper = tamper
        self.sound = sound
        self.start_deadline = max(DEADLINE * (10 if wrapper else 1), deadline)
        self.deadline = deadline
        self.binary = binary
        self.assets = assets
        self.screen = screen
        self.place = place
        self.held = set()

    def start(self):
        self.xvfb = self.process = self.stderr = self.window = self.env = self.recording = None
        self.folder = tempfile.mkdtemp(prefix="zarv-e2e-")
        for name in self.assets:
            shutil.copy(os.path.join(os.path.dirname(self.binary), name), self.folder)
        if self.tamper:
            self.tamper(self.folder)
        mixed = os.path.join(self.folder, "mixed.wav")
        with open(os.path.join(self.folder, "alsoft.conf"), "w") as conf:
            conf.write("[general]\ndrivers = wave\nchannels = mono\nsample-type = int16\n"
                       "frequency = 44100\ndither = false\n[wave]\nfile = %s\n" % mixed)

        self.xvfb, display = start_xvfb(self.screen)
        self.env = dict(os.environ, DISPLAY=display,
                        ALSOFT_CONF=os.path.join(self.folder, "alsoft.conf"))
        self.env.pop("ALSOFT_DRIVERS", None)
        if not self.sound:
            del self.env["ALSOFT_CONF"]
        if self.wine:  # every wine and wineserver call sees DISPLAY and this prefix
            self.env.update(WINEPREFIX=os.path.join(self.folder, "wine"), WINEDEBUG="-all",
                            WINEDLLOVERRIDES="mscoree,mshtml=")  # no .NET or Gecko installers

        self.stderr = open(os.path.join(self.folder, "stderr.txt"), "w+")
        game_env = dict(self.env)
        if os.environ.get("ZARV_GAME_PRELOAD"):  # set by the sanitizer build's tests
            game_env["LD_PRELOAD"] = os.environ["ZARV_GAME_PRELOAD"]
        if self.wine:  # creates the prefix; with no window manager to hand over the keyboard
            # focus, Wine is to follow X's focus itself
            subprocess.run([self.wine_loader, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "UseTakeFocus",
                            "/d", "N", "/f"], env=self.env, check=True, capture_output=True,
                           timeout=self.start_deadline)
        limit = (lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (OUTPUT_LIMIT,) * 2)) if self.wine else None
        self.process = subprocess.Popen(self.command, cwd=self.folder, env=game_env,
                                        stdout=subprocess.DEVNULL, stderr=self.stderr, preexec_fn=limit)
        self.window = wait_for("the game's window", self.find_window, self.start_deadline)
        # The game reads its sounds from its working folder, which a launcher changes to
        playing = self.folder if self.assets else os.readlink("/proc/%d/cwd" % self.process.pid)
        self.recording = Recording(mixed, playing, self.deadline)
        if self.place:
            wait_for("the window at (0, 0) with the focus", self.place_window, self.start_deadline)
        return self

    def stop(self):
        for key in list(self.held):
            self.release(key)
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if self.wine and self.env:  # Wine's own processes, before their X server goes
            for option in ("-k", "-w"):
                subprocess.run([self.wine_server, option], env=self.env, timeout=TOOL_DEADLINE)
        self.remove_the_rest()

    def remove_the_rest(self):
        """The X server, the log and the working folder, once the game is gone."""
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()
        if self.stderr:
            self.stderr.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def xdotool(self, *args):
        return run("xdotool", *args, env=self.env)

    def find_window(self):
        check(self.process.poll() is None, "the game ended before its window showed")
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Zarv$"], env=self.env,
                               capture_output=True, text=True, timeout=TOOL_DEADLINE).stdout.split()
        return found[0] if found else None

    def place_window(self):
        """Without a window manager nobody gives the window the focus, and under
        Wine it may stand off the screen's corner: do both, until they stick. A
        move that the game's own centring undoes leaves --sync waiting, so each
        try has a time limit of its own, and then the next try follows."""
        try:
            for command in (["windowmove", "--sync", self.window, "0", "0"],
                            ["windowfocus", "--sync", self.window]):
                if subprocess.run(["xdotool"] + command, env=self.env, capture_output=True,
                                  timeout=PLACE_TRY).returncode != 0:
                    return False
        except subprocess.TimeoutExpired:
            return False
        return True

    def hold(self, key):
        # Real key events (XTEST), not sent ones: the game asks the X server
        # which keys are down, and only real events change that.
        self.xdotool("keydown", key)
        self.held.add(key)

    def release(self, key):
        self.xdotool("keyup", key)
        self.held.discard(key)

    def press_until(self, key, what, probe, deadline=None):
        """Holds key until probe() sees its effect, then lets go."""
        self.hold(key)
        try:
            return wait_for(what, probe, deadline or self.deadline)
        finally:
            self.release(key)

    def screenshot(self):
        # import asks for a window to be clicked if its window is gone: never
        # call it after the game has ended, and never wait on it for long.
        check(self.process.poll() is None, "the game ended unexpectedly")
        rgb = subprocess.run(["import", "-window", self.window, "-depth", "8", "rgb:-"],
                             env=self.env, check=True, capture_output=True, timeout=TOOL_DEADLINE).stdout
        check(len(rgb) == WIDTH * HEIGHT * 3, "screenshot of unexpected size %d" % len(rgb))
        return Screenshot(rgb)

    def save_screenshot(self, path):
        check(self.process.poll() is None, "the game ended unexpectedly")
        run("import", "-window", self.window, path, env=self.env)

    def exit_status(self, deadline=None):
        return wait_for("the game to exit", lambda: self.process.poll() is not None
                        and (self.process.returncode,), deadline or self.deadline)[0]

    def messages(self):
        self.stderr.flush()
        self.stderr.seek(0)
        return self.stderr.read()


# The browser's names for the keys the cases hold, where they differ from X's
PAGE_KEYS = {"Up": "ArrowUp", "Down": "ArrowDown", "Return": "Enter"}
# The page's touch controls, by the key each stands for
TOUCH_KEYS = {"w": "W", "s": "S", "Up": "Up", "Down": "Down", "Return": "Return", "r": "R"}
PAGE_SCREEN = (1920, 1200)  # for Firefox, whose window then holds a page of 1280 x 800


def wav_seconds(path):
    """The length of a PCM WAV file, from its header."""
    with open(path, "rb") as wav:
        data = wav.read()
    rate, = struct.unpack_from("<I", data, data.find(b"fmt ") + 12)
    block, = struct.unpack_from("<H", data, data.find(b"fmt ") + 20)
    size, = struct.unpack_from("<I", data, data.find(b"data") + 4)
    return size / block / rate


class SoundLog:
    """The page's sounds as its Web Audio starts them. A sound is told by the
    length of its buffer, the file's own, and by the pitch of its samples (the
    start and stop sounds are as long as each other); its playback rate is the
    pitch the game gave it, within the random detune of up to 7 %."""

    def __init__(self, page, durations):
        self.page = page
        self.durations = durations

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


class Page(Game):
    """The game's page, served from a folder of its own on 127.0.0.1 and
    opened in a browser through tests/web/drive.js; the same cases play it."""

    web = True

    def __init__(self, index, browser, tamper=None, webgl=True, expect_errors=False, deadline=DEADLINE,
                 sounds=None, options=None, touch=False):
        """sounds: the folder of the game's WAV files, where they are not beside index.html;
        options: drive.js's (the viewport, the devices stood in for); touch: the game's keys
        held by fingers on the page's controls"""
        self.site = os.path.dirname(index)
        self.sounds = sounds or self.site
        self.browser = browser
        self.tamper = tamper
        self.webgl = webgl
        self.expect_errors = expect_errors  # a case that spoils the page on purpose
        self.deadline = deadline
        self.start_deadline = max(DEADLINE * 2, deadline)
        self.wine = False
        self.place = True
        self.held = set()
        self.options = options
        self.touch = touch

    def start(self):
        self.xvfb = self.process = self.stderr = self.session = None
        self.window = True
        self.folder = tempfile.mkdtemp(prefix="zarv-web-")
        site = os.path.join(self.folder, "site")
        os.mkdir(site)
        for name in page_files(self.site):
            shutil.copy(os.path.join(self.site, name), site)
        if self.tamper:
            self.tamper(site)
        self.recording = SoundLog(self, {name: wav_seconds(os.path.join(self.sounds, name))
                                         for name in SOUND_FILES.values()
                                         if os.path.exists(os.path.join(self.sounds, name))})
        self.env = dict(os.environ, ZARV_NO_WEBGL="0" if self.webgl else "1")
        if self.browser == "firefox":
            self.xvfb, self.env["DISPLAY"] = start_xvfb(PAGE_SCREEN)
        self.stderr = open(os.path.join(self.folder, "stderr.txt"), "w+")
        self.session = Session(site, self.browser, self.folder, self.env, self.stderr, self.options)
        self.process = self.session.process
        wait_for("the page to load", lambda: self.command("eval document.readyState") == "complete",
                 self.start_deadline)
        return self

    def command(self, line):
        try:
            return self.session.command(line)
        except DriverError as error:
            raise Failure(str(error))

    def shown(self, notice):
        """Whether one of the page's notices (loading, click-to-play, ended, failed) shows; a
        page that is loading anew may not have it yet."""
        return self.command("eval (notice => !!notice && !notice.hidden)(document.getElementById(%s))"
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
        with open(path, "wb") as png:
            png.write(self.png())

    def exit_status(self, deadline=None):
        """0 once the page says that the game has ended; a page has no other status."""
        wait_for("the page to say that the game has ended", lambda: self.shown("ended"), deadline or self.deadline)
        return 0

    def messages(self):
        return "\n".join("%s: %s" % (m["type"], m["text"]) for m in self.log()["messages"])

    def stop(self):
        if self.process and self.process.poll() is None:
            try:
                for key in list(self.held):
                    self.release(key)
            except Exception:  # the browser may be gone already: stop it all the same
                pass
        if self.session:
            self.session.stop(TOOL_DEADLINE)
        self.remove_the_rest()


# What the screen shows

CPU_OPTION = (540, 280, 740, 322)
PVP_OPTION = (540, 400, 740, 442)
COUNTDOWN_AREA = (480, 60, 760, 420)


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


BLUE_SCORE = "260x330+0+220"
RED_SCORE = "280x330+1000+220"  # clear of the arena's rim


def rim_point(bearing):
    """The pixel in the middle of the paddles' band at this bearing (radians)."""
    return (int(round(640 + 342 * math.cos(bearing))), int(round(360 + 342 * math.sin(bearing))))


def paddle_at(shot, colour, rotation):
    """The paddle covers bearings [r, r + 0.5] and nothing just beyond either end."""
    r = math.radians(rotation)
    return (near(shot.pixel(*rim_point(r + 0.25)), colour)
            and near(shot.pixel(*rim_point(r - 0.05)), WHITE)
            and near(shot.pixel(*rim_point(r + 0.55)), WHITE))


def red_ball_seen(shot):
    """A red ball inside the arena, well clear of the rim where the red paddle is."""
    found = 0
    for y in range(60, 660, 2):
        for x in range(340, 940, 2):
            if (x - 640) ** 2 + (y - 360) ** 2 < 310 ** 2 and near(shot.pixel(x, y), RED_OVER_WHITE):
                found += 1
    return found > 20


def read_scores(game):
    """Reads both scores from one screenshot as a player would: tesseract on
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


def scores_read(game, blue, red):
    return read_scores(game) == (blue, red)


def start_game(game, option):
    """From the menu: highlight option 1 or 2, then Return until the countdown shows."""
    wait_for("the menu", lambda: menu_shown(game.screenshot()), game.deadline)
    key = "s" if option == 2 else "w"
    game.press_until(key, "option %d highlighted" % option,
                     lambda: highlighted_option(game.screenshot()) == option)
    game.press_until("Return", "the countdown", lambda: countdown_shown(game.screenshot()))


# The cases

def case_overlapping_sounds_heard_apart(folder):
    """The harness's ear, with no game: the game's own sound files, from the
    folder beside it, mixed into recordings of the harness's own. Each sound
    alone, at either end of the game's detune, is heard as itself and as no
    other, so a stop sound that is not there is missed. The stop sound
    beginning 0 to 0.3 s after the start sound, and wholly inside a start
    sound that rings on (three, one after another), is heard where it begins."""
    pcm = {name: read_pcm(os.path.join(folder, name)) for name in SOUND_FILES.values()}
    start, stop = SOUND_FILES[START_HZ], SOUND_FILES[STOP_HZ]
    mixes = [[(name, pitch, 0)] for name in pcm for pitch in DETUNE]
    pitches = (DETUNE[0], 1, DETUNE[1])
    mixes += [[(start, pitches[i % 3], 0), (stop, pitches[(i + 1) % 3], i * 0.05)] for i in range(7)]
    mixes.append([(start, 1, 0), (start, 1, 0.3), (start, 1, 0.6), (stop, 1, 0.4)])
    with tempfile.TemporaryDirectory(prefix="zarv-ear-") as scratch:
        path = os.path.join(scratch, "mixed.wav")
        for mix in mixes:
            write_mix(path, [(pcm[name], pitch, seconds) for name, pitch, seconds in mix])
            heard = Recording(path, folder, 0).sounds_since(0)
            check(len(heard) == len(mix) and all(any(name == n and abs(seconds - s) <= 0.03 for s, n in heard)
                                                  for name, _, seconds in mix),
                  "mixed %s, heard %s" % (mix, heard))


def case_page_style_takes_the_game_palette(folder):
    """The page's style names each of the game's colours that it shows once,
    in its :root, with the palette's values, and writes none of them again."""
    with open(os.path.join(SOURCE, "web", "page", "page.css")) as f:
        style = f.read()
    named = {name: tuple(int(v) for v in values.split(","))
             for name, values in re.findall(r"--([a-z]+): ([\d, ]+);", style)}
    by_css = {name.lower(): rgb(name) for name in PALETTE}
    check(named and all(by_css.get(name) == value for name, value in named.items()),
          "the page's colours %s are not the game's %s" % (named, by_css))
    body = style.replace(re.search(r":root \{[^}]*\}", style).group(0), "")
    literals = [tuple(int(h[i:i + 2], 16) for i in (0, 2, 4)) for h in re.findall(r"#([0-9a-fA-F]{6})\b", body)]
    literals += [tuple(int(v) for v in values.split(",")[:3])
                 for values in re.findall(r"rgba?\((\d+, *\d+, *\d+)", body)]
    again = sorted(set(literals) & set(by_css.values()))
    check(not again, "the page's style writes the game's colours %s again" % again)


def case_window_title_size_and_place(game):
    """On a 1920 x 1080 screen, left where the game puts it."""
    check(game.xdotool("getwindowname", game.window).strip() == "Zarv", "title is not Zarv")
    wait_for("the window centred on the screen, at (320, 180)",
             lambda: "Position: 320,180 " in game.xdotool("getwindowgeometry", game.window), game.deadline)
    geometry = game.xdotool("getwindowgeometry", game.window)
    check("Geometry: 1280x720" in geometry, "window is not 1280x720: " + geometry)
    hints = run("xprop", "-id", game.window, "WM_NORMAL_HINTS", env=game.env)
    check("minimum size: 1280 by 720" in hints and "maximum size: 1280 by 720" in hints,
          "the window can be resized: " + hints)


def case_menu_looks_right(game):
    shot = wait_for("the menu", lambda: (lambda s: menu_shown(s) and s)(game.screenshot()), game.deadline)
    check(near(shot.pixel(5, 5), BACKDROP), "backdrop is %s" % (shot.pixel(5, 5),))
    check(near(shot.pixel(640, 120), WHITE), "arena is %s" % (shot.pixel(640, 120),))
    check(near(shot.pixel(640, 360 - 350 - 3), STEEL, 12), "arena rim is not Steel")
    check(paddle_at(shot, BLUE_OVER_WHITE, 180), "the blue paddle is not on the left, above the middle")
    check(paddle_at(shot, RED_OVER_WHITE, 0), "the red paddle is not on the right, below the middle")
    check(near(shot.pixel(640, 200), WHITE), "something covers the top of the arena")
    check(near(shot.pixel(640, 360), MIST), "the ball shows over the menu box")
    check(highlighted_option(shot) == 1, "Player v CPU is not highlighted")
    check(shot.count(STEEL, (900, 630, 1190, 700)) > 300, "no hint at the bottom right")
    if game.web and not game.touch:
        check(game.command("eval [...document.querySelectorAll('[data-key]')].every(c => !c.offsetParent)"),
              "touch controls shown on a desktop with a mouse")


def keys_typed_elsewhere_do_nothing(game):
    """Another window takes the focus and gets S, Return and Escape, while the
    pointer crosses in and out of the game's window: the game reads the
    keyboard's state, and must not take those keys for the player's.

    Under Wine the other window is another Windows program's, which takes the
    foreground from the game as it would on Windows, and Alt+F4 closes it so that
    the game's window is active again. An X window outside Wine would not do:
    with no window manager to confirm a window's state, Wine 10 ignores the X
    focus moving away from the game, and the game is never told."""
    if game.wine:  # by its full path the program is the very process started, whose pid its window carries
        other = subprocess.Popen([game.wine_loader, OTHER_WINDOWS_PROGRAM], cwd=game.folder, env=game.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        search = ["--pid", str(other.pid)]
    else:
        other = subprocess.Popen(["xmessage", "-geometry", "+0+0", "typing elsewhere"], env=game.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        search = ["--class", "xmessage"]
    try:
        found = wait_for("another window", lambda: subprocess.run(
            ["xdotool", "search", "--onlyvisible"] + search, env=game.env,
            capture_output=True, text=True, timeout=TOOL_DEADLINE).stdout.split(), game.start_deadline)
        game.xdotool("windowfocus", "--sync", found[0])
        for key in ("s", "Return", "Escape"):
            game.hold(key)
        for _ in range(10):  # into the game's window, then onto the other one
            game.xdotool("mousemove", "--sync", "640", "600")
            game.xdotool("mousemove", "--sync", "--window", found[0], "20", "20")
            shot = game.screenshot()
            check(menu_shown(shot) and highlighted_option(shot) == 1,
                  "keys typed into another window reached the game")
        for key in ("s", "Return", "Escape"):
            game.release(key)
        if game.wine:
            game.xdotool("key", "alt+F4")
            wait_for("the other program to close on Alt+F4", lambda: other.poll() is not None,
                     game.start_deadline)
    finally:
        if other.poll() is None:
            other.kill()
        other.wait()
    wait_for("the focus back on the game", game.place_window, game.start_deadline)


def keys_typed_into_the_page_do_nothing(game):
    """A text box on the page takes the focus from the canvas with a real
    click, and gets S, Return and Escape: the page says "click to play", and
    the game, which hears only its canvas's keys, takes none of them. A
    click on the canvas gives it the focus back."""
    game.command("eval (() => { const box = document.createElement('input'); box.id = 'elsewhere';"
                 " box.style = 'position: fixed; left: 0; top: 0'; document.body.appendChild(box); })()")
    game.command("click #elsewhere")
    wait_for('"click to play"', lambda: game.shown("click-to-play"), game.deadline)
    for key in ("s", "Return", "Escape"):
        game.hold(key)
    for _ in range(10):
        shot = game.screenshot()
        check(menu_shown(shot) and highlighted_option(shot) == 1, "keys typed into a text box reached the game")
    for key in ("s", "Return", "Escape"):
        game.release(key)
    check(game.command("eval document.getElementById('elsewhere').value") == "s",
          "the text box did not get its key")
    check(not game.shown("ended"), "Escape typed into a text box ended the game")
    game.command("click #canvas")
    wait_for('"click to play" to go', lambda: not game.shown("click-to-play"), game.deadline)


def case_menu_keys_sounds_and_screens(game):
    wait_for("the menu", lambda: menu_shown(game.screenshot()), game.deadline)
    if game.web:
        keys_typed_into_the_page_do_nothing(game)
    else:
        keys_typed_elsewhere_do_nothing(game)

    mark = game.recording.mark()
    game.press_until("s", "the highlight to move down",
                     lambda: highlighted_option(game.screenshot()) == 2)
    game.recording.wait_for_sound(mark, MENU_HZ, "the menu sound")

    game.press_until("Up", "the highlight to move up",
                     lambda: highlighted_option(game.screenshot()) == 1)

    # R comes as soon as the start sound begins, not once the countdown shows,
    # which a screenshot may see only after the sound is over: the start and stop
    # sounds overlap on every run, as they do for players who press both quickly.
    # R is held until the stop sound begins, as a slow machine may still show
    # the menu the game has just left.
    mark = game.recording.mark()
    game.press_until("Return", "the start sound to begin", lambda: game.recording.began(mark, START_HZ))
    stop_mark = game.recording.mark()
    game.press_until("r", "the stop sound to begin", lambda: game.recording.began(stop_mark, STOP_HZ))
    wait_for("the menu to come back", lambda: menu_shown(game.screenshot()), game.deadline)
    game.recording.wait_for_sound(mark, START_HZ, "the start sound")
    game.recording.wait_for_sound(stop_mark, STOP_HZ, "the stop sound")
    check(highlighted_option(game.screenshot()) == 1, "the highlight moved on R")



def case_no_assets_still_plays_silently(game):
    shot = wait_for("the shapes", lambda: (lambda s: menu_shown(s) and s)(game.screenshot()), game.deadline)
    check(near(shot.pixel(640, 120), WHITE), "no arena without assets")
    check(paddle_at(shot, BLUE_OVER_WHITE, 180), "no blue paddle without assets")
    check(highlighted_option(shot) is None, "text drawn without a font")

    game.press_until("Return", "the ball to show as the menu goes",
                     lambda: near(game.screenshot().pixel(640, 360), MAGENTA))
    game.hold("Escape")
    check(game.exit_status() == 0, "did not exit 0 on Escape without assets")
    pcm = game.recording.samples()
    check(len(pcm) > 0, "nothing was recorded at all")
    check(max(abs(s) for s in pcm) == 0, "a sound was heard without sound files")
    messages = game.messages()
    check("segoeui.ttf" in messages and "menu.wav" in messages,
          "SFML's messages are missing from stderr: " + messages)


def case_untouched_serve_costs_both_sides_a_point(game):
    # Nobody steers, so every serve escapes: a reading slower than a whole rally
    # (a busy machine) sees a later score. Then R clears the scores and the
    # first rally is tried again.
    for attempt in range(3):
        wait_for("the scores to read 0 and 0", lambda: scores_read(game, "0", "0"), game.deadline)
        start_game(game, 2)
        # Served from the centre down and to the right, below the red paddle
        blue, red = wait_for("a point to fall", lambda: (lambda s: s != ("0", "0") and s)(read_scores(game)),
                             game.deadline)
        check(blue == red and blue.startswith("-"), "an untouched serve scored %s and %s" % (blue, red))
        if blue == "-1":
            wait_for("the countdown again", lambda: countdown_shown(game.screenshot()), game.deadline)
            return
        print("  read %s and %s, after more than one point: again" % (blue, red))
        game.press_until("r", "the menu", lambda: menu_shown(game.screenshot()))
    raise Failure("never read the first point in time")


def case_cpu_meets_the_first_serve(game):
    start_game(game, 1)
    mark = game.recording.mark()
    # The serve heads down and right; the computer turns its paddle into the
    # ball's way, and its hit turns the ball red.
    wait_for("the ball to turn red", lambda: red_ball_seen(game.screenshot()), game.deadline)
    game.recording.wait_for_sound(mark, BOUNCE_HZ, "the bounce sound")
    # The point goes to a paddle that touched the ball: almost always red, as the
    # ball escapes past the idle blue paddle, but a bounce can find blue first.
    # A busy machine may read the scores only after the next point, which the
    # computer meets too: no side loses one.
    scores = wait_for("the first point", lambda: (lambda s: s != ("0", "0") and s)(read_scores(game)),
                      game.deadline)
    check(all(score.isdigit() for score in scores), "the first points read %s" % (scores,))


def hold_through_a_miss(game, keys, blue, red):
    """Held through a rally, keys turn the paddles every live frame; the
    untouched serve escapes, the miss puts both paddles home, and the keys still
    held turn them once more: they wait out the countdown there, at blue and red
    degrees."""
    for key in keys:
        game.hold(key)
    wait_for("blue at %d and red at %d after a miss with %s held" % (blue, red, "+".join(keys)),
             lambda: (lambda s: countdown_shown(s) and paddle_at(s, BLUE_OVER_WHITE, blue)
                      and paddle_at(s, RED_OVER_WHITE, red))(game.screenshot()), game.deadline)
    for key in keys:
        game.release(key)


def case_players_steer_their_own_paddles(game):
    start_game(game, 2)
    hold_through_a_miss(game, ["w", "Up"], 185, 355)  # both up their own side
    hold_through_a_miss(game, ["Down"], 180, 5)       # red down; blue left alone
    blue, red = read_scores(game)
    check(blue == red and int(blue) <= -2, "untouched serves scored %s and %s" % (blue, red))


# A case with no options has no game: it gets the folder of the game's files.
CASES = [
    (case_overlapping_sounds_heard_apart, None),
    (case_page_style_takes_the_game_palette, None),
    (case_window_title_size_and_place, dict(screen=(1920, 1080), place=False)),
    (case_menu_looks_right, {}),
    (case_menu_keys_sounds_and_screens, {}),
    (case_no_assets_still_plays_silently, dict(assets=[])),
    (case_untouched_serve_costs_both_sides_a_point, {}),
    (case_cpu_meets_the_first_serve, {}),
    (case_players_steer_their_own_paddles, {}),
]


INLINE_SCRIPT = ("(() => { const script = document.createElement('script');"
                 " script.textContent = 'window.inlineRan = true'; document.body.appendChild(script);"
                 " return window.inlineRan === true; })()")


def case_page_ends_and_plays_again(game):
    """Escape ends the game's loop as on the desktop: the page says so, and its
    button starts the game again from the menu."""
    wait_for("the menu", lambda: menu_shown(game.screenshot()), game.deadline)
    game.press_until("Escape", "the game to end", lambda: game.shown("ended"))
    game.command("click #play-again")
    wait_for("the menu again", lambda: not game.shown("ended") and menu_shown(game.screenshot()),
             game.start_deadline)


def case_page_without_its_data(game):
    """A data file that does not load is said on the page, not left a blank
    canvas. The page runs only its own files: a script put inline is refused."""
    wait_for("the page to say that its data did not load", lambda: game.shown("failed"), game.start_deadline)
    text = game.command("eval document.getElementById('failed').textContent")
    check(page_file(game.site, "data") in text, "the page says: " + text)
    check(not game.command("eval " + INLINE_SCRIPT), "an inline script ran")
    check(wait_for("the refusal", lambda: game.log()["refused"], game.deadline) == ["script-src-elem: inline"],
          "the page refused %s" % game.log()["refused"])


def case_page_without_webgl(game):
    """A browser without WebGL gets a sentence, not the error that follows from it."""
    wait_for("the page to say that it needs WebGL", lambda: game.shown("failed"), game.start_deadline)
    check("WebGL" in game.command("eval document.getElementById('failed-text').textContent"), "no word of WebGL")


def stopped_and_reloaded(game, fault, saying):
    """After the fault, the page shows its notice and no other, and the game
    says little more on the console; Reload brings the menu back."""
    wait_for("the menu", lambda: menu_shown(game.screenshot()), game.deadline)
    said = len(game.log()["messages"])
    game.command("eval " + fault)
    wait_for("the page to say " + saying, lambda: game.shown("failed"), game.deadline)
    text = game.command("eval document.getElementById('failed-text').textContent")
    check(saying in text, "the page says: " + text)
    check(game.shown("reload") and not game.shown("ended"), "no Reload button, or the game's end shown too")
    check(len(game.log()["messages"]) - said <= 2, "the console was flooded:\n" + game.messages())
    game.command("click #reload")
    wait_for("the menu again", lambda: not game.shown("failed") and menu_shown(game.screenshot()),
             game.start_deadline)


def case_page_says_a_fault_in_a_later_frame(game):
    """Drawing that throws once the game runs stops it with a notice and a way back."""
    stopped_and_reloaded(game, "(() => { const gl = document.getElementById('canvas').getContext('webgl');"
                         " gl.drawArrays = gl.drawElements = () => { throw new Error('drawing failed'); }; })()",
                         "drawing failed")


def case_page_says_its_graphics_were_lost(game):
    """A lost WebGL context (a GPU reset) is said, and a reload plays again."""
    stopped_and_reloaded(game, "document.getElementById('canvas').getContext('webgl')"
                         ".getExtension('WEBGL_lose_context').loseContext()", "graphics were reset")


def canvas_rect(game, what="document.getElementById('canvas')"):
    return game.command("eval (r => [r.left, r.top, r.right, r.bottom])(%s.getBoundingClientRect())" % what)


def buffer_follows_the_screen(game):
    """The canvas draws as many pixels as it covers on the screen: its CSS
    size times the device pixels a CSS pixel."""
    width, height, css_width, css_height, ratio = game.command(
        "eval (c => [c.width, c.height, c.clientWidth, c.clientHeight, devicePixelRatio])"
        "(document.getElementById('canvas'))")
    wait_for("a drawing buffer of %g x %g" % (css_width * ratio, css_height * ratio), lambda: (
        lambda w, h, cw, ch, r: abs(w - cw * r) <= 1 and abs(h - ch * r) <= 1)(*game.command(
            "eval (c => [c.width, c.height, c.clientWidth, c.clientHeight, devicePixelRatio])"
            "(document.getElementById('canvas'))")), game.deadline)
    return game.command("eval [document.getElementById('canvas').width, document.getElementById('canvas').height]")


def controls_in_view(game):
    """Each control named for a screen reader and wholly in view, blue's at the
    left edge and red's at the right, none over the game."""
    controls = game.command(
        "eval [...document.querySelectorAll('[data-key]')].map(c => (r => ({key: c.dataset.key,"
        " name: c.getAttribute('aria-label'), box: [r.left, r.top, r.right, r.bottom]}))(c.getBoundingClientRect()))")
    width, height = game.command("eval [innerWidth, innerHeight]")
    game_box = canvas_rect(game)
    check(sorted(c["key"] for c in controls) == sorted(TOUCH_KEYS.values()), "the controls are %s" % controls)
    for control in controls:
        left, top, right, bottom = control["box"]
        check(control["name"], "the %s control has no name" % control["key"])
        check(0 <= left < right <= width and 0 <= top < bottom <= height,
              "the %s control is not wholly in view in %dx%d: %s" % (control["key"], width, height, control["box"]))
        check(right <= game_box[0] or left >= game_box[2] or top >= game_box[3] or bottom <= game_box[1],
              "the %s control covers the game" % control["key"])
        if control["key"] in ("W", "S"):
            check(right <= width / 3, "blue's %s control is not at the left edge" % control["key"])
        if control["key"] in ("Up", "Down"):
            check(left >= width * 2 / 3, "red's %s control is not at the right edge" % control["key"])


def tap_between_frames(game, key, what, probe):
    """A tap that comes and goes while the game waits for its frame, a held
    key it must still see once."""
    game.command("eval window.zarvDisplay.paused = true")
    game.hold(key)
    game.release(key)
    game.command("eval window.zarvDisplay.paused = false")
    wait_for(what, probe, game.deadline)


def case_page_on_a_phone_by_touch(game):
    """A phone of 2 device pixels a CSS pixel held sideways, then upright: the
    canvas draws twice as many pixels each way as it covers CSS pixels, the
    menu whole, every control in view; quick taps between two frames choose,
    start and end a game; two fingers at once turn both paddles; a pinch zooms
    nothing."""
    case_menu_looks_right(game)
    buffer_follows_the_screen(game)
    controls_in_view(game)
    tap_between_frames(game, "s", "a tap on S to highlight Player v Player",
                       lambda: highlighted_option(game.screenshot()) == 2)
    tap_between_frames(game, "Return", "a tap on Return to start the game",
                       lambda: countdown_shown(game.screenshot()))
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
    check(game.command("eval [visualViewport.scale, scrollX, scrollY]") == [1, 0, 0], "a pinch zoomed or scrolled")
    tap_between_frames(game, "r", "a tap on R to bring back the menu", lambda: menu_shown(game.screenshot()))

    game.command("viewport " + json.dumps(dict(PHONE, width=PHONE["height"], height=PHONE["width"],
                                               isLandscape=False)))
    wait_for("the game across the width, upright", lambda: (lambda box: box[2] - box[0] > PHONE["height"] * 0.9)(
        canvas_rect(game)), game.deadline)
    controls_in_view(game)
    buffer_follows_the_screen(game)
    wait_for("the menu upright", lambda: menu_shown(game.screenshot()), game.deadline)


def stand_in_pads(game, *pads):
    """The pads that navigator.getGamepads() gives: for each, its mapping, the
    buttons held and the left stick's up-down axis; None where one has gone."""
    game.command("eval window.zarvGamepads = %s, true" % json.dumps([None if pad is None else dict(
        id=pad.get("id", "Stand-in pad %d" % index), index=index, connected=True, timestamp=0,
        mapping=pad.get("mapping", "standard"), axes=[0, pad.get("stick", 0), 0, 0],
        buttons=[dict(pressed=b in pad.get("held", ()), value=1 if b in pad.get("held", ()) else 0)
                 for b in range(17)]) for index, pad in enumerate(pads)]))


PAD_A, PAD_BACK, PAD_UP, PAD_DOWN = 0, 8, 12, 13
ODD_PAD = dict(mapping="", id="Stand-in pad of its own mapping", held=[PAD_A, PAD_DOWN], stick=1)


def case_page_with_two_gamepads(game):
    """A pad without the standard mapping is ignored, with one word on the
    console; the next is blue's, whose d-pad moves the menu's highlight and
    whose A starts; blue's stick and red's d-pad turn their paddles; a pad
    that goes lets go of its keys; Back returns to the menu."""
    wait_for("the menu", lambda: menu_shown(game.screenshot()), game.deadline)
    stand_in_pads(game, ODD_PAD, dict(held=[PAD_DOWN]), {})
    wait_for("blue's d-pad to highlight Player v Player", lambda: highlighted_option(game.screenshot()) == 2,
             game.deadline)
    stand_in_pads(game, ODD_PAD, dict(held=[PAD_A]), {})
    wait_for("blue's A to start the game", lambda: countdown_shown(game.screenshot()), game.deadline)
    stand_in_pads(game, ODD_PAD, dict(stick=-1), dict(held=[PAD_UP]))
    wait_for("blue at 185 and red at 355 after a miss, turned by the pads", lambda: (
        lambda s: countdown_shown(s) and paddle_at(s, BLUE_OVER_WHITE, 185) and paddle_at(s, RED_OVER_WHITE, 355))(
            game.screenshot()), game.deadline)
    stand_in_pads(game, ODD_PAD, {}, dict(held=[PAD_DOWN]))
    wait_for("red's paddle to turn down", lambda: (lambda s: not countdown_shown(s)
                                                   and not paddle_at(s, RED_OVER_WHITE, 355))(game.screenshot()),
             game.deadline)
    stand_in_pads(game, ODD_PAD, {}, None)
    wait_for("both paddles home after the next miss, red's pad gone", lambda: (
        lambda s: countdown_shown(s) and paddle_at(s, BLUE_OVER_WHITE, 180) and paddle_at(s, RED_OVER_WHITE, 0))(
            game.screenshot()), game.deadline)
    stand_in_pads(game, ODD_PAD, dict(held=[PAD_BACK]), None)
    wait_for("Back to bring the menu", lambda: menu_shown(game.screenshot()), game.deadline)
    stand_in_pads(game)
    said = [m for m in game.log()["messages"] if ODD_PAD["id"] in m["text"]]
    check(len(said) == 1, "the pad without the standard mapping was told of %d times" % len(said))


def game_frames_a_second(game, hz, jitter=0, seconds=1):
    """Game frames and refreshes over some seconds of the page's clock, with the
    stand-in display at hz, after a moment to settle."""
    game.command("eval Object.assign(window.zarvDisplay, {hz: %d, jitter: %g}), true" % (hz, jitter))
    reading = "eval [window.zarvDisplay.refreshes, window.zarvDisplay.now, window.zarvLog.clears]"
    settled = game.command(reading)[0] + hz // 4
    wait_for("the display at %d Hz to settle" % hz, lambda: game.command(reading)[0] >= settled, game.deadline)
    refreshes, now, clears = game.command(reading)
    after = wait_for("%g s of the page's clock at %d Hz" % (seconds, hz), lambda: (
        lambda r: r[0] >= refreshes + hz * seconds and r)(game.command(reading)), game.deadline)
    frames = after[2] - clears
    print("  %d Hz%s: %.1f game frames a second, %d of %d refreshes" % (
        hz, " (frames %g ms early or late)" % jitter if jitter else "", 1000 * frames / (after[1] - now),
        frames, after[0] - refreshes), flush=True)
    return 1000 * frames / (after[1] - now), frames, after[0] - refreshes


def case_page_at_its_speed_on_any_display(game):
    """The game runs 60 frames a second of the page's clock on displays of 144
    and 120 Hz, every refresh at 60 Hz however early or late the frames come,
    and every refresh of a 30 Hz one."""
    wait_for("the menu", lambda: menu_shown(game.screenshot()), game.deadline)
    results = [game_frames_a_second(game, hz, jitter) for hz, jitter in ((144, 0), (120, 0), (60, 1), (30, 0))]
    for (rate, _, _), hz in zip(results[:2], (144, 120)):
        check(59 <= rate <= 61, "%.1f game frames a second at %d Hz" % (rate, hz))
    for (_, frames, refreshes), hz in zip(results[2:], (60, 30)):
        check(frames == refreshes, "%d game frames for %d refreshes at %d Hz" % (frames, refreshes, hz))

def remove_data(site):
    os.remove(os.path.join(site, page_file(site, "data")))


# A phone held sideways, of 2 device pixels a CSS pixel, with touch
PHONE = dict(width=844, height=390, deviceScaleFactor=2, isMobile=True, hasTouch=True, isLandscape=True)

# WebDriver BiDi, which drives Firefox, emulates neither touch nor a phone's screen
CHROMIUM_ONLY = {"case_page_on_a_phone_by_touch"}

# The page's own cases, with the desktop's that hold there
PAGE_CASES = [
    (case_menu_looks_right, {}),
    (case_menu_keys_sounds_and_screens, {}),
    (case_untouched_serve_costs_both_sides_a_point, {}),
    (case_cpu_meets_the_first_serve, {}),
    (case_players_steer_their_own_paddles, {}),
    (case_page_ends_and_plays_again, {}),
    (case_page_says_a_fault_in_a_later_frame, dict(expect_errors=True)),
    (case_page_says_its_graphics_were_lost, {}),
    (case_page_without_its_data, dict(tamper=remove_data, expect_errors=True)),
    (case_page_without_webgl, dict(webgl=False, expect_errors=True)),
    (case_page_on_a_phone_by_touch, dict(touch=True, options=dict(viewport=PHONE, display=dict(hz=60)))),
    (case_page_with_two_gamepads, dict(options=dict(gamepads=True))),
    (case_page_at_its_speed_on_any_display, dict(options=dict(display=dict(hz=60)))),
]


SANITIZER_REPORTS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:")


def end_page_session(game):
    """A page's session ends with Escape and the page saying that the game has
    ended; the audio that the first key started is running, and no uncaught
    error or console error appeared."""
    if not game.expect_errors:
        if not game.shown("ended"):
            game.press_until("Escape", "the game to end", lambda: game.shown("ended"))
        def audio_running():
            contexts = game.command("eval window.zarvLog.contexts.map(context => context.state)")
            return contexts and all(state == "running" for state in contexts)
        wait_for("the page's audio to run", audio_running, game.deadline)
        log = game.log()
        errors = [m for m in log["messages"] if m["type"] in ("error", "pageerror")]
        check(not errors, "the page reported errors:\n" + game.messages())
        check(not log["refused"], "the page's Content-Security-Policy refused %s" % log["refused"])


def end_session(game):
    """Every session ends the way a player ends it: Escape, and exit status 0,
    with nothing reported by the sanitizers when the game was built with them."""
    if game.web:
        return end_page_session(game)
    if game.process.poll() is None:
        if not game.place:  # keys count only with the focus
            game.xdotool("windowfocus", "--sync", game.window)
        game.hold("Escape")
    status = game.exit_status(game.start_deadline)
    check(status == 0, "Escape ended the game with status %s" % status)
    messages = game.messages()
    for report in SANITIZER_REPORTS:
        check(report not in messages, "a sanitizer reported:\n" + messages[-6000:])


def keep_evidence(game, name):
    """On a failure, keeps what the game showed, said and played, for a look."""
    folder = os.path.join(os.getcwd(), "end_to_end_failures", name)
    os.makedirs(folder, exist_ok=True)
    try:
        if game.window and game.process.poll() is None:
            game.save_screenshot(os.path.join(folder, "screen.png"))
    except Exception:  # the window may be gone, or never came: keep the rest anyway
        pass
    if game.web and game.process and game.process.poll() is None:
        with open(os.path.join(folder, "console.txt"), "w") as console:
            console.write(game.messages())
    for kept in ("stderr.txt", "mixed.wav", "valgrind.txt"):
        if os.path.exists(os.path.join(game.folder, kept)):
            shutil.copy(os.path.join(game.folder, kept), folder)
    print("evidence kept in " + folder)


def unpack_windows_zip(path, into):
    """Checks that the zip holds one folder with exactly the Windows game's
    files, and zarv.exe stripped and with its icon; returns zarv.exe unpacked."""
    folder = os.path.basename(path)[:-len(".zip")]
    with zipfile.ZipFile(path) as archive:
        names = sorted(name for name in archive.namelist() if not name.endswith("/"))
        check(names == sorted(folder + "/" + name for name in WINDOWS_ZIP), "the zip holds %s" % names)
        exe = archive.read(folder + "/zarv.exe")
        check(struct.unpack_from("<I", exe, struct.unpack_from("<I", exe, 0x3c)[0] + 16)[0] == 0,
              "zarv.exe still has its symbols")
        check(b"IHDR\0\0\1\0\0\0\1\0" in exe, "zarv.exe carries no 256-pixel icon")
        archive.extractall(into)
    return os.path.join(into, folder, "zarv.exe")


def play_case(case, game):
    try:
        game.start()
        case(game)
        end_session(game)
    except Exception:
        keep_evidence(game, case.__name__)
        raise
    finally:
        game.stop()


def main():
    arguments = sys.argv[1:]
    emulated = {}
    cases, play = CASES, Game
    if arguments[:1] == ["--emulator"]:
        emulated = dict(wrapper=[arguments[1]], deadline=EMULATED_DEADLINE)
        arguments = arguments[2:]
    elif arguments[:1] == ["--browser"]:
        # The build lays out the page in page/, beside the sounds that it packs
        page = os.path.abspath(arguments[2])
        cases, play = PAGE_CASES, functools.partial(Page, browser=arguments[1],
                                                    sounds=os.path.dirname(os.path.dirname(page)))
        arguments = arguments[2:]
    binary = os.path.abspath(arguments[0])
    wanted = arguments[1:]
    if binary.endswith(".zip"):
        unpacked = tempfile.TemporaryDirectory(prefix="zarv-windows-")  # until the run ends
        binary = unpack_windows_zip(binary, unpacked.name)
        print("PASS the zip's files", flush=True)
    passed = failed = 0
    for case, options in cases:
        if wanted and case.__name__ not in wanted:
            continue
        if play is not Game and play.keywords["browser"] != "chromium" and case.__name__ in CHROMIUM_ONLY:
            print("SKIP %s (Chromium only)" % case.__name__, flush=True)
            continue
        started = time.monotonic()
        try:
            if options is None:
                case(os.path.dirname(binary))
            else:
                play_case(case, play(binary, **emulated, **options))
            passed += 1
            print("PASS %s (%.1f s)" % (case.__name__, time.monotonic() - started), flush=True)
        except Exception:  # report every case, whatever went wrong
            failed += 1
            print("FAIL %s" % case.__name__, flush=True)
            traceback.print_exc()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
