#!/usr/bin/env python3
"""Runs every benchmark on a built tree and prints one Markdown table.

Each figure is taken side by side with its reference in the same run, since
the machine is shared and an absolute figure alone says little: the game's
logic per kind of frame, the game's whole frames against a bare window under
Xvfb, key polling against the frame it sits in, start-up and memory against
SFML's own Pong example, built here from Debian's libsfml-doc, and the page
built for the browser against the desktop game: its download, its load to the
first frame and its frames in headless Chromium.

Usage: run.py BUILD_DIR [--quick]. The table also goes to
BUILD_DIR/benchmark-report.md. The page is BUILD_DIR/web/zarv-*-web.zip, as
scripts/build-web BUILD_DIR/web leaves it; without it that part is left out.
"""

import datetime
import glob
import gzip
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "web"))
from browser import DriverError, Session, page_files  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
from palette import rgb  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PONG_SOURCE = "/usr/share/doc/libsfml-dev/examples/pong"
FULL = dict(logic=["--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"],
            frame_rounds=20, startups=9, peer_seconds=60, session_seconds=300, settle_seconds=60,
            page_sessions=9)
QUICK = dict(logic=["--benchmark_min_time=0.1"],
             frame_rounds=5, startups=3, peer_seconds=10, session_seconds=30, settle_seconds=10,
             page_sessions=3)


def log(message):
    print(message, file=sys.stderr, flush=True)


class Xvfb:
    """A virtual X server of its own. -noreset: by default it resets when its
    last client leaves and refuses connections meanwhile."""

    def __init__(self, size):
        self.size = size

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.size + "x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            display = pipe.readline().strip()
        if not display:
            raise RuntimeError("Xvfb did not start")
        self.env = dict(os.environ, DISPLAY=":" + display, ALSOFT_DRIVERS="null")
        return self

    def __exit__(self, *exception):
        self.process.terminate()
        self.process.wait()


# Game logic: Google Benchmark, headless, with the tests' stand-ins

def run_logic(build, settings):
    out = os.path.join(build, "logic-bench.json")
    subprocess.run([os.path.join(build, "zarv_logic_bench"), "--benchmark_out=" + out,
                    "--benchmark_out_format=json"] + settings["logic"],
                   cwd=build, env=dict(os.environ, ALSOFT_DRIVERS="null"), check=True, stdout=sys.stderr)
    with open(out) as report:
        runs = json.load(report)["benchmarks"]
    results = {}
    for run in runs:
        if run.get("aggregate_name", "median") != "median":
            continue
        results[run["run_name"]] = dict(ns=1e9 / run["items_per_second"], label=run.get("label", ""))
    return results


# Whole frames and key polling: the real SFML under Xvfb

def run_frames(build, settings):
    with Xvfb("2560x1440") as x:
        lines = subprocess.run([os.path.join(build, "zarv_frame_bench"), str(settings["frame_rounds"])],
                               cwd=build, env=x.env, check=True, capture_output=True, text=True).stdout
    info, samples = {}, {}
    for line in lines.splitlines():
        kind, name, *rest = line.split(" ")
        if kind == "info":
            info[name] = " ".join(rest)
        elif kind == "sample":
            median, p99, mean, _count = (float(v) for v in rest)
            samples[name] = dict(median=median, p99=p99, mean=mean)
    return info, samples


# The peer: SFML's Pong example, built from the package's files, never kept in the repo

def build_pong(build):
    source = os.path.join(PONG_SOURCE, "Pong.cpp.gz")
    if not os.path.exists(source):
        log("no %s: install libsfml-doc to compare with SFML's Pong" % source)
        return None
    folder = os.path.join(build, "pong")
    os.makedirs(os.path.join(folder, "resources"), exist_ok=True)
    for packed in [source] + glob.glob(os.path.join(PONG_SOURCE, "resources", "*.gz")):
        target = os.path.join(folder, os.path.relpath(packed, PONG_SOURCE)[:-3])
        with gzip.open(packed) as unpacked, open(target, "wb") as out:
            shutil.copyfileobj(unpacked, out)
    binary = os.path.join(folder, "pong")
    subprocess.run(["g++", "-std=c++17", "-O3", "-DNDEBUG", "Pong.cpp", "-o", binary,
                    "-lsfml-graphics", "-lsfml-window", "-lsfml-audio", "-lsfml-system"], cwd=folder, check=True)
    return binary


# Start-up: process start to the first displayed frame

def first_frame_ms(binary, x, shim):
    stamp = os.path.join(os.path.dirname(binary), "first-frame.txt")
    if os.path.exists(stamp):
        os.remove(stamp)
    env = dict(x.env, LD_PRELOAD=shim, ZARV_FIRST_FRAME_FILE=stamp)
    start = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
    subprocess.run([binary], cwd=os.path.dirname(binary), env=env, check=True, timeout=120,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(stamp) as shown:
        return (int(shown.read()) - start) / 1e6


def run_startup(build, pong, settings):
    shim = os.path.join(build, "libzarv_first_frame.so")
    programs = {"game": os.path.join(build, "zarv")}
    if pong:
        programs["pong"] = pong
    times = {name: [] for name in programs}
    with Xvfb("1280x720") as x:
        for name, binary in programs.items():  # warm the file cache
            first_frame_ms(binary, x, shim)
        for _ in range(settings["startups"]):  # alternately, so both meet the same noise
            for name, binary in programs.items():
                times[name].append(first_frame_ms(binary, x, shim))
    return {name: statistics.median(values) for name, values in times.items()}


# Memory: real key presses with xdotool, resident memory from /proc

def xdotool(x, *args):
    return subprocess.run(["xdotool"] + list(args), env=x.env, capture_output=True, text=True, timeout=60)


def memory_kb(pid):
    fields = {}
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                fields[key] = int(value.split()[0])
    return fields


def play(binary, title, start_key, steer_keys, seconds, tap_key=None):
    """Starts the program, gives its window the focus and plays for the given
    seconds, holding each steering key in turn for half a second. Returns
    (seconds into play, VmRSS kB, VmHWM kB) samples."""
    with Xvfb("1280x720") as x:
        game = subprocess.Popen([binary], cwd=os.path.dirname(binary), env=x.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        held = None
        try:
            window = None
            deadline = time.monotonic() + 60
            while not window:
                if time.monotonic() > deadline or game.poll() is not None:
                    raise RuntimeError("no window called %s" % title)
                time.sleep(0.1)
                found = xdotool(x, "search", "--onlyvisible", "--name", "^%s$" % title).stdout.split()
                window = found[0] if found else None
            # No window manager: nobody else places or focuses the window
            xdotool(x, "windowmove", "--sync", window, "0", "0")
            xdotool(x, "windowfocus", "--sync", window)
            # Keys are held, never tapped: a game that reads held keys once a
            # frame could miss a tap shorter than a frame
            xdotool(x, "keydown", start_key)
            time.sleep(0.3)
            xdotool(x, "keyup", start_key)

            samples = []
            start = time.monotonic()
            step = 0
            while time.monotonic() - start < seconds:
                if held:
                    xdotool(x, "keyup", held)
                held = steer_keys[step % len(steer_keys)]
                xdotool(x, "keydown", held)
                if tap_key and step % 4 == 0:  # read as an event, so a tap is seen
                    xdotool(x, "keydown", tap_key)
                    xdotool(x, "keyup", tap_key)
                if game.poll() is not None:
                    raise RuntimeError("%s ended during play" % binary)
                usage = memory_kb(game.pid)
                samples.append((time.monotonic() - start, usage["VmRSS"], usage["VmHWM"]))
                step += 1
                time.sleep(max(0.0, start + step * 0.5 - time.monotonic()))
            return samples
        finally:
            if held:
                xdotool(x, "keyup", held)
            game.kill()
            game.wait()


def at(samples, seconds):
    """The first sample taken at or after so many seconds into play."""
    return next((s for s in samples if s[0] >= seconds), samples[-1])


def peak_kb(samples, seconds):
    """The kernel updates VmHWM lazily, so the current VmRSS can exceed it."""
    return max(max(s[1], s[2]) for s in samples if s[0] <= at(samples, seconds)[0])


def save_samples(path, samples):
    with open(path, "w") as out:
        out.write("seconds,vmrss_kb,vmhwm_kb\n")
        out.writelines("%.1f,%d,%d\n" % sample for sample in samples)


def run_memory(build, pong, settings):
    peer_seconds = settings["peer_seconds"]
    results = {}
    if pong:
        # Pong serves on Space after every point
        log("Pong: %d s of play" % peer_seconds)
        samples = play(pong, "SFML Pong", "space", ["Up", "Down"], peer_seconds, tap_key="space")
        save_samples(os.path.join(build, "memory-pong.csv"), samples)
        results["pong_peak_kb"] = peak_kb(samples, peer_seconds)
    log("Zarv: %d s of play" % settings["session_seconds"])
    samples = play(os.path.join(build, "zarv"), "Zarv", "Return", ["w", "s"], settings["session_seconds"])
    save_samples(os.path.join(build, "memory-zarv.csv"), samples)
    results["game_peak_kb"] = peak_kb(samples, peer_seconds)
    settled = at(samples, settings["settle_seconds"])
    results["start_kb"] = samples[0][1]
    results["settled_kb"] = settled[1]
    results["end_kb"] = samples[-1][1]
    results["settled_range_kb"] = (min(s[1] for s in samples if s[0] >= settled[0]),
                                   max(s[1] for s in samples if s[0] >= settled[0]))
    results["session_seconds"] = samples[-1][0]
    return results


# The page: the web zip's files served on 127.0.0.1 and played in headless
# Chromium through tests/web/drive.js (puppeteer-core, installed by scripts/npm-tools)

# A new page's first serve goes the CPU's way and it meets it: the ball is live
# at least 30 frames before that bounce and 60 after it, until it reaches
# blue's side, where nobody steers
BEFORE_BOUNCE, AFTER_BOUNCE = 25, 50
# Each frame's start (its animation frame's callback) and its end (the game's
# request for the next one), in the page's clock
RECORD_FRAMES = ("(() => { const log = window.zarvLog, request = window.requestAnimationFrame;"
                 " log.starts = []; log.ends = [];"
                 " window.requestAnimationFrame = function (callback) { log.ends.push(performance.now());"
                 " return request.call(window, (t) => { log.starts.push(performance.now()); callback(t); }); };"
                 " return true; })()")
RENDERER = ("(() => { const gl = document.getElementById('canvas').getContext('webgl');"
            " const debug = gl.getExtension('WEBGL_debug_renderer_info');"
            " return {renderer: gl.getParameter(debug ? debug.UNMASKED_RENDERER_WEBGL : gl.RENDERER),"
            " samples: gl.getParameter(gl.SAMPLES)}; })()")


# What the browser's frames cost with nothing drawn, as the bare window of
# section 2 does on the desktop, and the floor of a page's start: a canvas of
# the game's size and WebGL settings, cleared to the game's backdrop in every
# animation frame, made while files of the same names and sizes as the page's
# are fetched at once, its first frame drawn when
# the last of them has come. Neither script nor wasm runs: what is left to the
# page above this floor is its own work.
BARE_PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Bare</title><link rel="icon" href="data:,">
<style>html, body { margin: 0; background: rgb(%(backdrop)s); } canvas { display: block; }</style></head>
<body><canvas id="canvas" width="1280" height="720"></canvas><script>
var files = %(files)s;
var fetched = Promise.all(files.map(function (name) {
  return fetch(name).then(function (response) { return response.arrayBuffer(); });
}));
var gl = document.getElementById('canvas').getContext('webgl',
                                                      {antialias: true, alpha: false, depth: false, stencil: false});
window.zarvLog.ends = [];
fetched.then(function frame() {
  gl.clearColor(%(clear)s, 1);
  gl.clear(gl.COLOR_BUFFER_BIT);
  window.zarvLog.ends.push(performance.now());
  requestAnimationFrame(frame);
});
</script></body></html>
"""
DENSE_FRAMES = 20
BARE_FRAMES = 75


def find_page(build):
    found = sorted(glob.glob(os.path.join(build, "web", "zarv-*-web.zip")))
    if not found:
        log("no %s/web/zarv-*-web.zip: run scripts/build-web %s/web to measure the page" % (build, build))
        return None
    return found[-1]


def process_cpu(root):
    """CPU seconds (user and system) of root's descendants by Chromium's kind
    of process: "gpu-process", "renderer", "utility" and the browser's own."""
    parents, kinds = {}, {}
    for name in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % name) as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            with open("/proc/%s/cmdline" % name) as cmdline:
                words = cmdline.read().replace("\0", " ").split()
        except OSError:  # a process that has just ended
            continue
        parents[int(name)] = int(fields[1])
        kind = next((word[len("--type="):] for word in words if word.startswith("--type=")), "browser")
        kinds[int(name)] = (kind, (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK"))
    totals = {}
    for pid, (kind, seconds) in kinds.items():
        ancestor = parents.get(pid)
        while ancestor and ancestor != root:
            ancestor = parents.get(ancestor)
        if ancestor == root:
            totals[kind] = totals.get(kind, 0.0) + seconds
    return totals


class Browser:
    """The page in a headless Chromium of its own, with a new profile each
    time: every load is a first visit, with nothing cached."""

    def __init__(self, site, options=None):
        self.site = site
        self.options = options

    def __enter__(self):
        self.home = tempfile.mkdtemp(prefix="zarv-bench-")
        self.stderr = tempfile.TemporaryFile("w+")
        self.session = Session(self.site, "chromium", self.home, stderr=self.stderr, options=self.options)
        self.process = self.session.process
        return self

    def command(self, line):
        try:
            return self.session.command(line)
        except DriverError as error:
            raise RuntimeError(str(error))

    def wait_for(self, what, expression, seconds=60, navigating=False):
        """With navigating, an answer from a page that is being replaced is an error, and ignored."""
        deadline = time.monotonic() + seconds
        while True:
            try:
                value = self.command("eval " + expression)
            except RuntimeError:
                if not navigating:
                    raise
                value = None
            if value:
                return value
            if time.monotonic() > deadline:
                raise RuntimeError("timed out waiting for " + what)
            time.sleep(0.02)

    def __exit__(self, *exception):
        self.session.stop()
        self.stderr.close()
        shutil.rmtree(self.home, ignore_errors=True)


def page_session(site):
    """One load of the page and a reload, then a "Player v CPU" game started
    with Return. The first frame is the game's first request for an animation
    frame (drive.js notes the moment), counted by performance.now() from the
    navigation's start. Then the frames around the CPU's return of the first
    serve, as Chromium paces them, and the CPU time that Chromium's processes
    spend in the frames after that bounce."""
    with Browser(site) as page:
        result = dict(first_frame=page.wait_for("the first frame", "window.zarvLog.firstFrame"))
        timing = page.command("eval performance.getEntriesByType('resource')"
                              ".map(entry => [entry.name.split('/').pop(), entry.startTime, entry.responseEnd])")
        result["asked"] = min(start for name, start, _ in timing if name.startswith("zarv."))
        result["fetched"] = max(end for _, _, end in timing)
        # A second visit: the files revalidated in the browser's cache, its GPU process up
        page.command("eval setTimeout(() => location.reload(), 0), true")
        result["reloaded"] = page.wait_for("the reloaded page's first frame",
                                           "performance.getEntriesByType('navigation')[0].type === 'reload'"
                                           " && window.zarvLog.firstFrame", navigating=True)
        result["renderer"] = page.command("eval " + RENDERER)
        page.command("eval " + RECORD_FRAMES)
        mark = page.command("eval window.zarvLog.sounds.length")
        page.command("keydown Enter")
        try:
            page.wait_for("the game to start", "window.zarvLog.sounds.length > %d" % mark)
        finally:
            page.command("keyup Enter")
        # The first bounce's sound starts in the frame that bounces
        bounce, first = page.wait_for("the CPU's return of the serve", "window.zarvLog.sounds.length > %d"
                                      " && [window.zarvLog.sounds[%d].at, window.zarvLog.ends.length]"
                                      % (mark + 1, mark + 1))
        cpu_before = process_cpu(page.process.pid)
        last = page.wait_for("the frames after the bounce", "window.zarvLog.ends.filter(end => end > %r).length"
                             " > %d && window.zarvLog.ends.length" % (bounce, AFTER_BOUNCE))
        cpu_after = process_cpu(page.process.pid)
        ends, starts = page.command("eval [window.zarvLog.ends, window.zarvLog.starts]")
    hit = next(i for i, end in enumerate(ends) if end > bounce)
    frames = range(hit - BEFORE_BOUNCE, hit + AFTER_BOUNCE + 1)
    result["intervals"] = [ends[i] - ends[i - 1] for i in frames]
    result["busy"] = [ends[i] - starts[i - 1] for i in frames]
    result["cpu_frames"] = last - first
    result["cpu"] = {kind: seconds - cpu_before.get(kind, 0.0) for kind, seconds in cpu_after.items()}
    return result


def bare_session(site, frames=True):
    """The bare page's first frame, from the navigation's start, and with
    frames its frames, as the game's are measured: BARE_FRAMES of them after
    the first second, and the CPU time spent meanwhile."""
    with Browser(site) as page:
        first_frame = page.wait_for("the first frame", "window.zarvLog.firstFrame")
        if not frames:
            return dict(first_frame=first_frame)
        time.sleep(1)
        first = page.command("eval window.zarvLog.ends.length")
        cpu_before = process_cpu(page.process.pid)
        last = page.wait_for("the bare page's frames", "window.zarvLog.ends.length > %d"
                             " && window.zarvLog.ends.length" % (first + BARE_FRAMES))
        cpu_after = process_cpu(page.process.pid)
        ends = page.command("eval window.zarvLog.ends")
    return dict(first_frame=first_frame,
                intervals=[ends[i] - ends[i - 1] for i in range(first + 1, first + BARE_FRAMES + 1)],
                cpu_frames=last - first,
                cpu={kind: seconds - cpu_before.get(kind, 0.0) for kind, seconds in cpu_after.items()})


def density_session(site, scale):
    """The menu's frames at scale device pixels a CSS pixel, where the
    canvas's drawing buffer has scale² times the pixels: DENSE_FRAMES of
    them after the first, median interval and the buffer's size."""
    with Browser(site, dict(viewport=dict(width=1280, height=800, deviceScaleFactor=scale))) as page:
        page.wait_for("the first frame", "window.zarvLog.firstFrame")
        page.command("eval " + RECORD_FRAMES)
        page.wait_for("the menu's frames", "window.zarvLog.ends.length > %d" % DENSE_FRAMES, seconds=600)
        ends = page.command("eval window.zarvLog.ends")
        buffer = page.command("eval [document.getElementById('canvas').width, document.getElementById('canvas').height]")
    return dict(median=statistics.median(ends[i] - ends[i - 1] for i in range(1, len(ends))), buffer=buffer)


def frame_figures(sessions):
    intervals = [value for s in sessions for value in s["intervals"]]
    frames = sum(s["cpu_frames"] for s in sessions)
    kinds = {kind for s in sessions for kind in s["cpu"]}
    return dict(median=statistics.median(intervals), p99=percentile(intervals, 0.99),
                mean=statistics.mean(intervals), count=len(intervals), cpu_frames=frames,
                cpu_ms={kind: 1000 * sum(s["cpu"].get(kind, 0.0) for s in sessions) / frames for kind in kinds})


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[round(fraction * (len(ordered) - 1))]


def run_page(build, zip_path, settings):
    site = os.path.join(build, "web", "site")
    shutil.rmtree(site, ignore_errors=True)
    with zipfile.ZipFile(zip_path) as archive:
        archive.extractall(site)
        unpacked = sum(entry.file_size for entry in archive.infolist())
    version = subprocess.run(["chromium", "--version"], capture_output=True, text=True).stdout
    results = dict(zip_name=os.path.basename(zip_path), zip_bytes=os.path.getsize(zip_path), unpacked_bytes=unpacked,
                   chromium=version.split(" built")[0].strip(), files={})
    for name in page_files(site):
        with open(os.path.join(site, name), "rb") as page_file:
            data = page_file.read()
        results["files"][name] = dict(bytes=len(data), gzip=len(gzip.compress(data, compresslevel=6)))

    bare_site = os.path.join(build, "web", "bare")
    os.makedirs(bare_site, exist_ok=True)
    fetched = [name for name in results["files"] if name != "index.html"]
    for name in fetched:
        with open(os.path.join(bare_site, name), "wb") as stand_in:
            stand_in.write(os.urandom(results["files"][name]["bytes"]))
    with open(os.path.join(bare_site, "index.html"), "w") as bare_page:
        bare_page.write(BARE_PAGE % dict(files=json.dumps(fetched), backdrop=", ".join(map(str, rgb("Backdrop"))),
                                         clear=", ".join("%d / 255" % c for c in rgb("Backdrop"))))

    sessions, bare, bare_starts = [], [], []
    for number in range(settings["page_sessions"] + 1):  # alternately, so both meet the same noise
        log("  page session %d of %d" % (number + 1, settings["page_sessions"] + 1))
        sessions.append(page_session(site))
        bare_starts.append(bare_session(bare_site, frames=number % 3 == 0))
        if number % 3 == 0:
            bare.append(bare_starts[-1])
    loads = sessions[1:]  # the first load reads the files from the disk, into its cache
    results["bare_first_frame"] = statistics.median(s["first_frame"] for s in bare_starts[1:])
    results["loads"], results["games"] = len(loads), len(sessions)
    results["first_frame"] = statistics.median(s["first_frame"] for s in loads)
    results["reloaded"] = statistics.median(s["reloaded"] for s in loads)
    results["asked"] = statistics.median(s["asked"] for s in loads)
    results["fetched"] = statistics.median(s["fetched"] for s in loads)
    results["renderer"] = sessions[-1]["renderer"]
    results["frame"], results["bare"] = frame_figures(sessions), frame_figures(bare)
    busy = [value for s in sessions for value in s["busy"]]
    results["busy"] = dict(median=statistics.median(busy), p99=percentile(busy, 0.99))
    log("  the menu at 1 and 2 device pixels a CSS pixel")
    results["density"] = [density_session(site, scale) for scale in (1, 2)]
    return results


# The table

def verdict(met):
    return "**yes**" if met else "**no**"


def ms(value):
    return "%.2f ms" % value


def duration(value_ms):
    """In the unit that keeps a few significant digits."""
    if value_ms < 0.001:
        return "%.0f ns" % (value_ms * 1e6)
    if value_ms < 1:
        return "%.1f µs" % (value_ms * 1e3)
    return ms(value_ms)


def size(value):
    if value < 10000:
        return "{:,} bytes".format(value).replace(",", " ")
    return "{:,} bytes ({:.2f} MB)".format(value, value / 1e6).replace(",", " ")


def table(build, settings, quick, logic, info, frames, startup, memory, page, machine):
    rows = []

    def row(what, zarv, beside="", ratio="", target="", met=""):
        rows.append("| %s | %s | %s | %s | %s | %s |" % (what, zarv, beside, ratio, target, met))

    def section(title):
        rows.append("| **%s** | | | | | |" % title)

    section("1. Game logic of one frame (Google Benchmark, CPU time, keys from the stand-ins)")
    open_ns = logic["BM_LiveFrameOpenPlay"]["ns"]
    for name, what in [("BM_LiveFrameOpenPlay", "live frame, ball in open play, W held"),
                       ("BM_LiveFrameRimBounce", "live frame, ball at the rim: bounce off the CPU's paddle"),
                       ("BM_LiveFrameRimMiss", "live frame, ball at the rim: miss, point and re-serve"),
                       ("BM_LiveFrameRally", "live frame over a rally (%s)" % logic["BM_LiveFrameRally"]["label"])]:
        value = logic[name]["ns"]
        beside = "" if name == "BM_LiveFrameOpenPlay" else "open play %.0f ns" % open_ns
        ratio = "" if name == "BM_LiveFrameOpenPlay" else "%.1f×" % (value / open_ns)
        row(what, "%.0f ns" % value, beside, ratio, "< 150 ns", verdict(value < 150))
    menu_ns = logic["BM_MenuFrameNoDrawing"]["ns"]
    live_run_ns = logic["BM_LiveRunFrameNoDrawing"]["ns"]
    row("menu frame: `runFrame()` with no window (draw calls return at once)", "%.0f ns" % menu_ns,
        "live `runFrame()`, no window: %.0f ns" % live_run_ns, "%.1f×" % (menu_ns / live_run_ns))

    live, menu, bare = frames["game_live_frame"], frames["game_menu_frame"], frames["bare_frame"]
    plain = frames["bare_frame_no_antialiasing"]
    section("2. Whole frames under Xvfb, median / 99th percentile (frames a second from the mean)")
    for what, sample in [("live frame: the game's `runFrame()`, CPU playing red", live),
                         ("menu frame: the game's `runFrame()`", menu)]:
        fps = 1000 / sample["mean"]
        row(what, "%.2f / %.2f ms (%.0f fps)" % (sample["median"], sample["p99"], fps),
            "bare window: %.2f / %.2f ms (%.0f fps)" % (bare["median"], bare["p99"], 1000 / bare["mean"]),
            "%.2f×" % (sample["median"] / bare["median"]), "≥ 60 fps", verdict(fps >= 60))
    row("bare window, antialiased as the game asks: what clearing and presenting alone cost",
        "%.2f / %.2f ms" % (bare["median"], bare["p99"]),
        "bare window without antialiasing: %.2f / %.2f ms" % (plain["median"], plain["p99"]),
        "%.1f×" % (bare["median"] / plain["median"]))
    for what, kind in [("live", "game_live_frame"), ("menu", "game_menu_frame")]:
        sample = frames[kind + "_no_antialiasing"]
        fps = 1000 / sample["mean"]
        row("if the game's window had no antialiasing: %s `runFrame()`" % what,
            "%.2f / %.2f ms (%.0f fps)" % (sample["median"], sample["p99"], fps),
            "bare window without antialiasing: %.2f ms" % plain["median"],
            "%.1f×" % (sample["median"] / plain["median"]), "≥ 60 fps", verdict(fps >= 60))
    logic_ms = logic["BM_LiveFrameRally"]["ns"] / 1e6
    for label, kind, sample in [("live", "live", live), ("menu", "menu", menu)]:
        whole = sample["median"]
        parts = [("draw calls (clear and %d draws)" % (8 if kind == "live" else 11), frames[kind + "_draw_calls"]["median"]),
                 ("`display()`: llvmpipe rasterises, resolves and presents", frames[kind + "_display"]["median"]),
                 ("text updates (`setString`, `formatInt`, `placeRedScore`)", frames[kind + "_text_updates"]["median"]),
                 ("key polling (events and %d keys)" % (4 if kind == "live" else 5), frames[kind + "_key_polling"]["median"])]
        if kind == "live":
            parts.append(("game logic (the rally above)", logic_ms))
        for what, value in parts:
            row("%s frame, part: %s" % (label, what), duration(value), "whole %s frame %.2f ms" % (label, whole),
                "%.2g %%" % (100 * value / whole))

    section("3. Key polling with the real SFML: each `isKeyPressed` asks the X server")
    key = frames["is_key_pressed"]
    row("one `sf::Keyboard::isKeyPressed`", "%s / %s" % (duration(key["median"]), duration(key["p99"])),
        "one live frame's logic: %s" % duration(logic_ms), "%.0f×" % (key["median"] / logic_ms))
    row("`pollEvent` alone, no events waiting", duration(frames["poll_events"]["median"]))
    for label, kind, sample in [("live", "live", live), ("menu", "menu", menu)]:
        polling = frames[kind + "_key_polling"]
        row("polling of a %s frame (events and %d keys)" % (label, 4 if kind == "live" else 5),
            "%s / %s" % (duration(polling["median"]), duration(polling["p99"])),
            "whole %s frame %.2f ms" % (label, sample["median"]), "%.1f %%" % (100 * polling["median"] / sample["median"]))

    section("4. Start-up: process start to the first displayed frame (median of %d)" % settings["startups"])
    game_start = startup["game"]
    if "pong" in startup:
        row("start-up", ms(game_start), "SFML's Pong: %s" % ms(startup["pong"]),
            "%.2f×" % (game_start / startup["pong"]), "< 200 ms, ≤ Pong",
            verdict(game_start < 200 and game_start <= startup["pong"]))
    else:
        row("start-up", ms(game_start), "Pong not built (no libsfml-doc)", "", "< 200 ms", verdict(game_start < 200))
    setup, first = frames["startup_setup_scene"]["mean"], frames["startup_first_frame"]["mean"]
    row("part: before `main` (static objects: SFML's shared GL context, the OpenAL device) and loading",
        ms(max(0.0, game_start - setup - first)), "", "%.0f %%" % (100 * max(0.0, game_start - setup - first) / game_start))
    row("part: `setupScene()`, its window antialiased", ms(setup), "", "%.0f %%" % (100 * setup / game_start))
    row("part: the first `runFrame()`", ms(first), "", "%.0f %%" % (100 * first / game_start))
    row("opening a 1280 × 720 window, antialiased as the game asks", ms(frames["startup_open_bare_window"]["mean"]),
        "without antialiasing: %s" % ms(frames["startup_open_plain_window"]["mean"]),
        "%.1f×" % (frames["startup_open_bare_window"]["mean"] / frames["startup_open_plain_window"]["mean"]))

    section("5. Memory under real key presses (xdotool), from /proc/PID/status")
    peer = settings["peer_seconds"]
    if "pong_peak_kb" in memory:
        row("peak resident (VmHWM) after %d s of play" % peer, "%.1f MiB" % (memory["game_peak_kb"] / 1024),
            "SFML's Pong: %.1f MiB" % (memory["pong_peak_kb"] / 1024),
            "%.2f×" % (memory["game_peak_kb"] / memory["pong_peak_kb"]))
    else:
        row("peak resident (VmHWM) after %d s of play" % peer, "%.1f MiB" % (memory["game_peak_kb"] / 1024))
    settle, low, high = settings["settle_seconds"], *memory["settled_range_kb"]
    growth = memory["end_kb"] - memory["settled_kb"]
    row("VmRSS growth over a %.0f s session, from %d s in to the end" % (memory["session_seconds"], settle),
        "%+d kB" % growth, "VmRSS from %d s on: %.1f–%.1f MiB" % (settle, low / 1024, high / 1024), "",
        "flat, < 1 MB", verdict(abs(growth) < 1000))
    row("VmRSS growth in the first %d s of play (one-off: glyphs enter the font's texture)" % settle,
        "%+d kB" % (memory["settled_kb"] - memory["start_kb"]), "at the first frame of play: %.1f MiB"
        % (memory["start_kb"] / 1024))

    if page is None:
        section("6. The page: not built (no %s/web/zarv-*-web.zip)" % os.path.basename(build))
    else:
        section("6. The page in headless %s against the desktop game, both drawn by software GL on the CPU: "
                "the page's WebGL on %s (%d samples a pixel), the desktop's OpenGL on llvmpipe"
                % (page["chromium"], page["renderer"]["renderer"], page["renderer"]["samples"]))
        target_bytes = 2.5e6
        row("download: the zip, `%s`, as uploaded" % page["zip_name"], size(page["zip_bytes"]),
            "its files unpacked: %s" % size(page["unpacked_bytes"]),
            "%.0f %%" % (100 * page["zip_bytes"] / page["unpacked_bytes"]), "≤ 2.5 MB compressed",
            verdict(page["zip_bytes"] <= target_bytes))
        served = sum(f["gzip"] for f in page["files"].values())
        plain_bytes = sum(f["bytes"] for f in page["files"].values())
        row("download: what a browser fetches (%s), each gzip-compressed at level 6 as a static server sends it"
            % ", ".join(page["files"]), size(served), "uncompressed: %s" % size(plain_bytes),
            "%.0f %%" % (100 * served / plain_bytes), "≤ 0.5 MB compressed", verdict(served <= 0.5e6))
        for name, sizes in page["files"].items():
            row("part: `%s`, gzip" % name, size(sizes["gzip"]), "uncompressed: %s" % size(sizes["bytes"]),
                "%.0f %%" % (100 * sizes["gzip"] / served))
        first, game_start, floor = page["first_frame"], startup["game"], page["bare_first_frame"]
        row("navigation to the first menu frame, each load a new browser profile (median of %d)" % page["loads"],
            ms(first), "bare page's first WebGL frame in this run: the same canvas and context settings, files of "
            "the same sizes fetched, one cleared frame: %s" % ms(floor),
            "%.2f×" % (first / floor), "≤ 1.2× the bare page's", verdict(first <= 1.2 * floor))
        row("navigation to the first menu frame, against the desktop", ms(first),
            "desktop game in this run, process start to its first frame: %s" % ms(game_start),
            "%.2f×" % (first / game_start), "≤ 1.5 s", verdict(first <= 1500))
        asked = page["asked"]
        parts = [("`index.html` parsed, up to the first request for one of the game's files (`zarv.<hash>.*`)",
                  asked),
                 ("the game's script, wasm and data fetched from 127.0.0.1, up to the last one's `responseEnd`",
                  page["fetched"] - asked),
                 ("from there to the first frame: the wasm's start, Chromium's GPU process and the game's WebGL "
                  "context, `setupScene()`, the first `runFrame()`", first - page["fetched"])]
        for what, value in parts:
            row("part: " + what, ms(value), "", "%.0f %%" % (100 * value / first))
        row("the same page reloaded at once in the same browser: its files revalidated, its GPU process up",
            ms(page["reloaded"]), "first load: %s" % ms(first), "%.2f×" % (page["reloaded"] / first))
        web, desktop = page["frame"], frames["game_live_frame"]
        capped = " (Chromium's cap: the frame may cost less)" if web["median"] < 17.5 else ""
        row("live frame of a \"Player v CPU\" rally as Chromium paces it, 60 a second at most: from one of the "
            "game's requests for an animation frame to the next, median / 99th percentile (frames a second from "
            "the mean; %d frames about the CPU's return of the serve, %d games)%s"
            % (web["count"], page["games"], capped),
            "%.2f / %.2f ms (%.0f fps)" % (web["median"], web["p99"], 1000 / web["mean"]),
            "desktop game's live frame in this run, unthrottled, under Xvfb on llvmpipe: %.2f / %.2f ms (%.0f fps)"
            % (desktop["median"], desktop["p99"], 1000 / desktop["mean"]),
            "%.2f×" % (web["median"] / desktop["median"]), "≤ 2× the desktop's",
            verdict(web["median"] <= 2 * desktop["median"]))
        cpu = web["cpu_ms"]
        for kinds, what in [(["gpu-process"], "Chromium's GPU process (SwiftShader runs the game's WebGL calls, "
                              "resolves the samples, composites the page)"),
                            (["renderer"], "the page's renderer process (the game's wasm and JavaScript, its WebGL "
                              "calls queued for the GPU process)"),
                            ([kind for kind in cpu if kind not in ("gpu-process", "renderer")],
                             "the browser's own process and its utility processes (network, audio)")]:
            row("part: CPU time a frame in %s, over %d live frames" % (what, web["cpu_frames"]),
                "%.2f ms" % sum(cpu.get(kind, 0.0) for kind in kinds),
                "whole page frame %.2f ms, on %s cores" % (web["median"], machine["cores"]))
        busy = page["busy"]
        row("part: the page's main thread, from the animation frame's callback to the game's next request",
            "%.2f / %.2f ms" % (busy["median"], busy["p99"]),
            "whole page frame %.2f ms" % web["median"], "%.0f %%" % (100 * busy["median"] / web["median"]))
        bare_page, bare_window = page["bare"], frames["bare_frame"]
        row("bare page: a canvas of the game's size and WebGL settings cleared in every animation frame, median / "
            "99th percentile (%d frames)" % bare_page["count"],
            "%.2f / %.2f ms (%.0f fps)" % (bare_page["median"], bare_page["p99"], 1000 / bare_page["mean"]),
            "desktop bare window in this run: %.2f / %.2f ms (%.0f fps)"
            % (bare_window["median"], bare_window["p99"], 1000 / bare_window["mean"]),
            "%.2f×" % (bare_page["median"] / bare_window["median"]))
        page_ratio, desktop_ratio = web["median"] / bare_page["median"], desktop["median"] / bare_window["median"]
        row("live frame over the bare page's frame", "%.2f×" % page_ratio,
            "desktop game's live frame over its bare window's, this run: %.2f×" % desktop_ratio,
            "%.2f×" % (page_ratio / desktop_ratio), "≤ the desktop's", verdict(page_ratio <= desktop_ratio))
        sharp, dense = page["density"]
        row("menu frame at 2 device pixels a CSS pixel, its buffer %d × %d (%d frames, median)"
            % (dense["buffer"][0], dense["buffer"][1], DENSE_FRAMES), ms(dense["median"]),
            "at 1, its buffer %d × %d: %s" % (sharp["buffer"][0], sharp["buffer"][1], ms(sharp["median"])),
            "%.2f×" % (dense["median"] / sharp["median"]))
        # Paced by Chromium at 60 a second, a frame's interval hides its cost: the CPU spent is the finer measure
        page_cpu = sum(cpu.values())
        bare_cpu = sum(bare_page["cpu_ms"].values())
        row("CPU time a live frame in all Chromium's processes over the bare page's", "%.2f×" % (page_cpu / bare_cpu)
            if bare_cpu else "", "%.2f ms against %.2f ms" % (page_cpu, bare_cpu))
        bare_gpu, game_gpu = bare_page["cpu_ms"].get("gpu-process", 0.0), cpu.get("gpu-process", 0.0)
        row("bare page, part: CPU time a frame in Chromium's GPU process", "%.2f ms" % bare_gpu,
            "the game's page: %.2f ms" % game_gpu, "%.0f %%" % (100 * bare_gpu / game_gpu) if game_gpu else "")

    heading = ["## Benchmarks", ""]
    if quick:
        heading += ["**QUICK RUN (`--quick`): shortened durations and fewer samples; not the figures to quote.**", ""]
    heading += ["%s · `scripts/bench%s` · %s · %s cores (%s) · renderer %s, OpenGL %s, under Xvfb, no vertical sync · "
                "antialiasing asked 8, got %s · build type %s · load average %s at the start, %s at the end"
                % (machine["date"], " --quick" if quick else "", machine["os"], machine["cores"], machine["cpu"],
                   info.get("renderer", "?"), info.get("gl_version", "?"), info.get("game_antialiasing", "?"),
                   machine["build_type"], machine["load_start"], machine["load_end"]), "",
                "| Measurement | Zarv | Side by side, same run | Ratio | Target | Met |",
                "|---|---|---|---|---|---|"]
    return "\n".join(heading + rows) + "\n"


def machine_facts(build):
    facts = {"date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
             "cores": str(os.cpu_count()), "os": "?", "cpu": "?", "build_type": "?",
             "load_start": "%.1f" % os.getloadavg()[0]}
    with open("/etc/os-release") as release:
        for line in release:
            if line.startswith("PRETTY_NAME="):
                facts["os"] = line.split("=", 1)[1].strip().strip('"')
    with open("/proc/cpuinfo") as cpuinfo:
        facts["cpu"] = next((line.split(":", 1)[1].strip() for line in cpuinfo if line.startswith("model name")), "?")
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        for line in cache:
            if line.startswith("CMAKE_BUILD_TYPE:"):
                facts["build_type"] = line.split("=", 1)[1].strip()
    return facts


def main():
    args = sys.argv[1:]
    quick = "--quick" in args
    build = os.path.abspath(next(a for a in args if not a.startswith("--")))
    settings = QUICK if quick else FULL
    machine = machine_facts(build)

    log("Game logic (Google Benchmark)")
    logic = run_logic(build, settings)
    log("Whole frames and key polling under Xvfb")
    info, frames = run_frames(build, settings)
    pong = build_pong(build)
    log("Start-up")
    startup = run_startup(build, pong, settings)
    page_zip = find_page(build)
    page = None
    if page_zip:
        log("The page in headless Chromium")
        page = run_page(build, page_zip, settings)
    log("Memory")
    memory = run_memory(build, pong, settings)
    machine["load_end"] = "%.1f" % os.getloadavg()[0]

    report = table(build, settings, quick, logic, info, frames, startup, memory, page, machine)
    path = os.path.join(build, "benchmark-report.md")
    with open(path, "w") as out:
        out.write(report)
    print(report)
    log("written to %s" % path)


if __name__ == "__main__":
    main()
