"""The installed game, the Debian package and the Windows zip, each started
the way a player would, and scripts/install-packages waiting for another
package manager; docs/testing.md says what each case checks."""

import contextlib
import fcntl
import hashlib
import json
import lzma
import os
import pwd
import signal
import struct
import subprocess
import zipfile

import pytest

from harness import BUILD_DEADLINE, DEADLINE, SOURCE, read, run, wait_for, write
from harness.archives import compare
from harness.ear import MENU_HZ
from harness.game import Game
from harness.screen import highlighted_option, menu_shown

SOUNDS = ["menu.wav", "selected.wav", "stop.wav", "zarv.wav"]


def layout_of(target):
    return json.loads(read(os.path.join(target.build["folder"], "packaging", "layout.json")))


def expected_files(layout):
    """Every file and symlink an install puts in place, relative to the prefix."""
    app, share = layout["app_id"], layout["data_root"]
    files = {layout["launcher_dir"] + "/zarv", layout["lib_dir"] + "/zarv",
             share + "/applications/%s.desktop" % app, share + "/metainfo/%s.metainfo.xml" % app,
             layout["man_dir"] + "/man6/zarv.6.gz", layout["doc_dir"] + "/copyright",
             layout["doc_dir"] + "/changelog.gz"}
    files |= {layout["data_dir"] + "/" + name for name in SOUNDS + ["segoeui.ttf"]}
    files |= {"%s/icons/hicolor/%sx%s/apps/%s.png" % (share, size, size, app) for size in layout["icon_sizes"].split(";")}
    return files


def files_under(root):
    return {os.path.relpath(os.path.join(folder, name), root) for folder, _, names in os.walk(root) for name in names}


def check_installed_tree(root, layout, prefix):
    """What a player gets under root, installed for prefix (/usr for the package)."""
    found, expected = files_under(root), expected_files(layout)
    assert found == expected, "installed files differ: missing %s, unexpected %s" % (
        sorted(expected - found), sorted(found - expected))
    launcher = os.path.join(root, layout["launcher_dir"], "zarv")
    assert os.access(launcher, os.X_OK), "the launcher is not executable"
    text = read(launcher)
    assert text.startswith("#!/bin/sh\n"), "the launcher is not a sh script"
    assert "/usr/local" not in text and root not in text, "the launcher names a fixed prefix:\n" + text
    assert read(os.path.join(root, layout["lib_dir"], "zarv"), "rb")[:4] == b"\x7fELF", "the game is no ELF file"

    font = os.path.join(root, layout["data_dir"], "segoeui.ttf")
    if layout["font_package"]:
        # Relative within /usr, as Debian wants; absolute from another top-level folder
        target = os.readlink(font) if os.path.islink(font) else ""
        absolute_link = prefix.split("/")[1] != layout["font_file"].split("/")[1]
        assert target.startswith("/") == absolute_link and os.path.normpath(os.path.join(
            prefix, layout["data_dir"], target)) == layout["font_file"], \
            "segoeui.ttf links to %r, not to %s" % (target, layout["font_file"])
    else:
        assert not os.path.islink(font), "segoeui.ttf links to an unpackaged font"
    for name in SOUNDS:
        header = read(os.path.join(root, layout["data_dir"], name), "rb")[:12]
        assert header[:4] == b"RIFF" and header[8:] == b"WAVE", name + " is not a WAV file"

    for size in layout["icon_sizes"].split(";"):
        path = "%s/%s/icons/hicolor/%sx%s/apps/%s.png" % (root, layout["data_root"], size, size, layout["app_id"])
        head = read(path, "rb")[:26]
        assert head[:8] == b"\x89PNG\r\n\x1a\n", path + " is not a PNG"
        assert struct.unpack(">II", head[16:24]) == (int(size), int(size)), "%s is not %s pixels square" % (path, size)
        assert head[25] == 6, path + " has no alpha channel"

    desktop = "%s/%s/applications/%s.desktop" % (root, layout["data_root"], layout["app_id"])
    run("desktop-file-validate", desktop)
    wanted = "%s/%s/zarv" % (prefix, layout["launcher_dir"])
    assert entry_values(desktop, "Exec") == [wanted], "the desktop entry does not start " + wanted
    run("appstreamcli", "validate", "--no-net", "%s/%s/metainfo/%s.metainfo.xml" % (root, layout["data_root"],
                                                                                  layout["app_id"]))
    return launcher, entry_values(desktop, "StartupWMClass")


def entry_values(desktop, key):
    """The values of a desktop entry's key, as its lines give them."""
    return [line.split("=", 1)[1] for line in read(desktop).splitlines() if line.startswith(key + "=")]


def play_through(play, launcher, window_class, elsewhere, through_link=True, wrapper=(), deadline=DEADLINE):
    """The launcher started through a symlink in elsewhere (or the game through
    its emulator), from a working folder with no assets; its window's class the
    desktop entry's, which docks match; the menu drawn, a move heard, Escape."""
    command = launcher
    if through_link:
        command = os.path.join(elsewhere, "zarv")
        os.symlink(launcher, command)
    game = play(Game(command, assets=[], wrapper=wrapper, deadline=deadline))
    shown = run("xprop", "-id", game.window, "WM_CLASS", env=game.env)
    assert window_class and shown.rstrip().endswith('"%s"' % window_class[0]), \
        "the desktop entry's StartupWMClass %s is not the window's %s" % (window_class, shown)
    wait_for("the menu with its texts drawn",
             lambda: (lambda s: menu_shown(s) and highlighted_option(s) == 1)(game.screenshot()), game.deadline)
    mark = game.recording.mark()
    game.press_until("Down", "the highlight to move down", lambda: highlighted_option(game.screenshot()) == 2)
    game.recording.wait_for_sound(mark, MENU_HZ, "the menu sound")
    game.hold("Escape")
    assert game.exit_status() == 0, "Escape did not end the game with status 0"


@contextlib.contextmanager
def manifest_kept(build):
    """Puts back the build's install_manifest.txt, which installs rewrite."""
    manifest = os.path.join(build, "install_manifest.txt")
    kept = read(manifest, "rb") if os.path.exists(manifest) else None
    try:
        yield
    finally:
        if kept is not None:
            write(manifest, kept)
        elif os.path.exists(manifest):
            os.remove(manifest)


@pytest.mark.xdist_group("install_manifest")
def test_install(target, play, scratch):
    build, layout = target.build["folder"], layout_of(target)
    prefix = os.path.join(scratch, "prefix")
    with manifest_kept(build):
        run("cmake", "--install", build, "--prefix", prefix, timeout=BUILD_DEADLINE)
    launcher, window_class = check_installed_tree(prefix, layout, prefix)
    os.mkdir(os.path.join(scratch, "elsewhere"))
    play_through(play, launcher, window_class, os.path.join(scratch, "elsewhere"))
    run("cmake", "-DPREFIX=" + prefix, "-P", os.path.join(build, "packaging", "uninstall.cmake"))
    assert not files_under(prefix), "uninstall left files behind: %s" % sorted(files_under(prefix))
    for folder in (layout["lib_dir"], layout["data_dir"]):
        assert not os.path.exists(os.path.join(prefix, folder)), "uninstall left the folder " + folder


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
    """The Debian packages of the shared libraries the game links itself."""
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
        assert found, "no package owns %s, which the game links" % path
        packages |= {line.split(":")[0] for line in found.splitlines()}
    return packages


def build_deb(build, out, env):
    with manifest_kept(build):
        run("cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", out,
            cwd=os.path.dirname(out), env=env, timeout=BUILD_DEADLINE)
    debs = [f for f in os.listdir(out) if f.endswith(".deb")]
    return os.path.join(out, debs[0]) if len(debs) == 1 else None


def check_lintian(deb):
    lintian = subprocess.run(["lintian", "--fail-on", "none", deb], capture_output=True, text=True,
                             timeout=BUILD_DEADLINE)
    complaints = [line for line in lintian.stdout.splitlines() if line.startswith(("E:", "W:"))]
    assert lintian.returncode == 0 and not complaints, "lintian:\n" + lintian.stdout + lintian.stderr


def check_copyright(path):
    """Debian's machine-readable format: a header, then Files paragraphs whose licences have their texts."""
    fields = []
    for paragraph in [p for p in read(path).split("\n\n") if p.strip()]:
        fields.append({})
        for line in paragraph.splitlines():
            if not line.startswith((" ", "\t")):
                key, colon, value = line.partition(":")
                assert colon and key and " " not in key, "not a field: %r" % line
                fields[-1][key] = value.strip()
    assert fields[0].get("Format") == "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/", \
        "the copyright file does not declare its format"
    files = [p for p in fields[1:] if "Files" in p]
    texts = {p["License"] for p in fields[1:] if "Files" not in p and "License" in p}
    assert files and all(p.get("Copyright") and p.get("License") for p in files), \
        "a Files paragraph lacks its Copyright or License"
    assert all(p["License"] in texts for p in files), "a licence is named without its text"


@pytest.mark.xdist_group("install_manifest")
def test_package(target, play, scratch):
    build, layout = target.build["folder"], layout_of(target)
    out = os.path.join(scratch, "out")
    # Dated by the last commit, as scripts/build-deb does, so that builds compare equal
    env = dict(os.environ)
    env.setdefault("SOURCE_DATE_EPOCH", run("git", "-C", layout["source_dir"], "log", "-1", "--format=%ct").strip())
    deb = build_deb(build, out, env)
    arch = run("dpkg", "--print-architecture").strip()
    name = "zarv_%s_%s.deb" % (layout["package_version"], arch)
    assert deb and os.path.basename(deb) == name, "expected %s, cpack made %s" % (name, os.listdir(out))
    check_lintian(deb)

    fields = control_fields(deb)
    for key, value in (("Package", "zarv"), ("Version", layout["package_version"]),
                       ("Architecture", arch), ("Section", "games"), ("Priority", "optional")):
        assert fields.get(key) == value, "%s is %r, not %r" % (key, fields.get(key), value)
    assert fields.get("Maintainer"), "no Maintainer"
    assert "\n" in fields.get("Description", ""), "no long description"
    depends = {d.split()[0] for d in fields.get("Depends", "").replace("|", ",").split(",") if d.strip()}
    wanted = linked_packages(os.path.join(build, "zarv"))
    assert {"libc6", "libstdc++6"} <= wanted, "the game links none of %s" % sorted(wanted)
    if layout["font_package"]:
        wanted.add(layout["font_package"])
    assert wanted <= depends, "Depends lacks %s: %s" % (sorted(wanted - depends), fields.get("Depends"))

    listed = {}
    for line in run("dpkg-deb", "-c", deb).splitlines():
        mode, owner, _, _, _, path = line.split(None, 5)
        assert owner == "root/root", "%s is owned by %s" % (path, owner)
        if not mode.startswith("d"):
            listed[path.split(" -> ")[0]] = mode
    expected = {"./usr/" + f for f in expected_files(layout)}
    assert set(listed) == expected, "package files differ: missing %s, unexpected %s" % (
        sorted(expected - set(listed)), sorted(set(listed) - expected))
    assert listed["./usr/%s/zarv" % layout["launcher_dir"]] == "-rwxr-xr-x", "the launcher is not executable"

    root = os.path.join(scratch, "root")
    run("dpkg-deb", "-x", deb, root)
    check_copyright(os.path.join(root, "usr", layout["doc_dir"], "copyright"))
    launcher, window_class = check_installed_tree(os.path.join(root, "usr"), layout, "/usr")
    if layout["font_package"]:  # the font's package, as apt would install it beside this one
        os.makedirs(os.path.dirname(root + layout["font_file"]))
        os.symlink(layout["font_file"], root + layout["font_file"])
    play_through(play, launcher, window_class, scratch)

    # The package built again from the same sources in another folder, later
    again = os.path.join(scratch, "again")
    run("cmake", "-S", layout["source_dir"], "-B", again, "-DCMAKE_BUILD_TYPE=" + layout["build_type"],
        "-DZARV_FONT_FILE=" + layout["font_file"], "-DZARV_PINNED_SFML=" + layout["pinned_sfml"],
        "-DZARV_SFML_SOURCE=" + layout["sfml_source"], "-DZARV_DEBIAN_RELEASE=" + layout["debian_release"],
        "-DZARV_DEBIAN_CODENAME=" + layout["debian_codename"], env=env, timeout=BUILD_DEADLINE)
    run("cmake", "--build", again, "--parallel", "2", env=env, timeout=BUILD_DEADLINE)
    second = build_deb(again, os.path.join(scratch, "out-again"), env)
    assert second, "the second build made no package"
    compare(deb, second)


# Waiting for another package manager

STAND_IN = "zarv-lock-test"  # in no archive, so missing on any system: the one package to install


def apt_scratch(scratch):
    """A setting of apt's own: an empty dpkg folder, an archive on disk with the
    stand-in only, which apt downloads and does not install, and a sudo that
    runs the command as it is. Returns the environment and the frontend lock."""
    os.chmod(scratch, 0o755)  # for apt's downloads
    folders = {name: os.path.join(scratch, name) for name in ("dpkg", "lists", "cache", "log", "etc", "archive", "bin")}
    for folder in folders.values():
        os.makedirs(folder)
    write(os.path.join(folders["dpkg"], "status"), "")
    package = os.path.join(scratch, "package")
    os.makedirs(os.path.join(package, "DEBIAN"))
    write(os.path.join(package, "DEBIAN", "control"), "Package: %s\nVersion: 1.0\nArchitecture: all\nMaintainer: The"
          " Zarv developers <zarv@example.invalid>\nDescription: a package that installs nothing\n" % STAND_IN)
    deb = os.path.join(folders["archive"], STAND_IN + ".deb")
    run("dpkg-deb", "--root-owner-group", "-b", package, deb)
    data = read(deb, "rb")
    # Compressed as apt first asks for it, which it would otherwise try each way in turn
    with lzma.open(os.path.join(folders["archive"], "Packages.xz"), "wt") as index:
        index.write("Package: %s\nVersion: 1.0\nArchitecture: all\nFilename: ./%s\nSize: %d\nSHA256: %s\n"
                    "Description: a package that installs nothing\n"
                    % (STAND_IN, os.path.basename(deb), len(data), hashlib.sha256(data).hexdigest()))
    write(os.path.join(scratch, "sources.list"), "deb [trusted=yes] file:%s ./\n" % folders["archive"])
    settings = {"Dir::State": scratch, "Dir::State::Lists": folders["lists"],
                "Dir::State::status": os.path.join(folders["dpkg"], "status"), "Dir::Cache": folders["cache"],
                "Dir::Log": folders["log"], "Dir::Etc::main": "/dev/null", "Dir::Etc::parts": folders["etc"],
                "Dir::Etc::sourcelist": os.path.join(scratch, "sources.list"), "Dir::Etc::sourceparts": folders["etc"],
                "Dir::Etc::preferencesparts": folders["etc"], "APT::Get::Download-Only": "true",
                "APT::Sandbox::User": pwd.getpwuid(os.getuid()).pw_name, "Debug::NoLocking": "false",
                "Acquire::Languages": "none"}
    write(os.path.join(scratch, "apt.conf"), "".join('%s "%s";\n' % item for item in settings.items()))
    sudo = os.path.join(folders["bin"], "sudo")
    write(sudo, '#!/bin/sh\nexec "$@"\n')
    os.chmod(sudo, 0o755)
    env = dict(os.environ, APT_CONFIG=os.path.join(scratch, "apt.conf"),
               PATH=folders["bin"] + os.pathsep + os.environ["PATH"])
    env.pop("ZARV_APT_LOCK_TIMEOUT", None)
    return env, os.path.join(folders["dpkg"], "lock-frontend")


@contextlib.contextmanager
def lock_held(path):
    """dpkg's lock as apt and dpkg take it: fcntl's, which flock(1)'s is not."""
    fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o640)
    try:
        fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        yield
    finally:
        os.close(fd)


def test_apt_lock(target, scratch):
    env, lock = apt_scratch(scratch)
    script = [os.path.join(SOURCE, "scripts", "install-packages"), STAND_IN]
    output = os.path.join(scratch, "output")
    waiting_line = "Another package manager is running: process %d (" % os.getpid()

    def said():
        return read(output)

    with open(output, "w") as out, contextlib.ExitStack() as held:
        held.enter_context(lock_held(lock))
        # In a session of its own, stopped with all it started if it is still running on the way out
        waiting = subprocess.Popen(script, env=env, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        try:
            wait_for("the line that it waits", lambda: waiting_line in said() or waiting.poll() is not None)
            assert waiting.poll() is None, "it did not wait, but ended with status %s, saying:\n%s" % (
                waiting.returncode, said())
            held.close()  # lets go of the lock
            status = waiting.wait(DEADLINE)
        finally:
            if waiting.poll() is None:
                with contextlib.suppress(ProcessLookupError):
                    os.killpg(waiting.pid, signal.SIGKILL)
            waiting.wait()
    assert status == 0 and said().count("Another package manager") == 1 and "Waiting for cache lock" not in said(), \
        "with the lock let go, it ended with status %s, saying:\n%s" % (status, said())

    env["ZARV_APT_LOCK_TIMEOUT"] = "1"
    with lock_held(lock):
        done = subprocess.run(script, env=env, capture_output=True, text=True, timeout=DEADLINE)
    holder = "process %d (%s)" % (os.getpid(), read("/proc/self/comm").strip())
    wanted = ("install-packages: another package manager, %s, still holds %s after 1 s; "
              "try again once it has finished" % (holder, lock))
    assert done.returncode != 0 and done.stderr.splitlines() == [wanted], \
        "with the lock held, status %d, and on standard error:\n%s" % (done.returncode, done.stderr)


# The Windows zip: one folder with exactly these files, zarv.exe stripped and with its icon
WINDOWS_ZIP = SOUNDS + ["segoeui.ttf", "zarv.exe", "openal32.dll", "README.txt", "LICENSE.txt"] + [
    "licenses/%s.txt" % name for name in ("SFML", "OpenAL-Soft", "FreeType", "Ogg-Vorbis-FLAC", "OpenSans", "MinGW-w64")]


@pytest.mark.targets("wine")
def test_windows_zip(target):
    folder = os.path.basename(target.path)[:-len(".zip")]
    with zipfile.ZipFile(target.path) as archive:
        names = sorted(name for name in archive.namelist() if not name.endswith("/"))
        assert names == sorted(folder + "/" + name for name in WINDOWS_ZIP), "the zip holds %s" % names
        exe = archive.read(folder + "/zarv.exe")
    assert struct.unpack_from("<I", exe, struct.unpack_from("<I", exe, 0x3c)[0] + 16)[0] == 0, \
        "zarv.exe still has its symbols"
    assert b"IHDR\0\0\1\0\0\0\1\0" in exe, "zarv.exe carries no 256-pixel icon"
