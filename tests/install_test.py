#!/usr/bin/env python3
"""The installed game and the Debian package, started the way a player would.

install: `cmake --install` into a temporary prefix. The files laid out, the
font a symlink to the system's, the desktop entry and the AppStream metainfo
through their validators, then the installed launcher, called through a
symlink from another working directory: the menu's texts are drawn (so the
font was found), a menu move is heard (so the sounds were), Escape exits 0.
Last, the uninstall script takes every installed file away again.

package: `cpack -G DEB` into a temporary folder. The .deb's name, control
fields and file list, then, unpacked with dpkg-deb -x into a temporary root,
the validators and its launcher as above.

The game runs under its own Xvfb, driven and watched as in end_to_end.py.

Usage: install_test.py BUILD_DIR [install] [package]
"""

import contextlib
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from end_to_end import (MENU_HZ, Game, check, highlighted_option, keep_evidence,  # noqa: E402
                        menu_shown, wait_for)

SOUNDS = ["menu.wav", "selected.wav", "stop.wav", "zarv.wav"]


def run(*command, cwd=None):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    check(done.returncode == 0, "%s failed (%d):\n%s%s"
          % (" ".join(command), done.returncode, done.stdout, done.stderr))
    return done.stdout


def expected_files(layout):
    """Every file and symlink an install puts in place, relative to the prefix."""
    app, share = layout["app_id"], layout["data_root"]
    files = {layout["launcher_dir"] + "/zarv", layout["lib_dir"] + "/zarv",
             share + "/applications/%s.desktop" % app, share + "/metainfo/%s.metainfo.xml" % app}
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
        check(os.path.islink(font) and os.readlink(font) == layout["font_file"],
              "segoeui.ttf is not a symlink to %s" % layout["font_file"])
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
        execs = [line for line in entry.read().splitlines() if line.startswith("Exec=")]
    wanted = "%s/%s/zarv" % (prefix, layout["launcher_dir"])
    check(execs == ["Exec=" + wanted], "the desktop entry does not start %s: %s" % (wanted, execs))
    metainfo = "%s/%s/metainfo/%s.metainfo.xml" % (root, layout["data_root"], layout["app_id"])
    run("appstreamcli", "validate", "--no-net", metainfo)
    return launcher


def play_through(launcher, name):
    """Starts the launcher through a symlink, with a working directory of its
    own that holds no assets; the game has to find them in its data folder."""
    elsewhere = tempfile.mkdtemp(prefix="zarv-link-")
    link = os.path.join(elsewhere, "zarv")
    os.symlink(launcher, link)
    game = Game(link, assets=[])
    try:
        game.start()
        wait_for("the menu with its texts drawn",
                 lambda: (lambda s: menu_shown(s) and highlighted_option(s) == 1)(game.screenshot()))
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
    launcher = check_installed_tree(prefix, layout, prefix)
    play_through(launcher, "install_launcher")

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


def case_package(build, layout, scratch):
    out = os.path.join(scratch, "out")
    with manifest_kept(build):
        run("cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", out,
            cwd=scratch)
    arch = run("dpkg", "--print-architecture").strip()
    name = "zarv_%s_%s.deb" % (layout["version"], arch)
    debs = sorted(f for f in os.listdir(out) if f.endswith(".deb"))
    check(debs == [name], "expected %s, cpack made %s" % (name, debs))
    deb = os.path.join(out, name)

    fields = control_fields(deb)
    for key, value in (("Package", "zarv"), ("Version", layout["version"]),
                       ("Architecture", arch), ("Section", "games"), ("Priority", "optional")):
        check(fields.get(key) == value, "%s is %r, not %r" % (key, fields.get(key), value))
    check(fields.get("Maintainer"), "no Maintainer")
    check("\n" in fields.get("Description", ""), "no long description")
    depends = {d.split()[0] for d in fields.get("Depends", "").split(",") if d.strip()}
    wanted = {"libc6", "libstdc++6", "libsfml-audio2.5", "libsfml-graphics2.5",
              "libsfml-system2.5", "libsfml-window2.5"}
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
    if layout["font_package"]:
        check(listed["./usr/%s/segoeui.ttf" % layout["data_dir"]][1] == layout["font_file"],
              "segoeui.ttf does not point at the system font")

    root = os.path.join(scratch, "root")
    run("dpkg-deb", "-x", deb, root)
    launcher = check_installed_tree(os.path.join(root, "usr"), layout, "/usr")
    play_through(launcher, "package_launcher")


CASES = {"install": case_install, "package": case_package}


def main():
    build = os.path.abspath(sys.argv[1])
    wanted = sys.argv[2:] or list(CASES)
    with open(os.path.join(build, "packaging", "layout.json")) as f:
        layout = json.load(f)
    passed = failed = 0
    for name in wanted:
        started = time.monotonic()
        scratch = tempfile.mkdtemp(prefix="zarv-%s-" % name)
        try:
            CASES[name](build, layout, scratch)
            passed += 1
            print("PASS %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
        except Exception:  # report every case, whatever went wrong
            failed += 1
            print("FAIL %s" % name, flush=True)
            traceback.print_exc()
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
