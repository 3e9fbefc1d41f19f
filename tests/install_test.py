#!/usr/bin/env python3
"""The installed game and the Debian package, started the way a player would.

install: `cmake --install` into a temporary prefix. The files laid out, the
font a symlink to the system's, the desktop entry and the AppStream metainfo
through their validators, then the installed launcher, called through a
symlink from another working directory: the menu's texts are drawn (so the
font was found), a menu move is heard (so the sounds were), Escape exits 0.
Last, the uninstall script takes every installed file away again.

package: `cpack -G DEB` into a temporary folder. The .deb's name, control
fields and file list, lintian, the copyright file as Debian's machine-readable
format, then, unpacked with dpkg-deb -x into a temporary root, the validators
and its launcher as above. Last, the package built again in a build folder
of its own must come out byte for byte the same.

apt-lock: scripts/install-packages, in a setting of apt's of its own where it
has one package to download, while this test holds that setting's dpkg
frontend lock: it says once that it waits and goes on when the lock is let
go; with ZARV_APT_LOCK_TIMEOUT=1 it fails with one line naming this process.

release, on the dist/ folder that scripts/release made: SHA256SUMS checks
out, with a package for each release and architecture; each portable Linux
tarball (x86-64, aarch64) holds its files, and its ELF files are built for
its processor and need no library but what every desktop has, no glibc newer
than 2.31 and no run path but $ORIGIN; in a fresh root of each Debian release
from 11 on (scripts/debian-root --fresh), with no compiler, SFML, OpenAL or
Open Sans, its launcher shows the menu, is heard and exits 0 on Escape (the
aarch64 game, in the Debian 11 root, through qemu-aarch64-static); each .deb,
in the fresh root of the release it was built for, passes that release's
lintian and installs with apt where the others of its architecture do not,
starts from its menu entry's command (an arm64 one, added as a foreign
architecture, through the emulator), shows the menu, exits 0 on Escape, and
apt remove leaves none of its files; the Windows zip and the page's zip
are the same bytes as those the tests built and played in this tree, the
source tarball, the cross-built packages and the portable tarballs built
again from another clone come out byte for byte the same, and the source
tarball holds exactly the tracked files. The page's zip holds its files, and
served from a folder it shows the menu in headless Chromium and ends on Escape.

The game runs under its own Xvfb, driven and watched as in end_to_end.py.

Usage: install_test.py BUILD_DIR [install] [package] [apt-lock]
       install_test.py --release DIST_DIR
       install_test.py --in-root [--portable TARBALL]... [DEB ... [--others DEB ...]]
                       (in a fresh root, as --release runs it)
"""

import concurrent.futures
import contextlib
import fcntl
import gzip
import hashlib
import io
import json
import lzma
import os
import pwd
import re
import shutil
import signal
import struct
import subprocess
import sys
import tarfile
import tempfile
import time
import traceback
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from end_to_end import (DEADLINE, EMULATED_DEADLINE, MENU_HZ, Failure, Game, Page, check,  # noqa: E402
                        end_session, highlighted_option, keep_evidence, menu_shown, wait_for)

SOUNDS = ["menu.wav", "selected.wav", "stop.wav", "zarv.wav"]
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# What the game is driven and watched with in a fresh root, before the package comes in
TEST_TOOLS = ["python3", "xvfb", "xauth", "x11-utils", "xdotool", "imagemagick"]
# Debian releases from the oldest the portable Linux build runs on
PORTABLE_RELEASES = ["bullseye", "bookworm", "trixie", "sid"]
# What the portable build may need of a desktop, and what the root it plays in
# has besides the test tools: the libraries below and Mesa's software GL
PORTABLE_NEEDS = {"libc.so.6", "libm.so.6", "libdl.so.2", "libpthread.so.0", "librt.so.1",
                  "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1", "libGL.so.1", "libX11.so.6",
                  "libXrandr.so.2", "libXcursor.so.1", "libudev.so.1"}
PORTABLE_RUNTIME = ["libgl1", "libgl1-mesa-dri", "libx11-6", "libxrandr2", "libxcursor1", "libudev1"]
NEWEST_GLIBC = (2, 31)
# The portable tarballs by processor: the Debian architecture each is built
# for, and the machine readelf names in its ELF files
PORTABLE_PROCESSORS = {"x86_64": ("amd64", "X86-64"), "aarch64": ("arm64", "AArch64")}
# The emulator that plays a Debian architecture other than this machine's,
# called by name, since a machine without binfmt cannot start such a program
# through its launcher; and the package that brings it
EMULATORS = {"arm64": ("qemu-aarch64-static", "qemu-user-static")}


def run(*command, cwd=None, env=None):
    done = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True)
    check(done.returncode == 0, "%s failed (%d):\n%s%s"
          % (" ".join(command), done.returncode, done.stdout, done.stderr))
    return done.stdout


def expected_files(layout):
    """Every file and symlink an install puts in place, relative to the prefix."""
    app, share = layout["app_id"], layout["data_root"]
    files = {layout["launcher_dir"] + "/zarv", layout["lib_dir"] + "/zarv",
             share + "/applications/%s.desktop" % app, share + "/metainfo/%s.metainfo.xml" % app,
             layout["man_dir"] + "/man6/zarv.6.gz", layout["doc_dir"] + "/copyright",
             layout["doc_dir"] + "/changelog.gz"}
    files |= {layout["data_dir"] + "/" + name for name in SOUNDS + ["segoeui.ttf"]}
    files |= {"%s/icons/hicolor/%sx%s/apps/%s.png" % (share, size, size, app)
              for size in layout["icon_sizes"].split(";")}
    return files


def files_under(root):
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def check_installed_tree(root, layout, prefix):
    """What a player gets under root, installed for prefix (the same, or /usr
    for the package unpacked into a root of its own)."""
    found, expected = files_under(root), expected_files(layout)
    check(found == expected, "installed files differ: missing %s, unexpected %s"
          % (sorted(expected - found), sorted(found - expected)))

    launcher = os.path.join(root, layout["launcher_dir"], "zarv")
    check(os.access(launcher, os.X_OK), "the launcher is not executable")
    with open(launcher) as script:
        text = script.read()
    check(text.startswith("#!/bin/sh\n"), "the launcher is not a sh script")
    check("/usr/local" not in text and root not in text,
          "the launcher names a fixed prefix:\n" + text)
    with open(os.path.join(root, layout["lib_dir"], "zarv"), "rb") as binary:
        check(binary.read(4) == b"\x7fELF", "the game binary is not an ELF file")

    font = os.path.join(root, layout["data_dir"], "segoeui.ttf")
    if layout["font_package"]:
        # Relative within /usr, as Debian wants; absolute from another top-level folder
        target = os.readlink(font) if os.path.islink(font) else ""
        absolute_link = prefix.split("/")[1] != layout["font_file"].split("/")[1]
        check(target.startswith("/") == absolute_link and os.path.normpath(os.path.join(
              prefix, layout["data_dir"], target)) == layout["font_file"],
              "segoeui.ttf links to %r, not to %s" % (target, layout["font_file"]))
    else:
        check(not os.path.islink(font), "segoeui.ttf links to an unpackaged font")
    for name in SOUNDS:
        with open(os.path.join(root, layout["data_dir"], name), "rb") as wav:
            header = wav.read(12)
        check(header[:4] == b"RIFF" and header[8:] == b"WAVE", name + " is not a WAV file")

    for size in layout["icon_sizes"].split(";"):
        path = "%s/%s/icons/hicolor/%sx%s/apps/%s.png" % (root, layout["data_root"], size, size,
                                                          layout["app_id"])
        with open(path, "rb") as png:
            head = png.read(26)
        check(head[:8] == b"\x89PNG\r\n\x1a\n", path + " is not a PNG")
        width, height = struct.unpack(">II", head[16:24])
        check((width, height) == (int(size), int(size)),
              "%s is %dx%d" % (path, width, height))
        check(head[25] == 6, path + " has no alpha channel")

    desktop = "%s/%s/applications/%s.desktop" % (root, layout["data_root"], layout["app_id"])
    run("desktop-file-validate", desktop)
    with open(desktop) as entry:
        lines = entry.read().splitlines()
    execs = [line for line in lines if line.startswith("Exec=")]
    wanted = "%s/%s/zarv" % (prefix, layout["launcher_dir"])
    check(execs == ["Exec=" + wanted], "the desktop entry does not start %s: %s" % (wanted, execs))
    window_class = [line.split("=", 1)[1] for line in lines if line.startswith("StartupWMClass=")]
    metainfo = "%s/%s/metainfo/%s.metainfo.xml" % (root, layout["data_root"], layout["app_id"])
    run("appstreamcli", "validate", "--no-net", metainfo)
    return launcher, window_class


def play_through(launcher, window_class, name, through_link=True, wrapper=(), deadline=DEADLINE):
    """Starts the launcher, through a symlink unless through_link is False, with
    a working directory of its own that holds no assets; the game has to find
    them in its data folder. Its window's class is the one the desktop entry
    names, so that docks match them. With a wrapper (an emulator), launcher is
    the game itself, and deadline what each step is allowed."""
    elsewhere = tempfile.mkdtemp(prefix="zarv-link-")
    command = launcher
    if through_link:
        command = os.path.join(elsewhere, "zarv")
        os.symlink(launcher, command)
    game = Game(command, assets=[], wrapper=wrapper, deadline=deadline)
    try:
        game.start()
        shown = run("xprop", "-id", game.window, "WM_CLASS", env=game.env)
        check(window_class and shown.rstrip().endswith('"%s"' % window_class[0]),
              "the desktop entry's StartupWMClass %s is not the window's %s" % (window_class, shown))
        wait_for("the menu with its texts drawn",
                 lambda: (lambda s: menu_shown(s) and highlighted_option(s) == 1)(game.screenshot()), game.deadline)
        mark = game.recording.mark()
        game.press_until("Down", "the highlight to move down",
                         lambda: highlighted_option(game.screenshot()) == 2)
        game.recording.wait_for_sound(mark, MENU_HZ, "the menu sound")
        game.hold("Escape")
        status = game.exit_status()
        check(status == 0, "Escape ended the game with status %s" % status)
    except Exception:
        keep_evidence(game, name)
        raise
    finally:
        game.stop()
        shutil.rmtree(elsewhere, ignore_errors=True)


@contextlib.contextmanager
def manifest_kept(build):
    """Installs, cpack's among them, rewrite the build tree's install_manifest.txt:
    put back the one a real install left there."""
    manifest = os.path.join(build, "install_manifest.txt")
    kept = None
    if os.path.exists(manifest):
        with open(manifest, "rb") as f:
            kept = f.read()
    try:
        yield
    finally:
        if kept is not None:
            with open(manifest, "wb") as f:
                f.write(kept)
        elif os.path.exists(manifest):
            os.remove(manifest)


def case_install(build, layout, scratch):
    prefix = os.path.join(scratch, "prefix")
    with manifest_kept(build):
        run("cmake", "--install", build, "--prefix", prefix)
    launcher, window_class = check_installed_tree(prefix, layout, prefix)
    play_through(launcher, window_class, "install_launcher")

    run("cmake", "-DPREFIX=" + prefix, "-P", os.path.join(build, "packaging", "uninstall.cmake"))
    left = files_under(prefix)
    check(not left, "uninstall left files behind: %s" % sorted(left))
    for folder in (layout["lib_dir"], layout["data_dir"]):
        check(not os.path.exists(os.path.join(prefix, folder)), "uninstall left the folder " + folder)


def control_fields(deb):
    fields, key = {}, None
    for line in run("dpkg-deb", "-f", deb).splitlines():
        if line.startswith(" ") and key:
            fields[key] += "\n" + line
        elif ":" in line:
            key, value = line.split(":", 1)
            fields[key] = value.strip()
    return fields


def linked_packages(binary):
    """The Debian packages of the shared libraries the game links itself, which
    its package must depend on: SFML's own, or, with SFML linked in, the ones
    SFML links."""
    needed = [line.split("[")[1].rstrip("]") for line in run("readelf", "-dW", binary).splitlines()
              if "(NEEDED)" in line]
    paths = {}  # "libX.so.1 => /path/libX.so.1 (address)", or "/path/ld.so (address)" for the loader
    for line in run("ldd", binary).splitlines():
        path = line.split(" => ")[-1].split(" (")[0].strip()
        paths[os.path.basename(path)] = path
    packages = set()
    for name in needed:
        path = os.path.realpath(paths[name])
        # Merged /usr: a package may have registered the /lib or the /usr/lib path
        other = path[len("/usr"):] if path.startswith("/usr/") else "/usr" + path
        found = subprocess.run(["dpkg-query", "-S", path, other], capture_output=True, text=True).stdout
        check(found, "no package owns %s, which the game links" % path)
        packages |= {line.split(":")[0] for line in found.splitlines()}
    return packages


def build_deb(build, out, env):
    with manifest_kept(build):
        run("cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", out,
            cwd=os.path.dirname(out), env=env)
    debs = [f for f in os.listdir(out) if f.endswith(".deb")]
    return os.path.join(out, debs[0]) if len(debs) == 1 else None


def deb_members(deb, folder):
    """Each file of the package's ar archive and of its tar members, by name."""
    os.makedirs(folder)
    run("ar", "x", os.path.abspath(deb), cwd=folder)
    members = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            members[name] = f.read()
        if ".tar" in name:
            with tarfile.open(os.path.join(folder, name)) as tar:
                for entry in tar.getmembers():
                    data = tar.extractfile(entry).read() if entry.isfile() else b""
                    members[name + ":" + entry.name] = (entry.mode, entry.mtime, entry.linkname, data)
    return members


def check_lintian(deb):
    lintian = subprocess.run(["lintian", "--fail-on", "none", deb], capture_output=True, text=True)
    complaints = [line for line in lintian.stdout.splitlines() if line.startswith(("E:", "W:"))]
    check(lintian.returncode == 0 and not complaints, "lintian:\n" + lintian.stdout + lintian.stderr)


def check_reproducible(deb, layout, env, scratch):
    """The package built again from the same sources in another folder, later:
    the same bytes, or the name of what differs."""
    again = os.path.join(scratch, "again")
    run("cmake", "-S", layout["source_dir"], "-B", again, "-DCMAKE_BUILD_TYPE=" + layout["build_type"],
        "-DZARV_FONT_FILE=" + layout["font_file"], "-DZARV_PINNED_SFML=" + layout["pinned_sfml"],
        "-DZARV_SFML_SOURCE=" + layout["sfml_source"], "-DZARV_DEBIAN_RELEASE=" + layout["debian_release"],
        "-DZARV_DEBIAN_CODENAME=" + layout["debian_codename"], env=env)
    run("cmake", "--build", again, "--parallel", "2", env=env)
    second = build_deb(again, os.path.join(scratch, "out-again"), env)
    check(second, "the second build made no package")
    with open(deb, "rb") as a, open(second, "rb") as b:
        if a.read() == b.read():
            return
    first, other = deb_members(deb, os.path.join(scratch, "a")), deb_members(second, os.path.join(scratch, "b"))
    differ = sorted(n for n in set(first) | set(other) if ":" in n and first.get(n) != other.get(n))
    differ = differ or sorted(n for n in set(first) | set(other) if first.get(n) != other.get(n))
    raise Failure("two builds of the package differ in %s" % ", ".join(differ))


def check_copyright(path):
    """Debian's machine-readable copyright format: a header paragraph, then
    Files paragraphs whose every licence has its text."""
    with open(path) as f:
        paragraphs = [p for p in f.read().split("\n\n") if p.strip()]
    fields = []
    for paragraph in paragraphs:
        fields.append({})
        for line in paragraph.splitlines():
            if not line.startswith((" ", "\t")):
                key, colon, value = line.partition(":")
                check(colon and key and " " not in key, "not a field: %r" % line)
                fields[-1][key] = value.strip()
    check(fields[0].get("Format") == "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/",
          "the copyright file does not declare its format")
    files = [p for p in fields[1:] if "Files" in p]
    texts = {p["License"] for p in fields[1:] if "Files" not in p and "License" in p}
    check(files and all(p.get("Copyright") and p.get("License") for p in files),
          "a Files paragraph lacks its Copyright or License")
    check(all(p["License"] in texts for p in files), "a licence is named without its text")


def case_package(build, layout, scratch):
    out = os.path.join(scratch, "out")
    # Dated by the last commit, as scripts/build-deb does, so that builds compare equal
    env = dict(os.environ)
    if "SOURCE_DATE_EPOCH" not in env:
        env["SOURCE_DATE_EPOCH"] = run("git", "-C", layout["source_dir"], "log", "-1", "--format=%ct").strip()
    deb = build_deb(build, out, env)
    arch = run("dpkg", "--print-architecture").strip()
    name = "zarv_%s_%s.deb" % (layout["package_version"], arch)
    check(deb and os.path.basename(deb) == name, "expected %s, cpack made %s" % (name, os.listdir(out)))

    check_lintian(deb)

    fields = control_fields(deb)
    for key, value in (("Package", "zarv"), ("Version", layout["package_version"]),
                       ("Architecture", arch), ("Section", "games"), ("Priority", "optional")):
        check(fields.get(key) == value, "%s is %r, not %r" % (key, fields.get(key), value))
    check(fields.get("Maintainer"), "no Maintainer")
    check("\n" in fields.get("Description", ""), "no long description")
    depends = {d.split()[0] for d in fields.get("Depends", "").replace("|", ",").split(",") if d.strip()}
    wanted = linked_packages(os.path.join(build, "zarv"))
    check({"libc6", "libstdc++6"} <= wanted, "the game links none of %s" % sorted(wanted))
    if layout["font_package"]:
        wanted.add(layout["font_package"])
    check(wanted <= depends, "Depends lacks %s: %s" % (sorted(wanted - depends), fields.get("Depends")))

    listed = {}
    for line in run("dpkg-deb", "-c", deb).splitlines():
        mode, owner, _, _, _, path = line.split(None, 5)
        check(owner == "root/root", "%s is owned by %s" % (path, owner))
        if not mode.startswith("d"):
            listed[path.split(" -> ")[0]] = (mode, path.partition(" -> ")[2])
    expected = {"./usr/" + f for f in expected_files(layout)}
    check(set(listed) == expected, "package files differ: missing %s, unexpected %s"
          % (sorted(expected - set(listed)), sorted(set(listed) - expected)))
    launcher_entry = "./usr/%s/zarv" % layout["launcher_dir"]
    check(listed[launcher_entry][0] == "-rwxr-xr-x", "launcher mode " + listed[launcher_entry][0])

    root = os.path.join(scratch, "root")
    run("dpkg-deb", "-x", deb, root)
    check_copyright(os.path.join(root, "usr", layout["doc_dir"], "copyright"))
    launcher, window_class = check_installed_tree(os.path.join(root, "usr"), layout, "/usr")
    if layout["font_package"]:  # the font's package, as apt would install it beside this one
        os.makedirs(os.path.dirname(root + layout["font_file"]))
        os.symlink(layout["font_file"], root + layout["font_file"])
    play_through(launcher, window_class, "package_launcher")
    check_reproducible(deb, layout, env, scratch)


# Waiting for another package manager

STAND_IN = "zarv-lock-test"  # in no archive, so missing on any system: the one package to install
WAITING = "Another package manager is running: process %d (" % os.getpid()


def apt_scratch(scratch):
    """A setting of apt's of its own, for scripts/install-packages: a dpkg
    folder with its lock files and no package, package lists, a cache and an
    archive on disk that holds only the stand-in, which apt downloads and does
    not install. A sudo that runs the command as it is, since all of it is
    this user's. Returns the environment and the frontend lock."""
    os.chmod(scratch, 0o755)  # for apt's downloads
    folders = {name: os.path.join(scratch, name) for name in ("dpkg", "lists", "cache", "log", "etc", "archive", "bin")}
    for folder in folders.values():
        os.makedirs(folder)
    open(os.path.join(folders["dpkg"], "status"), "w").close()
    package = os.path.join(scratch, "package")
    os.makedirs(os.path.join(package, "DEBIAN"))
    with open(os.path.join(package, "DEBIAN", "control"), "w") as control:
        control.write("Package: %s\nVersion: 1.0\nArchitecture: all\nMaintainer: The Zarv developers "
                      "<zarv@example.invalid>\nDescription: a package that installs nothing\n" % STAND_IN)
    deb = os.path.join(folders["archive"], STAND_IN + ".deb")
    run("dpkg-deb", "--root-owner-group", "-b", package, deb)
    with open(deb, "rb") as f:
        data = f.read()
    # Compressed as apt first asks for it, which it would otherwise try each way in turn
    with lzma.open(os.path.join(folders["archive"], "Packages.xz"), "wt") as index:
        index.write("Package: %s\nVersion: 1.0\nArchitecture: all\nFilename: ./%s\nSize: %d\nSHA256: %s\n"
                    "Description: a package that installs nothing\n"
                    % (STAND_IN, os.path.basename(deb), len(data), hashlib.sha256(data).hexdigest()))
    with open(os.path.join(scratch, "sources.list"), "w") as sources:
        sources.write("deb [trusted=yes] file:%s ./\n" % folders["archive"])
    settings = {"Dir::State": scratch, "Dir::State::Lists": folders["lists"],
                "Dir::State::status": os.path.join(folders["dpkg"], "status"), "Dir::Cache": folders["cache"],
                "Dir::Log": folders["log"], "Dir::Etc::main": "/dev/null", "Dir::Etc::parts": folders["etc"],
                "Dir::Etc::sourcelist": os.path.join(scratch, "sources.list"), "Dir::Etc::sourceparts": folders["etc"],
                "Dir::Etc::preferencesparts": folders["etc"], "APT::Get::Download-Only": "true",
                "APT::Sandbox::User": pwd.getpwuid(os.getuid()).pw_name, "Debug::NoLocking": "false",
                "Acquire::Languages": "none"}
    with open(os.path.join(scratch, "apt.conf"), "w") as conf:
        conf.write("".join('%s "%s";\n' % item for item in settings.items()))
    sudo = os.path.join(folders["bin"], "sudo")
    with open(sudo, "w") as f:
        f.write('#!/bin/sh\nexec "$@"\n')
    os.chmod(sudo, 0o755)
    env = dict(os.environ, APT_CONFIG=os.path.join(scratch, "apt.conf"),
               PATH=folders["bin"] + os.pathsep + os.environ["PATH"])
    env.pop("ZARV_APT_LOCK_TIMEOUT", None)
    return env, os.path.join(folders["dpkg"], "lock-frontend")


@contextlib.contextmanager
def lock_held(path):
    """dpkg's lock, taken as apt and dpkg take it: a lock of fcntl's, which flock(1) is not."""
    fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o640)
    try:
        fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        yield
    finally:
        os.close(fd)


@contextlib.contextmanager
def started(command, **options):
    """A process in a session of its own, stopped with all it started if it is
    still running on the way out."""
    process = subprocess.Popen(command, start_new_session=True, **options)
    try:
        yield process
    finally:
        if process.poll() is None:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(process.pid, signal.SIGKILL)
        process.wait()


def case_apt_lock(build, layout, scratch):
    env, lock = apt_scratch(scratch)
    script = [os.path.join(SOURCE, "scripts", "install-packages"), STAND_IN]
    output = os.path.join(scratch, "output")

    def said():
        with open(output) as f:
            return f.read()

    with open(output, "w") as out, contextlib.ExitStack() as held:
        held.enter_context(lock_held(lock))
        with started(script, env=env, stdout=out, stderr=subprocess.STDOUT) as waiting:
            wait_for("the line that it waits", lambda: WAITING in said() or waiting.poll() is not None)
            check(waiting.poll() is None, "it did not wait, but ended with status %s, saying:\n%s"
                  % (waiting.returncode, said()))
            held.close()  # lets go of the lock
            status = waiting.wait(DEADLINE)
    check(status == 0 and said().count("Another package manager") == 1 and "Waiting for cache lock" not in said(),
          "with the lock let go, it ended with status %s, saying:\n%s" % (status, said()))

    env["ZARV_APT_LOCK_TIMEOUT"] = "1"
    with lock_held(lock):
        done = subprocess.run(script, env=env, capture_output=True, text=True, timeout=DEADLINE)
    with open("/proc/self/comm") as comm:
        holder = "process %d (%s)" % (os.getpid(), comm.read().strip())
    wanted = ("install-packages: another package manager, %s, still holds %s after 1 s; "
              "try again once it has finished" % (holder, lock))
    check(done.returncode != 0 and done.stderr.splitlines() == [wanted],
          "with the lock held, status %d, and on standard error:\n%s" % (done.returncode, done.stderr))


CASES = {"install": case_install, "package": case_package, "apt-lock": case_apt_lock}


# The release

def project_version():
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
        return re.search(r"^project\(Zarv VERSION ([0-9.]+)", f.read(), re.M).group(1)


def deb_release(deb):
    """The code name of the Debian release a package was built for, from its
    changelog's newest entry: "zarv (1.0.0+deb12u1) bookworm; urgency=medium"."""
    data = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], check=True, capture_output=True).stdout
    with tarfile.open(fileobj=io.BytesIO(data)) as tar:
        changelog = gzip.decompress(tar.extractfile("./usr/share/doc/zarv/changelog.gz").read()).decode()
    return changelog.split(")", 1)[1].split(";", 1)[0].strip()


def deb_architecture(deb):
    return control_fields(deb)["Architecture"]


def release_files(dist):
    version = project_version()
    debs = sorted(f for f in os.listdir(dist) if f.endswith(".deb"))
    return version, debs, "zarv-%s.tar.gz" % version, "zarv-%s-win64.zip" % version


def web_zip():
    return "zarv-%s-web.zip" % project_version()


def unpack(tarball, into):
    with tarfile.open(tarball) as archive:
        safe = {"filter": "data"} if hasattr(tarfile, "data_filter") else {}
        archive.extractall(into, **safe)


def portable_tarball(dist, processor):
    """The portable Linux tarball for this processor, and its folder."""
    folder = "zarv-%s-linux-%s" % (project_version(), processor)
    return os.path.join(dist, folder + ".tar.gz"), folder


def case_checksums(dist, scratch):
    version, debs, tarball, zip_name = release_files(dist)
    portables = [os.path.basename(portable_tarball(dist, processor)[0]) for processor in PORTABLE_PROCESSORS]
    with open(os.path.join(dist, "SHA256SUMS")) as f:
        listed = sorted(line.split(None, 1)[1].lstrip("*") for line in f.read().splitlines())
    check(listed == sorted(debs + [tarball, zip_name, web_zip()] + portables)
          == sorted(set(os.listdir(dist)) - {"SHA256SUMS"}),
          "SHA256SUMS lists %s; dist holds %s" % (listed, sorted(os.listdir(dist))))
    run("sha256sum", "--check", "--strict", "SHA256SUMS", cwd=dist)
    # One package for each release and architecture
    builds = [(deb_release(os.path.join(dist, deb)), deb_architecture(os.path.join(dist, deb))) for deb in debs]
    architectures = {run("dpkg", "--print-architecture").strip()} | set(EMULATORS)
    wanted = {(release, arch) for release, _ in builds for arch in architectures}
    check(debs and len(set(builds)) == len(debs) and set(builds) == wanted,
          "the packages %s are for %s" % (debs, builds))


def check_portable_elf(folder, machine):
    """Each ELF file of the portable folder is built for the machine (as
    readelf names it), needs no library but what every desktop has and the
    folder's own, no glibc newer than NEWEST_GLIBC, and finds the folder's
    libraries through $ORIGIN alone. Returns the game's needed libraries."""
    shipped = set(os.listdir(os.path.join(folder, "lib")))
    for name in sorted(shipped):
        path = os.path.join(folder, "lib", name)
        built_for = re.search(r"Machine:\s+(.*)", run("readelf", "-hW", path)).group(1).strip()
        check(built_for.endswith(machine), "lib/%s is built for %s, not %s" % (name, built_for, machine))
        dynamic = run("readelf", "-dW", path)
        needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[([^]]+)\]", dynamic))
        check(needed <= PORTABLE_NEEDS | shipped,
              "lib/%s needs %s" % (name, sorted(needed - PORTABLE_NEEDS - shipped)))
        paths = re.findall(r"\((?:RUNPATH|RPATH)\)\s+Library r(?:un)?path: \[([^]]*)\]", dynamic)
        check(paths == ["$ORIGIN"] or (not paths and not needed & shipped),
              "lib/%s has the run paths %s" % (name, paths))
        # The symbol versions it needs, which readelf reads for any processor
        glibc = set(re.findall(r"\bGLIBC_([0-9]+(?:\.[0-9]+)+)\b", run("readelf", "-VW", path)))
        newer = sorted(v for v in glibc if tuple(int(n) for n in v.split(".")) > NEWEST_GLIBC)
        check(not newer, "lib/%s needs glibc %s" % (name, newer))
        if name == "zarv":
            game_needs = needed
    return game_needs


def case_portable_tarballs(dist, scratch):
    """The folder a player unpacks, for each processor: its files, and its ELF
    files' needs."""
    for processor, (_, machine) in PORTABLE_PROCESSORS.items():
        check_portable_tarball(dist, processor, machine, os.path.join(scratch, processor))


def check_portable_tarball(dist, processor, machine, scratch):
    tarball, folder = portable_tarball(dist, processor)
    with tarfile.open(tarball) as archive:
        members = {m.name: m for m in archive.getmembers()}
    unpack(tarball, scratch)
    files = {name[len(folder) + 1:] for name, m in members.items() if not m.isdir()}
    wanted = {"zarv", "lib/zarv", "lib/libopenal.so.1", "segoeui.ttf", "README.txt", "LICENSE.txt",
              "io.github.zarv.zarv.desktop", "io.github.zarv.zarv.png", "licenses/SFML.txt",
              "licenses/OpenAL-Soft.txt", "licenses/OpenSans.txt"} | set(SOUNDS)
    check(wanted <= files and all(f in wanted or f.startswith("licenses/") for f in files),
          "the tarball lacks %s and holds %s besides" % (sorted(wanted - files),
                                                         sorted(f for f in files - wanted if "/" not in f)))
    check(all(name.startswith(folder + "/") or name == folder for name in members), "not all in " + folder)
    check(all(m.isfile() or m.isdir() for m in members.values()), "the tarball holds links")
    check(members[folder + "/zarv"].mode == 0o755, "the launcher is not executable")
    run("desktop-file-validate", os.path.join(scratch, folder, "io.github.zarv.zarv.desktop"))
    print("  the %s game needs %s"
          % (processor, ", ".join(sorted(check_portable_elf(os.path.join(scratch, folder), machine)))))


def native_architecture():
    return run("dpkg", "--print-architecture").strip()


def emulated(arch):
    """The emulator that plays a program of this Debian architecture here, or
    None for this machine's own."""
    return None if arch == native_architecture() else EMULATORS[arch][0]


def case_fresh_roots(dist, scratch):
    """In a fresh root of each release the portable build runs on, and of each
    release a package is built for: the portable tarball (in the oldest, the
    other processors' too), then the packages, this machine's architecture's
    first; another architecture is added as a foreign one and played through
    its emulator."""
    _, debs, _, _ = release_files(dist)
    native = native_architecture()
    folder = os.path.relpath(dist, SOURCE)
    check(not folder.startswith(".."), "%s is not inside %s" % (dist, SOURCE))
    deb_releases = {deb: deb_release(os.path.join(dist, deb)) for deb in debs}
    deb_archs = {deb: deb_architecture(os.path.join(dist, deb)) for deb in debs}

    def in_root(release):
        mine = sorted((deb for deb in debs if deb_releases[deb] == release), key=lambda d: (deb_archs[d] != native, d))
        portables = [] if release not in PORTABLE_RELEASES else [
            processor for processor, (arch, _) in PORTABLE_PROCESSORS.items()
            if arch == native or release == PORTABLE_RELEASES[0]]
        tools = TEST_TOOLS + PORTABLE_RUNTIME + (["lintian"] if mine else [])
        for arch in sorted({deb_archs[deb] for deb in mine} | {PORTABLE_PROCESSORS[p][0] for p in portables}):
            if arch != native:
                tools += [EMULATORS[arch][1], "libgl1-mesa-dri:" + arch]
        for processor in portables:
            arch = PORTABLE_PROCESSORS[processor][0]
            if arch != native:
                tools += [package + ":" + arch for package in PORTABLE_RUNTIME]
        arguments = []
        for processor in portables:
            arguments += ["--portable", os.path.relpath(portable_tarball(dist, processor)[0], SOURCE)]
        if mine:
            arguments += [os.path.join(folder, deb) for deb in mine]
            arguments += ["--others"] + [os.path.join(folder, deb) for deb in debs if deb not in mine]
        inner = "scripts/install-packages %s && exec python3 tests/install_test.py --in-root %s" % (
            " ".join(tools), " ".join(arguments))
        done = subprocess.run([os.path.join(SOURCE, "scripts", "debian-root"), "--fresh", "--copy-in", folder,
                               release, "sh", "-c", inner], capture_output=True, text=True)
        print("\n".join("  %s: %s" % (release, line) for line in done.stdout.splitlines()
                        if line.startswith(("PASS", "FAIL"))), flush=True)
        return "" if done.returncode == 0 else "Debian %s, a fresh root:\n%s%s" % (
            release, done.stdout[-6000:], done.stderr[-3000:])

    # Two at a time: much of a fresh root is apt fetching and unpacking
    releases = PORTABLE_RELEASES + sorted(set(deb_releases.values()) - set(PORTABLE_RELEASES))
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        failures = [failure for failure in pool.map(in_root, releases) if failure]
    check(not failures, "\n".join(failures))


def case_portable_in_root(tarball, scratch):
    """In a fresh root with the test tools and what the portable build needs,
    but no compiler, SFML, OpenAL, Ogg, Vorbis, FLAC or Open Sans: unpacked,
    its launcher started through a link from another folder; for another
    processor, its game started through the emulator from the folder, as the
    launcher would."""
    present = [line.split()[0] for line in run("dpkg-query", "-W", "-f=${Package} ${db:Status-Status}\n").splitlines()
               if line.endswith(" installed")]
    extra = [p for p in present if re.match(r"(libsfml|libopenal|libogg|libvorbis|libflac|fonts-open-sans"
                                            r"|(g\+\+|gcc|clang)(-[0-9.]+)?$)", p)]
    check(not extra, "the root has %s, which a desktop may lack" % extra)
    unpack(tarball, scratch)
    name = os.path.basename(tarball)[:-len(".tar.gz")]
    folder = os.path.join(scratch, name)
    with open(os.path.join(folder, "io.github.zarv.zarv.desktop")) as entry:
        window_class = [line.split("=", 1)[1] for line in entry.read().splitlines() if line.startswith("StartupWMClass=")]
    emulator = emulated(PORTABLE_PROCESSORS[name.rsplit("-", 1)[1]][0])
    if emulator:
        play_through(os.path.join(folder, "lib", "zarv"), window_class, "portable_game_" + name, through_link=False,
                     wrapper=["env", "-C", folder, emulator], deadline=EMULATED_DEADLINE)
    else:
        play_through(os.path.join(folder, "zarv"), window_class, "portable_launcher")


def case_installed(deb, others, scratch):
    """In a fresh root of the release the package is for: lintian of that
    release finds nothing wrong, the packages of the same architecture built
    for other releases cannot be installed, it installs with apt and plays,
    and apt remove takes all of it away. A package of another architecture
    plays through its emulator."""
    deb, others = os.path.abspath(deb), [os.path.abspath(d) for d in others]
    arch = deb_architecture(deb)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    check_lintian(deb)
    for other in others:
        if deb_architecture(other) != arch:
            continue
        done = subprocess.run(["apt-get", "install", "--simulate", other], capture_output=True, text=True, env=env)
        check(done.returncode != 0, "%s, built for another release, would install here:\n%s"
              % (os.path.basename(other), done.stdout))
    run("apt-get", "install", "-y", "-q", "--no-install-recommends", deb, env=env)
    files = [line.split(None, 5)[5].split(" -> ")[0][1:] for line in run("dpkg-deb", "-c", deb).splitlines()
             if not line.startswith("d")]
    check(files and all(os.path.lexists(f) for f in files), "the package's files are not all in place")
    entries = [f for f in files if f.startswith("/usr/share/applications/")]
    check(len(entries) == 1, "the package's menu entries: %s" % entries)
    with open(entries[0]) as entry:
        lines = entry.read().splitlines()
    command = [line[len("Exec="):] for line in lines if line.startswith("Exec=")]
    window_class = [line.split("=", 1)[1] for line in lines if line.startswith("StartupWMClass=")]
    check(len(command) == 1 and os.path.isabs(command[0]), "the menu entry's command is %s" % command)
    emulator = emulated(arch)
    if emulator:  # what the launcher does: the game, started in its data folder
        games = [f for f in files if os.path.isfile(f) and not os.path.islink(f) and open(f, "rb").read(4) == b"\x7fELF"]
        check(len(games) == 1, "the package's programs: %s" % games)
        data = os.path.dirname([f for f in files if f.endswith("/" + SOUNDS[0])][0])
        play_through(games[0], window_class, "installed_package_" + arch, through_link=False,
                     wrapper=["env", "-C", data, emulator], deadline=EMULATED_DEADLINE)
    else:
        play_through(command[0], window_class, "installed_package", through_link=False)

    package = "zarv:" + arch
    run("apt-get", "remove", "-y", "-q", package, env=env)
    status = subprocess.run(["dpkg-query", "-W", "-f=${db:Status-Status}", package], capture_output=True, text=True)
    check(status.stdout in ("", "not-installed"), "after apt remove, %s is %r" % (package, status.stdout))
    left = [f for f in files if os.path.lexists(f)]
    left += [d for d in ("/usr/lib/games/zarv", "/usr/share/games/zarv", "/usr/share/doc/zarv") if os.path.exists(d)]
    check(not left, "apt remove left %s" % left)


def archive_members(path):
    """Each member of a zip or a gzipped tar by name: its mode, date and bytes."""
    members = {}
    if path.endswith(".zip"):
        with zipfile.ZipFile(path) as archive:
            for info in archive.infolist():
                members[info.filename] = (info.external_attr, info.date_time, archive.read(info))
    else:
        with tarfile.open(path) as archive:
            for info in archive.getmembers():
                data = archive.extractfile(info).read() if info.isfile() else b""
                members[info.name] = (info.mode, info.mtime, info.linkname, data)
    return members


def check_same(first, second):
    with open(first, "rb") as a, open(second, "rb") as b:
        if a.read() == b.read():
            return
    check(not first.endswith(".deb"), "%s built twice differs" % os.path.basename(first))
    one, other = archive_members(first), archive_members(second)
    differ = sorted(name for name in set(one) | set(other) if one.get(name) != other.get(name))
    raise Failure("%s built twice differs in %s" % (os.path.basename(first), ", ".join(differ) or "its packing"))


def case_zip_and_tarball_again(dist, scratch):
    """The same bytes from the same commit built in another folder: the zip and
    the page as the tests built and played them in this tree (built here now
    where they have not been), and, from a clone, the source tarball, this
    release's cross-built packages, and the portable tarballs in the root they
    are built in."""
    _, _, tarball, zip_name = release_files(dist)
    undated = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    run(os.path.join(SOURCE, "scripts", "build-windows"), cwd=SOURCE, env=undated)
    check_same(os.path.join(dist, zip_name), os.path.join(SOURCE, "build-windows", zip_name))
    run(os.path.join(SOURCE, "scripts", "build-web"), cwd=SOURCE, env=undated)
    check_same(os.path.join(dist, web_zip()), os.path.join(SOURCE, "build-web", web_zip()))
    copy = os.path.join(scratch, "zarv")
    commit = run("git", "-C", SOURCE, "rev-parse", "HEAD").strip()
    run("git", "clone", "--quiet", "--no-hardlinks", SOURCE, copy)
    run("git", "-C", copy, "checkout", "--quiet", "--detach", commit)
    run("sh", "-c", 'git archive --format=tar --prefix="zarv-%s/" HEAD | gzip -9n >"%s"'
        % (project_version(), os.path.join(scratch, tarball)), cwd=copy)
    check_same(os.path.join(dist, tarball), os.path.join(scratch, tarball))
    for arch in sorted(EMULATORS):
        again = os.path.join(copy, "debs-" + arch)
        run(os.path.join(copy, "scripts", "build-deb"), "--release", "--arch", arch, again, cwd=copy, env=undated)
        for deb in os.listdir(again):
            check(deb in os.listdir(dist), "the release has no %s" % deb)
            check_same(os.path.join(dist, deb), os.path.join(again, deb))
    # As scripts/release builds them
    run(os.path.join(copy, "scripts", "debian-root"), "--copy-out", "dist", PORTABLE_RELEASES[0], "sh", "-c",
        " && ".join("scripts/build-linux --arch %s dist" % arch for arch, _ in PORTABLE_PROCESSORS.values()),
        cwd=copy)
    for processor in PORTABLE_PROCESSORS:
        portable = os.path.basename(portable_tarball(dist, processor)[0])
        check_same(os.path.join(dist, portable), os.path.join(copy, "dist", portable))

    with tarfile.open(os.path.join(dist, tarball)) as archive:
        held = sorted(m.name for m in archive.getmembers() if not m.isdir())
    tracked = sorted("zarv-%s/%s" % (project_version(), f) for f in run("git", "-C", copy, "ls-files", "-z").split("\0") if f)
    check(held == tracked, "the tarball holds %s besides the tracked files and lacks %s"
          % (sorted(set(held) - set(tracked)), sorted(set(tracked) - set(held))))


# The page's files, with index.html at the top of its zip, as itch.io's HTML upload wants; all
# but index.html and the licences named by their contents
WEB_ZIP = ["index.html", r"page\.[0-9a-f]{16}\.css", r"page\.[0-9a-f]{16}\.js", r"zarv\.[0-9a-f]{16}\.data",
           r"zarv\.[0-9a-f]{16}\.js", r"zarv\.[0-9a-f]{16}\.wasm", "LICENSE.txt"] + [
    "licenses/%s.txt" % name for name in ("FreeType", "OpenSans", "SFML")]


def case_web_zip(dist, scratch):
    """The page's zip holds its files and nothing else; unpacked and served,
    it shows the menu in headless Chromium, and Escape ends the game."""
    with zipfile.ZipFile(os.path.join(dist, web_zip())) as archive:
        names = sorted(name for name in archive.namelist() if not name.endswith("/"))
        check(len(names) == len(WEB_ZIP) and all(len([name for name in names if re.fullmatch(pattern, name)]) == 1
                                                 for pattern in WEB_ZIP), "the page's zip holds %s" % names)
        archive.extractall(scratch)
    page = Page(os.path.join(scratch, "index.html"), browser="chromium")
    try:
        page.start()
        wait_for("the menu", lambda: menu_shown(page.screenshot()) and highlighted_option(page.screenshot()) == 1,
                 page.start_deadline)
        end_session(page)
    except Exception:
        keep_evidence(page, "release_web_zip")
        raise
    finally:
        page.stop()


# Two at a time: the fresh roots, much of them apt fetching and unpacking, beside the builds again
RELEASE_CASES = {"checksums": case_checksums, "web zip": case_web_zip, "portable tarballs": case_portable_tarballs,
                 "fresh roots": case_fresh_roots, "zip and tarballs again": case_zip_and_tarball_again}


def main():
    if sys.argv[1] == "--in-root":
        arguments, cases = sys.argv[2:], {}
        while arguments[:1] == ["--portable"]:
            tarball, arguments = os.path.abspath(arguments[1]), arguments[2:]
            cases["portable " + os.path.basename(tarball)] = (
                lambda tarball: lambda scratch: case_portable_in_root(tarball, scratch))(tarball)
        mine = arguments[:arguments.index("--others")] if "--others" in arguments else arguments
        others = arguments[len(mine) + 1:]
        for deb in mine:
            cases["installed " + os.path.basename(deb)] = (
                lambda deb: lambda scratch: case_installed(deb, others, scratch))(deb)
        return run_cases(cases)
    if sys.argv[1] == "--release":
        return run_cases(RELEASE_CASES, os.path.abspath(sys.argv[2]), at_once=2)
    build = os.path.abspath(sys.argv[1])
    with open(os.path.join(build, "packaging", "layout.json")) as f:
        layout = json.load(f)
    cases = {name: (lambda case: lambda scratch: case(build, layout, scratch))(CASES[name])
             for name in sys.argv[2:] or list(CASES)}
    return run_cases(cases)


def run_cases(cases, *args, at_once=1):
    """Runs each case(*args, scratch) with a scratch folder of its own, at_once
    of them at a time, and reports each."""
    def run_case(name, case):
        started = time.monotonic()
        scratch = tempfile.mkdtemp(prefix="zarv-%s-" % name.replace(" ", "-"))
        try:
            case(*args, scratch)
            print("PASS %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
            return True
        except Exception:  # report every case, whatever went wrong
            print("FAIL %s\n%s" % (name, traceback.format_exc()), end="", flush=True)
            return False
        finally:
            shutil.rmtree(scratch, ignore_errors=True)

    with concurrent.futures.ThreadPoolExecutor(max_workers=at_once) as pool:
        results = list(pool.map(run_case, cases, cases.values()))
    print("%d passed, %d failed" % (results.count(True), results.count(False)))
    return 0 if results and all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
