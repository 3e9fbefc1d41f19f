#!/usr/bin/env python3
"""Runs every benchmark on a built tree, each figure beside its reference in
the same run (docs/performance.md says what and why), on the tests' harness,
and prints one Markdown table, also written to BUILD_DIR/benchmark-report.md.
The page is BUILD_DIR/web/zarv-*-web.zip, as scripts/build-web leaves it.

Usage: run.py BUILD_DIR [--quick]"""

import datetime
import glob
import gzip
import json
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
from harness import SOURCE, check, run  # noqa: E402
from harness.game import Game  # noqa: E402
from harness.memory import memory_kb  # noqa: E402
from harness.net import Broker, Coturn, Relay, invite, play_at_random, published  # noqa: E402
from harness.page import Page, page_files  # noqa: E402
from harness.screen import BACKDROP  # noqa: E402
from harness.x import Xvfb  # noqa: E402

# The targets, by the name a row gives: the text the table shows, and the test
# that the row's figures (in the units of its Zarv column) meet it by
TARGETS = {
    "logic": ("< 150 ns", lambda ns: ns < 150),
    "save and restore": ("< 5 µs", lambda ns: ns < 5000),
    "wasm": ("≤ 879 454 bytes", lambda size: size <= 879454),
    "frame rate": ("≥ 60 fps", lambda fps: fps >= 60),
    "start-up": ("< 200 ms, ≤ Pong", lambda ms, pong_ms: ms < 200 and ms <= pong_ms),
    "start-up, no Pong": ("< 200 ms", lambda ms: ms < 200),
    "memory growth": ("flat, < 1 MB", lambda kb: abs(kb) < 1000),
    "zip": ("≤ 2.5 MB compressed", lambda size: size <= 2.5e6),
    "download": ("≤ 0.5 MB compressed", lambda size: size <= 0.5e6),
    "page start": ("≤ 1.2× the bare page's", lambda ms, bare_ms: ms <= 1.2 * bare_ms),
    "page start, absolute": ("≤ 1.5 s", lambda ms: ms <= 1500),
    "cached start": ("≤ the network's", lambda ms, network_ms: ms <= network_ms),
    "page start, first release": ("≤ 0.8× d9581bc's", lambda ms, first_ms: ms <= 0.8 * first_ms),
    "page frame": ("≤ 2× the desktop's", lambda ms, desktop_ms: ms <= 2 * desktop_ms),
    "page frame over bare": ("≤ the desktop's", lambda ratio, desktop_ratio: ratio <= desktop_ratio),
    "frames run again": ("< one frame drawn", lambda again_ms, drawn_ms: again_ms < drawn_ms),
    "online start": ("≤ 5 s", lambda ms: ms <= 5000),
    "felt delay": ("2 frames", lambda frames: frames == 2),
    "online frames": ("60 fps, < 1 % waiting", lambda fps, waited: fps >= 59.5 and waited < 0.01),
    "online desync": ("none", lambda differing: differing == 0),
    "online bandwidth": ("≤ 10 kbit/s", lambda kbits: kbits <= 10),
}

PONG_SOURCE = "/usr/share/doc/libsfml-dev/examples/pong"
FULL = dict(logic=["--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"],
            frame_rounds=20, startups=9, peer_seconds=60, session_seconds=300, settle_seconds=60,
            page_sessions=9, online_seconds=120, desync_seconds=300)
QUICK = dict(logic=["--benchmark_min_time=0.1"],
             frame_rounds=5, startups=3, peer_seconds=10, session_seconds=30, settle_seconds=10,
             page_sessions=3, online_seconds=20, desync_seconds=30)


def log(message):
    print(message, file=sys.stderr, flush=True)


def silent(env):
    """OpenAL's null output: no sound card is needed, and none is timed."""
    return dict(env, ALSOFT_DRIVERS="null")


# Game logic: Google Benchmark, headless, with the tests' stand-ins

def run_logic(build, settings):
    out = os.path.join(build, "logic-bench.json")
    subprocess.run([os.path.join(build, "zarv_logic_bench"), "--benchmark_out=" + out,
                    "--benchmark_out_format=json"] + settings["logic"],
                   cwd=build, env=silent(os.environ), check=True, stdout=sys.stderr)
    return {entry["run_name"]: dict(ns=1e9 / entry["items_per_second"], label=entry.get("label", ""))
            for entry in json.loads(pathlib.Path(out).read_text())["benchmarks"]
            if entry.get("aggregate_name", "median") == "median"}


# Whole frames and key polling: the real SFML under Xvfb

def run_frames(build, settings):
    """zarv_frame_bench's lines: "info NAME TEXT" and "sample NAME MEDIAN P99 MEAN COUNT", in ms."""
    with Xvfb((2560, 1440)) as x:
        lines = run(os.path.join(build, "zarv_frame_bench"), str(settings["frame_rounds"]),
                    cwd=build, env=silent(x.env), timeout=None)
    parsed = [line.split(" ") for line in lines.splitlines()]
    return ({name: " ".join(rest) for kind, name, *rest in parsed if kind == "info"},
            {name: dict(zip(("median", "p99", "mean"), map(float, rest))) for kind, name, *rest in parsed
             if kind == "sample"})


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
    run("g++", "-std=c++17", "-O3", "-DNDEBUG", "Pong.cpp", "-o", "pong",
        "-lsfml-graphics", "-lsfml-window", "-lsfml-audio", "-lsfml-system", cwd=folder, timeout=None)
    return os.path.join(folder, "pong")


# Start-up: process start to the first displayed frame

def first_frame_ms(binary, x, shim):
    """The preloaded shim writes the moment of the first glXSwapBuffers, once
    the X server has the frame, to a file, and ends the program."""
    stamp = os.path.join(os.path.dirname(binary), "first-frame.txt")
    if os.path.exists(stamp):
        os.remove(stamp)
    start = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
    run(binary, cwd=os.path.dirname(binary), env=dict(silent(x.env), LD_PRELOAD=shim, ZARV_FIRST_FRAME_FILE=stamp),
        timeout=120)
    return (int(pathlib.Path(stamp).read_text()) - start) / 1e6


def run_startup(build, pong, settings):
    programs = dict(game=os.path.join(build, "zarv"), **(dict(pong=pong) if pong else {}))
    times = {name: [] for name in programs}
    with Xvfb((1280, 720)) as x:
        # Alternately, so both meet the same noise; the first round, unrecorded, warms the file cache
        for number in range(settings["startups"] + 1):
            for name, binary in programs.items():
                taken = first_frame_ms(binary, x, os.path.join(build, "libzarv_first_frame.so"))
                if number:
                    times[name].append(taken)
    return {name: statistics.median(values) for name, values in times.items()}


# Memory: real key presses (XTEST through xdotool), resident memory from /proc

def play(binary, title, keys, seconds, csv, tap_key=None):
    """Plays the program in its own Xvfb for the given seconds: its start key,
    then each steering key held in turn for half a second. Returns (seconds
    into play, VmRSS kB, VmHWM kB) samples, also written to csv."""
    start_key, *steer_keys = keys
    with Game(binary, title=title, assets=[], cwd=os.path.dirname(binary), sound="silent") as game:
        # Keys are held, never tapped: a game that reads held keys once a
        # frame could miss a tap shorter than a frame
        game.hold(start_key)
        time.sleep(0.3)
        game.release(start_key)
        samples, start, step = [], time.monotonic(), 0
        while time.monotonic() - start < seconds:
            game.release_all()
            game.hold(steer_keys[step % len(steer_keys)])
            if tap_key and step % 4 == 0:  # read as an event, so a tap is seen
                game.hold(tap_key)
                game.release(tap_key)
            check(game.process.poll() is None, "%s ended during play" % binary)
            usage = memory_kb(game.process.pid)
            samples.append((time.monotonic() - start, usage["VmRSS"], usage["VmHWM"]))
            step += 1
            time.sleep(max(0.0, start + step * 0.5 - time.monotonic()))
    pathlib.Path(csv).write_text("seconds,vmrss_kb,vmhwm_kb\n" + "".join("%.1f,%d,%d\n" % s for s in samples))
    return samples


def at(samples, seconds):
    """The first sample taken at or after so many seconds into play."""
    return next((s for s in samples if s[0] >= seconds), samples[-1])


def peak_kb(samples, seconds):
    """The kernel updates VmHWM lazily, so the current VmRSS can exceed it."""
    return max(max(s[1], s[2]) for s in samples if s[0] <= at(samples, seconds)[0])


def run_memory(build, pong, settings):
    peer_seconds, results = settings["peer_seconds"], {}
    if pong:  # Pong serves on Space after every point
        log("Pong: %d s of play" % peer_seconds)
        samples = play(pong, "SFML Pong", ["space", "Up", "Down"], peer_seconds,
                       os.path.join(build, "memory-pong.csv"), tap_key="space")
        results["pong_peak_kb"] = peak_kb(samples, peer_seconds)
    log("Zarv: %d s of play" % settings["session_seconds"])
    samples = play(os.path.join(build, "zarv"), "Zarv", ["Return", "w", "s"], settings["session_seconds"],
                   os.path.join(build, "memory-zarv.csv"))
    settled = at(samples, settings["settle_seconds"])
    after = [s[1] for s in samples if s[0] >= settled[0]]
    results.update(game_peak_kb=peak_kb(samples, peer_seconds), start_kb=samples[0][1], settled_kb=settled[1],
                   end_kb=samples[-1][1], settled_range_kb=(min(after), max(after)), session_seconds=samples[-1][0])
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
REPLAY_FRAMES = 300
BARE_FRAMES = 75


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


def with_cpu(page, what, expression):
    """The expression's value once it is truthy, and the CPU seconds that
    Chromium's processes spent, by kind, until then."""
    before = process_cpu(page.process.pid)
    value = page.until(what, expression)
    return value, {kind: seconds - before.get(kind, 0.0) for kind, seconds in process_cpu(page.process.pid).items()}


def page_session(site):
    """One load of the page and a reload, then a "Player v CPU" game started
    with Return. The first frame is the game's first request for an animation
    frame (drive.js notes the moment), counted by performance.now() from the
    navigation's start. Then the frames around the CPU's return of the first
    serve, as Chromium paces them, and the CPU time that Chromium's processes
    spend in the frames after that bounce. Each session is a browser of its
    own with a new profile: every load is a first visit, with nothing cached."""
    with Page(site, "chromium") as page:
        result = dict(first_frame=page.until("the first frame", "window.zarvLog.firstFrame"))
        timing = page.evaluate("performance.getEntriesByType('resource')"
                               ".map(entry => [entry.name.split('/').pop(), entry.startTime, entry.responseEnd])")
        result["asked"] = min(start for name, start, _ in timing if name.startswith("zarv."))
        result["fetched"] = max(end for _, _, end in timing)
        # A second visit, its GPU process up: once the service worker has kept
        # the release and controls the page, every file comes from its cache
        page.until("the service worker", "navigator.serviceWorker.controller !== null")
        page.evaluate("setTimeout(() => location.reload(), 0), true")
        result["reloaded"] = page.until("the reloaded page's first frame",
                                        "performance.getEntriesByType('navigation')[0].type === 'reload'"
                                        " && window.zarvLog.firstFrame", navigating=True)
        # And a third, from the server alone, past the worker and the browser's cache
        page.command("reload network")
        result["network_reload"] = page.until("the page from the network", "window.zarvLog.firstFrame",
                                              navigating=True)
        result["renderer"] = page.evaluate(RENDERER)
        page.evaluate(RECORD_FRAMES)
        mark = page.evaluate("window.zarvLog.sounds.length")
        page.press_until("Return", "the game to start",
                         lambda: page.evaluate("window.zarvLog.sounds.length > %d" % mark), page.start_deadline)
        # The first bounce's sound starts in the frame that bounces
        bounce, first = page.until("the CPU's return of the serve", "window.zarvLog.sounds.length > %d"
                                   " && [window.zarvLog.sounds[%d].at, window.zarvLog.ends.length]"
                                   % (mark + 1, mark + 1))
        last, result["cpu"] = with_cpu(page, "the frames after the bounce", "window.zarvLog.ends.filter(end => end"
                                       " > %r).length > %d && window.zarvLog.ends.length" % (bounce, AFTER_BOUNCE))
        ends, starts = page.evaluate("[window.zarvLog.ends, window.zarvLog.starts]")
    hit = next(i for i, end in enumerate(ends) if end > bounce)
    frames = range(hit - BEFORE_BOUNCE, hit + AFTER_BOUNCE + 1)
    result["intervals"] = [ends[i] - ends[i - 1] for i in frames]
    result["busy"] = [ends[i] - starts[i - 1] for i in frames]
    result["cpu_frames"] = last - first
    return result


def bare_session(site, frames=True):
    """The bare page's first frame, from the navigation's start, and with
    frames its frames, as the game's are measured: BARE_FRAMES of them after
    the first second, and the CPU time spent meanwhile."""
    with Page(site, "chromium") as page:
        result = dict(first_frame=page.until("the first frame", "window.zarvLog.firstFrame"))
        if not frames:
            return result
        time.sleep(1)
        first = page.evaluate("window.zarvLog.ends.length")
        last, result["cpu"] = with_cpu(page, "the bare page's frames", "window.zarvLog.ends.length > %d"
                                       " && window.zarvLog.ends.length" % (first + BARE_FRAMES))
        ends = page.evaluate("window.zarvLog.ends")
    result["intervals"] = [ends[i] - ends[i - 1] for i in range(first + 1, first + BARE_FRAMES + 1)]
    result["cpu_frames"] = last - first
    return result


def replay_session(site, check):
    """The page playing tests/data/match.zrec back, with check every frame
    rolled back that many frames and run again: the median of the page's main
    thread a frame, from the animation frame's callback to the game's next
    request, over REPLAY_FRAMES frames."""
    copy_record = lambda folder: shutil.copy(os.path.join(SOURCE, "tests", "data", "match.zrec"), folder)
    with Page(site, "chromium", query="?replay=match.zrec&check=%d" % check, tamper=copy_record) as page:
        page.until("the replay", "Number(canvas.dataset.frame) >= 60")
        page.evaluate(RECORD_FRAMES)
        page.until("the replay's frames", "window.zarvLog.ends.length > %d" % REPLAY_FRAMES, deadline=600)
        ends, starts = page.evaluate("[window.zarvLog.ends, window.zarvLog.starts]")
    return statistics.median(ends[i] - starts[i - 1] for i in range(1, REPLAY_FRAMES + 1))


def density_session(site, scale):
    """The menu's frames at scale device pixels a CSS pixel, where the
    canvas's drawing buffer has scale² times the pixels: DENSE_FRAMES of
    them after the first, median interval and the buffer's size."""
    viewport = dict(width=1280, height=800, deviceScaleFactor=scale)
    with Page(site, "chromium", options=dict(viewport=viewport)) as page:
        page.until("the first frame", "window.zarvLog.firstFrame")
        page.evaluate(RECORD_FRAMES)
        page.until("the menu's frames", "window.zarvLog.ends.length > %d" % DENSE_FRAMES, deadline=600)
        ends = page.evaluate("window.zarvLog.ends")
        buffer = page.evaluate("[document.getElementById('canvas').width, document.getElementById('canvas').height]")
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


def page_sites(build, zip_path):
    """The page unpacked from its zip, and beside it the bare page with
    stand-ins of the same names and sizes as the files the page fetches;
    the sizes of the zip and of the page's files."""
    site, bare_site = os.path.join(build, "web", "site"), os.path.join(build, "web", "bare")
    for folder in (site, bare_site):
        shutil.rmtree(folder, ignore_errors=True)
    with zipfile.ZipFile(zip_path) as archive:
        archive.extractall(site)
        unpacked = sum(entry.file_size for entry in archive.infolist())
    contents = {name: pathlib.Path(site, name).read_bytes() for name in page_files(site)}
    files = {name: dict(bytes=len(data), gzip=len(gzip.compress(data, compresslevel=6)))
             for name, data in contents.items()}
    os.makedirs(bare_site)
    fetched = [name for name in files if name != "index.html"]
    for name in fetched:
        pathlib.Path(bare_site, name).write_bytes(os.urandom(files[name]["bytes"]))
    pathlib.Path(bare_site, "index.html").write_text(BARE_PAGE % dict(
        files=json.dumps(fetched), backdrop=", ".join(map(str, BACKDROP)),
        clear=", ".join("%d / 255" % c for c in BACKDROP)))
    return site, bare_site, dict(zip_name=os.path.basename(zip_path), zip_bytes=os.path.getsize(zip_path),
                                 unpacked_bytes=unpacked, files=files)


def first_frame(site):
    """A page's first frame alone, as page_session() counts it."""
    with Page(site, "chromium") as page:
        return page.until("the first frame", "window.zarvLog.firstFrame")


def run_page(build, settings):
    """The page, BUILD_DIR/web/zarv-*-web.zip, if it was built, and the first
    browser release's, BUILD_DIR/first-release/web/zarv-*-web.zip, where
    scripts/bench has built it."""
    found = sorted(glob.glob(os.path.join(build, "web", "zarv-*-web.zip")))
    if not found:
        log("no %s/web/zarv-*-web.zip: run scripts/build-web %s/web to measure the page" % (build, build))
        return None
    log("The page in headless Chromium")
    site, bare_site, results = page_sites(build, found[-1])
    results["chromium"] = run("chromium", "--version").split(" built")[0].strip()
    first_release = sorted(glob.glob(os.path.join(build, "first-release", "web", "zarv-*-web.zip")))
    first_release_site = os.path.join(build, "web", "first-release")
    if first_release:
        shutil.rmtree(first_release_site, ignore_errors=True)
        with zipfile.ZipFile(first_release[-1]) as archive:
            archive.extractall(first_release_site)
    sessions, bare_starts, first_release_starts = [], [], []
    for number in range(settings["page_sessions"] + 1):  # alternately, so all meet the same noise
        log("  page session %d of %d" % (number + 1, settings["page_sessions"] + 1))
        sessions.append(page_session(site))
        bare_starts.append(bare_session(bare_site, frames=number % 3 == 0))
        if first_release:
            first_release_starts.append(first_frame(first_release_site))
    if first_release:
        results["first_release_first_frame"] = statistics.median(first_release_starts[1:])
    loads = sessions[1:]  # the first load reads the files from the disk, into its cache
    results["bare_first_frame"] = statistics.median(s["first_frame"] for s in bare_starts[1:])
    results["loads"], results["games"] = len(loads), len(sessions)
    for name in ("first_frame", "reloaded", "network_reload", "asked", "fetched"):
        results[name] = statistics.median(s[name] for s in loads)
    results["renderer"] = sessions[-1]["renderer"]
    results["frame"] = frame_figures(sessions)
    results["bare"] = frame_figures([s for s in bare_starts if "intervals" in s])
    busy = [value for s in sessions for value in s["busy"]]
    results["busy"] = dict(median=statistics.median(busy), p99=percentile(busy, 0.99))
    log("  the menu at 1 and 2 device pixels a CSS pixel")
    results["density"] = [density_session(site, scale) for scale in (1, 2)]
    log("  a replay, with every frame rolled back 8 frames and without")
    results["replay"] = {check: statistics.median(replay_session(site, check) for _ in range(3)) for check in (0, 8)}
    return results


# Online: two pages in headless Chromium, each a browser of its own, through
# the tests' broker and coturn on 127.0.0.1 behind the tests' UDP relay, which
# delays, jitters and loses what the pages send and counts it

COUNTS = "Module.zarvOnline && Module.zarvOnline.counts"


def online_match(site, round_trip, loss, seconds):
    """One match at round_trip seconds (±10 ms of jitter) and loss each way:
    the guest's page from its navigation to frame 0, both playing random keys
    for so many seconds, then what each page's session counted meanwhile, the
    relay's bytes from each page, and the checksums that both published."""
    with tempfile.TemporaryDirectory() as folder, Broker(folder) as broker, Coturn() as coturn, \
            Relay(coturn.address) as turn:
        broker.serve(site)
        turn.round_trip(round_trip)
        turn.jitter, turn.loss = 0.005, loss
        with Page(site, "chromium", url=broker.room_url(turn)) as host, \
                Page(site, "chromium", url=invite(host)) as guest:
            result = dict(first_frame=guest.until("frame 0", "%s && %s.frame > 0 && performance.now()"
                                                  % (COUNTS, COUNTS), 60))
            host.until("frame 0", "%s && %s.frame > 0" % (COUNTS, COUNTS), 60)
            before, bytes_before, start = [page.evaluate(COUNTS) for page in (host, guest)], turn.counted(), \
                time.monotonic()
            said = play_at_random([host, guest], seconds)
            after, bytes_after, taken = [page.evaluate(COUNTS) for page in (host, guest)], turn.counted(), \
                time.monotonic() - start
            mine, theirs = published(host), published(guest)
    common = set(mine) & set(theirs)
    result["compared"], result["differing"] = len(common), sum(mine[f] != theirs[f] for f in common)
    result["fps"] = min((a["frame"] - b["frame"]) / taken for a, b in zip(after, before))
    result["waited"] = max((a["waited"] - b["waited"]) / max(1, a["frame"] - b["frame"]) for a, b in zip(after, before))
    result["run_again"] = max((a["runAgain"] - b["runAgain"]) / max(1, a["frame"] - b["frame"])
                              for a, b in zip(after, before))
    result["kbits"] = max(8 * (bytes_after[client]["up"][0] - bytes_before.get(client, {"up": [0]})["up"][0])
                          / taken / 1000 for client in bytes_after)
    result["payload_kbits"] = max(8 * (a["bytesSent"] - b["bytesSent"]) / taken / 1000 for a, b in zip(after, before))
    shown = [(int(trip), int(delay)) for text in said
             for trip, delay in re.findall(r"round trip (\d+) ms · input delay (\d+)", text)]
    result["round_trip"] = statistics.median(trip for trip, _ in shown) if shown else 0
    result["delay"] = max(delay for _, delay in shown) if shown else 0
    return result


def run_online(build, page, settings):
    """A match at a 120 ms round trip with 5 % loss, and a long one at 200 ms."""
    if page is None:
        return None
    log("Online: two pages through a lossy relay")
    site = os.path.join(build, "web", "site")
    return dict(lossy=online_match(site, 0.12, 0.05, settings["online_seconds"]),
                distant=online_match(site, 0.2, 0.05, settings["desync_seconds"]),
                seconds=settings["online_seconds"], desync_seconds=settings["desync_seconds"])


# The table: each row its measurement, Zarv's figure, the reference beside it
# and their ratio, and where it has one its target, from TARGETS, and whether
# it was met

def row(*cells):
    return "| %s |" % " | ".join(cells + ("",) * (6 - len(cells)))


def section(title):
    return "| **%s** | | | | | |" % title


def met(target, *figures):
    """The Target and Met cells of a row whose figures are held to TARGETS[target]."""
    shown, test = TARGETS[target]
    return shown, "**yes**" if test(*figures) else "**no**"


def ratio(value, reference, digits):
    return "%.*f×" % (digits, value / reference)


def share(part, whole, form="%.0f %%"):
    return form % (100 * part / whole)


def ms(value):
    return "%.2f ms" % value


def spread(sample):
    """A sample's median and 99th percentile."""
    return "%.2f / %.2f ms" % (sample["median"], sample["p99"])


def paced(sample):
    """The same, with the frames a second that its mean makes."""
    return "%s (%.0f fps)" % (spread(sample), 1000 / sample["mean"])


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


def logic_rows(logic):
    yield section("1. Game logic of one frame (Google Benchmark, CPU time, keys from the stand-ins)")
    open_ns = logic["BM_LiveFrameOpenPlay"]["ns"]
    yield row("live frame, ball in open play, W held", "%.0f ns" % open_ns, "", "", *met("logic", open_ns))
    for name, what in [("BM_LiveFrameRimBounce", "live frame, ball at the rim: bounce off the CPU's paddle"),
                       ("BM_LiveFrameRimMiss", "live frame, ball at the rim: miss, point and re-serve"),
                       ("BM_LiveFrameRally", "live frame over a rally (%s)" % logic["BM_LiveFrameRally"]["label"])]:
        value = logic[name]["ns"]
        yield row(what, "%.0f ns" % value, "open play %.0f ns" % open_ns, ratio(value, open_ns, 1),
                  *met("logic", value))
    menu_ns, live_ns = logic["BM_MenuFrameNoDrawing"]["ns"], logic["BM_LiveRunFrameNoDrawing"]["ns"]
    yield row("menu frame: `runFrame()` with no window (draw calls return at once)", "%.0f ns" % menu_ns,
              "live `runFrame()`, no window: %.0f ns" % live_ns, ratio(menu_ns, live_ns, 1))
    saving = logic["BM_SaveAndRestore"]["ns"]
    yield row("a match's rollback: the whole state saved before a frame, restored and checksummed", "%.0f ns" % saving,
              "live `runFrame()`, no window: %.0f ns" % live_ns, ratio(saving, live_ns, 2),
              *met("save and restore", saving))


def frame_rows(frames, logic_ms):
    yield section("2. Whole frames under Xvfb, median / 99th percentile (frames a second from the mean)")
    bare, plain = frames["bare_frame"], frames["bare_frame_no_antialiasing"]
    for what, sample in [("live frame: the game's `runFrame()`, CPU playing red", frames["game_live_frame"]),
                         ("menu frame: the game's `runFrame()`", frames["game_menu_frame"])]:
        yield row(what, paced(sample), "bare window: " + paced(bare), ratio(sample["median"], bare["median"], 2),
                  *met("frame rate", 1000 / sample["mean"]))
    yield row("bare window, antialiased as the game asks: what clearing and presenting alone cost", spread(bare),
              "bare window without antialiasing: " + spread(plain), ratio(bare["median"], plain["median"], 1))
    for kind in ("live", "menu"):
        sample = frames["game_%s_frame_no_antialiasing" % kind]
        yield row("if the game's window had no antialiasing: %s `runFrame()`" % kind, paced(sample),
                  "bare window without antialiasing: " + ms(plain["median"]),
                  ratio(sample["median"], plain["median"], 1), *met("frame rate", 1000 / sample["mean"]))
    for kind, draws, keys in [("live", 8, 4), ("menu", 11, 5)]:
        whole = frames["game_%s_frame" % kind]["median"]
        parts = [("draw calls (clear and %d draws)" % draws, frames[kind + "_draw_calls"]["median"]),
                 ("`display()`: llvmpipe rasterises, resolves and presents", frames[kind + "_display"]["median"]),
                 ("text updates (`setString`, `formatInt`, `placeRedScore`)", frames[kind + "_text_updates"]["median"]),
                 ("key polling (events and %d keys)" % keys, frames[kind + "_key_polling"]["median"])]
        parts += [("game logic (the rally above)", logic_ms)] if kind == "live" else []
        for what, value in parts:
            yield row("%s frame, part: %s" % (kind, what), duration(value), "whole %s frame %s" % (kind, ms(whole)),
                      share(value, whole, "%.2g %%"))


def polling_rows(frames, logic_ms):
    yield section("3. Key polling with the real SFML: each `isKeyPressed` asks the X server")
    key = frames["is_key_pressed"]
    yield row("one `sf::Keyboard::isKeyPressed`", "%s / %s" % (duration(key["median"]), duration(key["p99"])),
              "one live frame's logic: " + duration(logic_ms), ratio(key["median"], logic_ms, 0))
    yield row("`pollEvent` alone, no events waiting", duration(frames["poll_events"]["median"]))
    for kind, keys in [("live", 4), ("menu", 5)]:
        polling, whole = frames[kind + "_key_polling"], frames["game_%s_frame" % kind]["median"]
        yield row("polling of a %s frame (events and %d keys)" % (kind, keys),
                  "%s / %s" % (duration(polling["median"]), duration(polling["p99"])),
                  "whole %s frame %s" % (kind, ms(whole)), share(polling["median"], whole, "%.1f %%"))


def startup_rows(startup, frames, startups):
    yield section("4. Start-up: process start to the first displayed frame (median of %d)" % startups)
    game = startup["game"]
    if "pong" in startup:
        yield row("start-up", ms(game), "SFML's Pong: " + ms(startup["pong"]), ratio(game, startup["pong"], 2),
                  *met("start-up", game, startup["pong"]))
    else:
        yield row("start-up", ms(game), "Pong not built (no libsfml-doc)", "", *met("start-up, no Pong", game))
    setup, first = frames["startup_setup_scene"]["mean"], frames["startup_first_frame"]["mean"]
    for what, value in [("before `main` (static objects: SFML's shared GL context, the OpenAL device) and loading",
                         max(0.0, game - setup - first)),
                        ("`setupScene()`, its window antialiased", setup), ("the first `runFrame()`", first)]:
        yield row("part: " + what, ms(value), "", share(value, game))
    window, plain = frames["startup_open_bare_window"]["mean"], frames["startup_open_plain_window"]["mean"]
    yield row("opening a 1280 × 720 window, antialiased as the game asks", ms(window),
              "without antialiasing: " + ms(plain), ratio(window, plain, 1))


def memory_rows(memory, settings):
    yield section("5. Memory under real key presses (xdotool), from /proc/PID/status")
    game, pong, mib = memory["game_peak_kb"], memory.get("pong_peak_kb"), "%.1f MiB"
    yield row("peak resident (VmHWM) after %d s of play" % settings["peer_seconds"], mib % (game / 1024),
              *(("SFML's Pong: " + mib % (pong / 1024), ratio(game, pong, 2)) if pong else ()))
    settle, (low, high) = settings["settle_seconds"], memory["settled_range_kb"]
    growth = memory["end_kb"] - memory["settled_kb"]
    yield row("VmRSS growth over a %.0f s session, from %d s in to the end" % (memory["session_seconds"], settle),
              "%+d kB" % growth, "VmRSS from %d s on: %.1f–%.1f MiB" % (settle, low / 1024, high / 1024), "",
              *met("memory growth", growth))
    yield row("VmRSS growth in the first %d s of play (one-off: glyphs enter the font's texture)" % settle,
              "%+d kB" % (memory["settled_kb"] - memory["start_kb"]),
              "at the first frame of play: " + mib % (memory["start_kb"] / 1024))


def page_download_rows(page):
    yield row("download: the zip, `%s`, as uploaded" % page["zip_name"], size(page["zip_bytes"]),
              "its files unpacked: " + size(page["unpacked_bytes"]), share(page["zip_bytes"], page["unpacked_bytes"]),
              *met("zip", page["zip_bytes"]))
    served = sum(f["gzip"] for f in page["files"].values())
    plain = sum(f["bytes"] for f in page["files"].values())
    yield row("download: what a browser fetches (%s), each gzip-compressed at level 6 as a static server sends it"
              % ", ".join(page["files"]), size(served), "uncompressed: " + size(plain), share(served, plain),
              *met("download", served))
    for name, sizes in page["files"].items():
        yield row("part: `%s`, gzip" % name, size(sizes["gzip"]), "uncompressed: " + size(sizes["bytes"]),
                  share(sizes["gzip"], served), *(met("wasm", sizes["bytes"]) if name.endswith(".wasm") else ()))


def page_start_rows(page, game_start):
    first, floor = page["first_frame"], page["bare_first_frame"]
    yield row("navigation to the first menu frame, each load a new browser profile (median of %d)" % page["loads"],
              ms(first), "bare page's first WebGL frame in this run: the same canvas and context settings, files of "
              "the same sizes fetched, one cleared frame: " + ms(floor), ratio(first, floor, 2),
              *met("page start", first, floor))
    yield row("navigation to the first menu frame, against the desktop", ms(first),
              "desktop game in this run, process start to its first frame: " + ms(game_start),
              ratio(first, game_start, 2), *met("page start, absolute", first))
    if "first_release_first_frame" in page:
        reference = page["first_release_first_frame"]
        yield row("navigation to the first menu frame, against the first browser release", ms(first),
                  "d9581bc's page in this run, built from that commit, each load a new profile: " + ms(reference),
                  ratio(first, reference, 2), *met("page start, first release", first, reference))
    asked, fetched = page["asked"], page["fetched"]
    for what, value in [("`index.html` parsed, up to the first request for one of the game's files (`zarv.<hash>.*`)",
                         asked),
                        ("the game's script, wasm and data fetched from 127.0.0.1, up to the last one's `responseEnd`",
                         fetched - asked),
                        ("from there to the first frame: the wasm's start, Chromium's GPU process and the game's "
                         "WebGL context, `setupScene()`, the first `runFrame()`", first - fetched)]:
        yield row("part: " + what, ms(value), "", share(value, first))
    yield row("the same page reloaded in the same browser, every file from the service worker's cache",
              ms(page["reloaded"]), "reloaded from the server, past the worker and the cache: "
              + ms(page["network_reload"]), ratio(page["reloaded"], page["network_reload"], 2),
              *met("cached start", page["reloaded"], page["network_reload"]))


def page_frame_rows(page, frames, cores):
    web, desktop = page["frame"], frames["game_live_frame"]
    capped = " (Chromium's cap: the frame may cost less)" if web["median"] < 17.5 else ""
    yield row("live frame of a \"Player v CPU\" rally as Chromium paces it, 60 a second at most: from one of the "
              "game's requests for an animation frame to the next, median / 99th percentile (frames a second from "
              "the mean; %d frames about the CPU's return of the serve, %d games)%s"
              % (web["count"], page["games"], capped), paced(web),
              "desktop game's live frame in this run, unthrottled, under Xvfb on llvmpipe: " + paced(desktop),
              ratio(web["median"], desktop["median"], 2), *met("page frame", web["median"], desktop["median"]))
    cpu, whole = web["cpu_ms"], "whole page frame %.2f ms" % web["median"]
    for kinds, what in [(["gpu-process"], "Chromium's GPU process (SwiftShader runs the game's WebGL calls, "
                          "resolves the samples, composites the page)"),
                        (["renderer"], "the page's renderer process (the game's wasm and JavaScript, its WebGL "
                          "calls queued for the GPU process)"),
                        ([kind for kind in cpu if kind not in ("gpu-process", "renderer")],
                         "the browser's own process and its utility processes (network, audio)")]:
        yield row("part: CPU time a frame in %s, over %d live frames" % (what, web["cpu_frames"]),
                  "%.2f ms" % sum(cpu.get(kind, 0.0) for kind in kinds), "%s, on %s cores" % (whole, cores))
    yield row("part: the page's main thread, from the animation frame's callback to the game's next request",
              spread(page["busy"]), whole, share(page["busy"]["median"], web["median"]))
    bare_page, bare_window = page["bare"], frames["bare_frame"]
    yield row("bare page: a canvas of the game's size and WebGL settings cleared in every animation frame, median / "
              "99th percentile (%d frames)" % bare_page["count"], paced(bare_page),
              "desktop bare window in this run: " + paced(bare_window),
              ratio(bare_page["median"], bare_window["median"], 2))
    page_ratio, desktop_ratio = web["median"] / bare_page["median"], desktop["median"] / bare_window["median"]
    yield row("live frame over the bare page's frame", "%.2f×" % page_ratio,
              "desktop game's live frame over its bare window's, this run: %.2f×" % desktop_ratio,
              ratio(page_ratio, desktop_ratio, 2), *met("page frame over bare", page_ratio, desktop_ratio))
    again, drawn = page["replay"][8] - page["replay"][0], sum(cpu.values())
    yield row("a replay's frames run again: every frame rolled back 8 frames and run again, what it adds to the page's "
              "main thread a frame (median of 3 replays each way)", ms(again),
              "a live frame drawn, CPU time in all Chromium's processes: " + ms(drawn), ratio(again, drawn, 3),
              *met("frames run again", again, drawn))
    sharp, dense = page["density"]
    yield row("menu frame at 2 device pixels a CSS pixel, its buffer %d × %d (%d frames, median)"
              % (*dense["buffer"], DENSE_FRAMES), ms(dense["median"]),
              "at 1, its buffer %d × %d: %s" % (*sharp["buffer"], ms(sharp["median"])),
              ratio(dense["median"], sharp["median"], 2))
    # Paced by Chromium at 60 a second, a frame's interval hides its cost: the CPU spent is the finer measure
    page_cpu, bare_cpu = sum(cpu.values()), sum(bare_page["cpu_ms"].values())
    yield row("CPU time a live frame in all Chromium's processes over the bare page's",
              ratio(page_cpu, bare_cpu, 2) if bare_cpu else "", "%.2f ms against %.2f ms" % (page_cpu, bare_cpu))
    bare_gpu, game_gpu = bare_page["cpu_ms"].get("gpu-process", 0.0), cpu.get("gpu-process", 0.0)
    yield row("bare page, part: CPU time a frame in Chromium's GPU process", "%.2f ms" % bare_gpu,
              "the game's page: %.2f ms" % game_gpu, share(bare_gpu, game_gpu) if game_gpu else "")


def online_rows(online):
    if online is None:
        return
    lossy, distant = online["lossy"], online["distant"]
    yield section("7. Online: two pages in headless Chromium through a local PeerJS broker and coturn, behind a UDP "
                  "relay that delays, jitters (±10 ms) and loses 5 % each way; random keys on both")
    yield row("from opening the invite link to the first shared frame (guest's navigation to frame 0)",
              ms(lossy["first_frame"]), "", "", *met("online start", lossy["first_frame"]))
    yield row("input delay the status line showed, at most, at a round trip of %.0f ms shown (120 ms applied)"
              % lossy["round_trip"], "%d frames" % lossy["delay"], "", "", *met("felt delay", lossy["delay"]))
    yield row("game frames a second over %d s at 120 ms, the slower page; frames that waited for the other side"
              % online["seconds"], "%.1f fps, %.2f %% waited" % (lossy["fps"], 100 * lossy["waited"]),
              "frames run again after a rollback: %.2f a frame" % lossy["run_again"], "",
              *met("online frames", lossy["fps"], lossy["waited"]))
    yield row("each page's sending, at the relay (UDP payload to coturn: TURN, DTLS and SCTP included), the more "
              "of the two", "%.1f kbit/s" % lossy["kbits"], "the session's own packets: %.1f kbit/s"
              % lossy["payload_kbits"], share(lossy["payload_kbits"], lossy["kbits"]),
              *met("online bandwidth", lossy["kbits"]))
    yield row("checksums that differ over %d s at a 200 ms round trip, of those both pages published"
              % online["desync_seconds"], "%d of %d" % (distant["differing"], distant["compared"]),
              "%.1f fps, %.2f %% waited" % (distant["fps"], 100 * distant["waited"]), "",
              *met("online desync", distant["differing"]))


def page_rows(build, page, frames, startup, cores):
    if page is None:
        yield section("6. The page: not built (no %s/web/zarv-*-web.zip)" % os.path.basename(build))
        return
    yield section("6. The page in headless %s against the desktop game, both drawn by software GL on the CPU: "
                  "the page's WebGL on %s (%d samples a pixel), the desktop's OpenGL on llvmpipe"
                  % (page["chromium"], page["renderer"]["renderer"], page["renderer"]["samples"]))
    yield from page_download_rows(page)
    yield from page_start_rows(page, startup["game"])
    yield from page_frame_rows(page, frames, cores)


def table(build, settings, quick, logic, info, frames, startup, memory, page, online, machine):
    logic_ms = logic["BM_LiveFrameRally"]["ns"] / 1e6
    heading = ["## Benchmarks", ""]
    if quick:
        heading += ["**QUICK RUN (`--quick`): shortened durations and fewer samples; not the figures to quote.**", ""]
    heading += ["%s · `scripts/bench%s` · %s · %s cores (%s) · renderer %s, OpenGL %s, under Xvfb, no vertical "
                "sync · antialiasing asked 8, got %s · build type %s · load average %s at the start, %s at the end"
                % (machine["date"], " --quick" if quick else "", machine["os"], machine["cores"], machine["cpu"],
                   info.get("renderer", "?"), info.get("gl_version", "?"), info.get("game_antialiasing", "?"),
                   machine["build_type"], machine["load_start"], machine["load_end"]), "",
                "| Measurement | Zarv | Side by side, same run | Ratio | Target | Met |",
                "|---|---|---|---|---|---|"]
    rows = [*logic_rows(logic), *frame_rows(frames, logic_ms), *polling_rows(frames, logic_ms),
            *startup_rows(startup, frames, settings["startups"]), *memory_rows(memory, settings),
            *page_rows(build, page, frames, startup, machine["cores"]), *online_rows(online)]
    return "\n".join(heading + rows) + "\n"


def machine_facts(build):
    def first(path, pattern):
        with open(path) as text:
            found = re.search(pattern, text.read(), re.M)
        return found.group(1).strip() if found else "?"
    return {"date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
            "cores": str(os.cpu_count()), "os": first("/etc/os-release", r'^PRETTY_NAME="?(.*?)"?$'),
            "cpu": first("/proc/cpuinfo", r"^model name\s*:(.*)$"),
            "build_type": first(os.path.join(build, "CMakeCache.txt"), r"^CMAKE_BUILD_TYPE:\w+=(.*)$"),
            "load_start": "%.1f" % os.getloadavg()[0]}


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
    page = run_page(build, settings)
    online = run_online(build, page, settings)
    log("Memory")
    memory = run_memory(build, pong, settings)
    machine["load_end"] = "%.1f" % os.getloadavg()[0]

    report = table(build, settings, quick, logic, info, frames, startup, memory, page, online, machine)
    path = os.path.join(build, "benchmark-report.md")
    pathlib.Path(path).write_text(report)
    print(report)
    log("written to %s" % path)


if __name__ == "__main__":
    main()
