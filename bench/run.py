#!/usr/bin/env python3
"""Runs every benchmark on a built tree and prints one Markdown table.

Each figure is taken side by side with its reference in the same run, since
the machine is shared and an absolute figure alone says little: the game's
logic per kind of frame, the game's whole frames against a bare window under
Xvfb, key polling against the frame it sits in, and start-up and memory
against SFML's own Pong example, built here from Debian's libsfml-doc.

Usage: run.py BUILD_DIR [--quick]. The table also goes to
BUILD_DIR/benchmark-report.md.
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
import time

PONG_SOURCE = "/usr/share/doc/libsfml-dev/examples/pong"
FULL = dict(logic=["--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"],
            frame_rounds=20, startups=9, peer_seconds=60, session_seconds=300, settle_seconds=60)
QUICK = dict(logic=["--benchmark_min_time=0.1"],
             frame_rounds=5, startups=3, peer_seconds=10, session_seconds=30, settle_seconds=10)


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


def table(build, settings, quick, logic, info, frames, startup, memory, machine):
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
    log("Memory")
    memory = run_memory(build, pong, settings)
    machine["load_end"] = "%.1f" % os.getloadavg()[0]

    report = table(build, settings, quick, logic, info, frames, startup, memory, machine)
    path = os.path.join(build, "benchmark-report.md")
    with open(path, "w") as out:
        out.write(report)
    print(report)
    log("written to %s" % path)


if __name__ == "__main__":
    main()
