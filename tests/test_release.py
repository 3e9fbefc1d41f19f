"""The release as a player gets it (--release DIST, after scripts/release),
and, in the fresh roots that it makes, each package and portable tarball
installed and played (--deb, --portable); docs/testing.md says what each
case checks."""

import concurrent.futures
import gzip
import io
import os
import re
import subprocess
import tarfile
import zipfile

import pytest

from harness import BUILD_DEADLINE, EMULATED_DEADLINE, SOURCE, read, run, wait_for
from harness.archives import compare
from harness.page import Page
from harness.screen import highlighted_option, menu_shown
from test_install import SOUNDS, check_lintian, control_fields, entry_values, play_through

# What the game is driven and watched with in a fresh root, before the package comes in
TEST_TOOLS = ["python3", "python3-pytest", "xvfb", "xauth", "x11-utils", "xdotool", "imagemagick"]
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
# The page's files, with index.html at the top of its zip, as itch.io's HTML upload wants; all
# but index.html and the licences named by their contents
WEB_ZIP = ["index.html", r"page\.[0-9a-f]{16}\.css", r"page\.[0-9a-f]{16}\.js", r"zarv\.[0-9a-f]{16}\.data",
           r"zarv\.[0-9a-f]{16}\.js", r"zarv\.[0-9a-f]{16}\.wasm", r"online\.[0-9a-f]{16}\.js",
           r"manifest\.[0-9a-f]{16}\.webmanifest", "service-worker.js", "LICENSE.txt"] + [
    r"icon\.[0-9a-f]{16}\.png"] * 3 + [
    "licenses/%s.txt" % name for name in ("FreeType", "OpenSans", "SFML", "peerjs", "eventemitter3", "webrtc-adapter",
                                          "sdp", "peerjs-js-binarypack", "qrcode-generator")]


def project_version():
    return re.search(r"^project\(Zarv VERSION ([0-9.]+)", read(os.path.join(SOURCE, "CMakeLists.txt")), re.M).group(1)


def deb_release(deb):
    """The code name of the Debian release a package was built for, from its
    changelog's newest entry: "zarv (1.0.0+deb12u1) bookworm; urgency=medium"."""
    data = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], check=True, capture_output=True).stdout
    with tarfile.open(fileobj=io.BytesIO(data)) as tar:
        changelog = gzip.decompress(tar.extractfile("./usr/share/doc/zarv/changelog.gz").read()).decode()
    return changelog.split(")", 1)[1].split(";", 1)[0].strip()


def deb_architecture(deb):
    return control_fields(deb)["Architecture"]


def native_architecture():
    return run("dpkg", "--print-architecture").strip()


def emulated(arch):
    """The emulator that plays a program of this Debian architecture here, or
    None for this machine's own."""
    return None if arch == native_architecture() else EMULATORS[arch][0]


def release_files(dist):
    """The packages, the source tarball, the Windows zip and the page's zip."""
    version = project_version()
    debs = sorted(f for f in os.listdir(dist) if f.endswith(".deb"))
    return debs, "zarv-%s.tar.gz" % version, "zarv-%s-win64.zip" % version, "zarv-%s-web.zip" % version


def portable_tarball(dist, processor):
    """The portable Linux tarball for this processor, and its folder."""
    folder = "zarv-%s-linux-%s" % (project_version(), processor)
    return os.path.join(dist, folder + ".tar.gz"), folder


def unpack(tarball, into):
    with tarfile.open(tarball) as archive:
        archive.extractall(into, **({"filter": "data"} if hasattr(tarfile, "data_filter") else {}))


@pytest.mark.targets("release")
def test_checksums(target):
    dist = target.path
    debs, tarball, zip_name, web_zip = release_files(dist)
    portables = [os.path.basename(portable_tarball(dist, processor)[0]) for processor in PORTABLE_PROCESSORS]
    listed = sorted(line.split(None, 1)[1].lstrip("*") for line in read(os.path.join(dist, "SHA256SUMS")).splitlines())
    assert listed == sorted(debs + [tarball, zip_name, web_zip] + portables) == sorted(
        set(os.listdir(dist)) - {"SHA256SUMS"}), "SHA256SUMS lists %s; dist holds %s" % (listed, os.listdir(dist))
    run("sha256sum", "--check", "--strict", "SHA256SUMS", cwd=dist)
    # One package for each release and architecture
    builds = [(deb_release(os.path.join(dist, deb)), deb_architecture(os.path.join(dist, deb))) for deb in debs]
    architectures = {native_architecture()} | set(EMULATORS)
    wanted = {(release, arch) for release, _ in builds for arch in architectures}
    assert debs and len(set(builds)) == len(debs) and set(builds) == wanted, "the packages %s are for %s" % (
        debs, builds)


def check_portable_elf(folder, machine):
    """Each ELF file of the portable folder is built for the machine (as
    readelf names it), needs no library but what every desktop has and the
    folder's own, no glibc newer than NEWEST_GLIBC, and finds the folder's
    libraries through $ORIGIN alone. Returns the game's needed libraries."""
    shipped = set(os.listdir(os.path.join(folder, "lib")))
    for name in sorted(shipped):
        path = os.path.join(folder, "lib", name)
        built_for = re.search(r"Machine:\s+(.*)", run("readelf", "-hW", path)).group(1).strip()
        assert built_for.endswith(machine), "lib/%s is built for %s, not %s" % (name, built_for, machine)
        dynamic = run("readelf", "-dW", path)
        needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[([^]]+)\]", dynamic))
        assert needed <= PORTABLE_NEEDS | shipped, "lib/%s needs %s" % (name, sorted(needed - PORTABLE_NEEDS - shipped))
        paths = re.findall(r"\((?:RUNPATH|RPATH)\)\s+Library r(?:un)?path: \[([^]]*)\]", dynamic)
        assert paths == ["$ORIGIN"] or (not paths and not needed & shipped), "lib/%s has the run paths %s" % (
            name, paths)
        # The symbol versions it needs, which readelf reads for any processor
        glibc = set(re.findall(r"\bGLIBC_([0-9]+(?:\.[0-9]+)+)\b", run("readelf", "-VW", path)))
        newer = sorted(v for v in glibc if tuple(int(n) for n in v.split(".")) > NEWEST_GLIBC)
        assert not newer, "lib/%s needs glibc %s" % (name, newer)
        if name == "zarv":
            game_needs = needed
    return game_needs


@pytest.mark.targets("release")
def test_portable_tarballs(target, scratch, say):
    """The folder a player unpacks, for each processor: its files, and its ELF files' needs."""
    for processor, (_, machine) in PORTABLE_PROCESSORS.items():
        tarball, folder = portable_tarball(target.path, processor)
        with tarfile.open(tarball) as archive:
            members = {m.name: m for m in archive.getmembers()}
        into = os.path.join(scratch, processor)
        unpack(tarball, into)
        files = {name[len(folder) + 1:] for name, m in members.items() if not m.isdir()}
        wanted = {"zarv", "lib/zarv", "lib/libopenal.so.1", "segoeui.ttf", "README.txt", "LICENSE.txt",
                  "io.github.zarv.zarv.desktop", "io.github.zarv.zarv.png", "licenses/SFML.txt",
                  "licenses/OpenAL-Soft.txt", "licenses/OpenSans.txt"} | set(SOUNDS)
        assert wanted <= files and all(f in wanted or f.startswith("licenses/") for f in files), \
            "the tarball lacks %s and holds %s besides" % (sorted(wanted - files),
                                                           sorted(f for f in files - wanted if "/" not in f))
        assert all(name.startswith(folder + "/") or name == folder for name in members), "not all in " + folder
        assert all(m.isfile() or m.isdir() for m in members.values()), "the tarball holds links"
        assert members[folder + "/zarv"].mode == 0o755, "the launcher is not executable"
        run("desktop-file-validate", os.path.join(into, folder, "io.github.zarv.zarv.desktop"))
        say("the %s game needs %s" % (processor, ", ".join(sorted(check_portable_elf(os.path.join(into, folder),
                                                                                     machine)))))


@pytest.mark.targets("release")
def test_web_zip(target, play, scratch):
    """The page's zip holds its files and nothing else; unpacked and served,
    it shows the menu in headless Chromium, and Escape ends the game."""
    with zipfile.ZipFile(os.path.join(target.path, release_files(target.path)[3])) as archive:
        names = sorted(name for name in archive.namelist() if not name.endswith("/"))
        assert len(names) == len(WEB_ZIP) and all(
            len([name for name in names if re.fullmatch(pattern, name)]) == WEB_ZIP.count(pattern)
            for pattern in WEB_ZIP), "the page's zip holds %s" % names
        archive.extractall(scratch)
    page = play(Page(scratch, "chromium"))
    wait_for("the menu", lambda: menu_shown(page.screenshot()) and highlighted_option(page.screenshot()) == 1,
             page.start_deadline)


@pytest.mark.targets("release")
def test_fresh_roots(target):
    """In a fresh root of each release the portable build runs on, and of each
    release a package is built for: the portable tarball (in the oldest, the
    other processors' too), then the packages, this machine's architecture's
    first; another architecture is added as a foreign one and played through
    its emulator. Two roots at a time: much of a fresh root is apt fetching
    and unpacking."""
    dist = target.path
    debs = release_files(dist)[0]
    native = native_architecture()
    folder = os.path.relpath(dist, SOURCE)
    assert not folder.startswith(".."), "%s is not inside %s" % (dist, SOURCE)
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
            if PORTABLE_PROCESSORS[processor][0] != native:
                tools += [package + ":" + PORTABLE_PROCESSORS[processor][0] for package in PORTABLE_RUNTIME]
        arguments = []
        for processor in portables:
            arguments += ["--portable", os.path.relpath(portable_tarball(dist, processor)[0], SOURCE)]
        for deb in mine:
            arguments += ["--deb", os.path.join(folder, deb)]
        for deb in debs:
            if deb not in mine:
                arguments += ["--other-deb", os.path.join(folder, deb)]
        inner = ("scripts/install-packages %s && exec python3 -m pytest -p no:cacheprovider -q -rA tests/test_release.py"
                 " %s" % (" ".join(tools), " ".join(arguments)))
        done = subprocess.run([os.path.join(SOURCE, "scripts", "debian-root"), "--fresh", "--copy-in", folder,
                               release, "sh", "-c", inner], capture_output=True, text=True, timeout=BUILD_DEADLINE)
        return "" if done.returncode == 0 else "Debian %s, a fresh root:\n%s%s" % (
            release, done.stdout[-6000:], done.stderr[-3000:])

    releases = PORTABLE_RELEASES + sorted(set(deb_releases.values()) - set(PORTABLE_RELEASES))
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        failures = [failure for failure in pool.map(in_root, releases) if failure]
    assert not failures, "\n".join(failures)


@pytest.mark.targets("portable")
def test_portable_in_root(target, play, scratch):
    """In a fresh root with the test tools and what the portable build needs,
    but no compiler, SFML, OpenAL, Ogg, Vorbis, FLAC or Open Sans: unpacked,
    its launcher started through a link from another folder; for another
    processor, its game started through the emulator from the folder, as the
    launcher would."""
    present = [line.split()[0] for line in run("dpkg-query", "-W", "-f=${Package} ${db:Status-Status}\n").splitlines()
               if line.endswith(" installed")]
    extra = [p for p in present if re.match(r"(libsfml|libopenal|libogg|libvorbis|libflac|fonts-open-sans"
                                            r"|(g\+\+|gcc|clang)(-[0-9.]+)?$)", p)]
    assert not extra, "the root has %s, which a desktop may lack" % extra
    unpack(target.path, scratch)
    name = os.path.basename(target.path)[:-len(".tar.gz")]
    folder = os.path.join(scratch, name)
    window_class = entry_values(os.path.join(folder, "io.github.zarv.zarv.desktop"), "StartupWMClass")
    emulator = emulated(PORTABLE_PROCESSORS[name.rsplit("-", 1)[1]][0])
    elsewhere = os.path.join(scratch, "elsewhere")
    os.mkdir(elsewhere)
    if emulator:
        play_through(play, os.path.join(folder, "lib", "zarv"), window_class, elsewhere, through_link=False,
                     wrapper=["env", "-C", folder, emulator], deadline=EMULATED_DEADLINE)
    else:
        play_through(play, os.path.join(folder, "zarv"), window_class, elsewhere)


@pytest.mark.targets("deb")
def test_installed(target, play, scratch):
    """In a fresh root of the release the package is for: lintian of that
    release finds nothing wrong, the packages of the same architecture built
    for other releases cannot be installed, it installs with apt and plays,
    and apt remove takes all of it away. A package of another architecture
    plays through its emulator."""
    deb = target.path
    arch = deb_architecture(deb)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    check_lintian(deb)
    for other in target.build["others"]:
        if deb_architecture(other) == arch:
            done = subprocess.run(["apt-get", "install", "--simulate", other], capture_output=True, text=True,
                                  env=env, timeout=BUILD_DEADLINE)
            assert done.returncode != 0, "%s, built for another release, would install here:\n%s" % (
                os.path.basename(other), done.stdout)
    run("apt-get", "install", "-y", "-q", "--no-install-recommends", deb, env=env, timeout=BUILD_DEADLINE)
    files = [line.split(None, 5)[5].split(" -> ")[0][1:] for line in run("dpkg-deb", "-c", deb).splitlines()
             if not line.startswith("d")]
    assert files and all(os.path.lexists(f) for f in files), "the package's files are not all in place"
    entries = [f for f in files if f.startswith("/usr/share/applications/")]
    assert len(entries) == 1, "the package's menu entries: %s" % entries
    command = entry_values(entries[0], "Exec")
    assert len(command) == 1 and os.path.isabs(command[0]), "the menu entry's command is %s" % command
    emulator = emulated(arch)
    if emulator:  # what the launcher does: the game, started in its data folder
        games = [f for f in files if os.path.isfile(f) and not os.path.islink(f) and open(f, "rb").read(4) == b"\x7fELF"]
        assert len(games) == 1, "the package's programs: %s" % games
        data = os.path.dirname([f for f in files if f.endswith("/" + SOUNDS[0])][0])
        play_through(play, games[0], entry_values(entries[0], "StartupWMClass"), scratch, through_link=False,
                     wrapper=["env", "-C", data, emulator], deadline=EMULATED_DEADLINE)
    else:
        play_through(play, command[0], entry_values(entries[0], "StartupWMClass"), scratch, through_link=False)

    package = "zarv:" + arch
    run("apt-get", "remove", "-y", "-q", package, env=env, timeout=BUILD_DEADLINE)
    status = subprocess.run(["dpkg-query", "-W", "-f=${db:Status-Status}", package], capture_output=True, text=True)
    assert status.stdout in ("", "not-installed"), "after apt remove, %s is %r" % (package, status.stdout)
    left = [f for f in files if os.path.lexists(f)]
    left += [d for d in ("/usr/lib/games/zarv", "/usr/share/games/zarv", "/usr/share/doc/zarv") if os.path.exists(d)]
    assert not left, "apt remove left %s" % left


@pytest.mark.targets("release")
def test_zip_and_tarballs_again(target, scratch):
    """The same bytes from the same commit built in another folder: the zip and
    the page as the tests built and played them in this tree (built here now
    where they have not been), and, from a clone, the source tarball, this
    release's cross-built packages, and the portable tarballs in the root they
    are built in."""
    dist = target.path
    _, tarball, zip_name, web_zip = release_files(dist)
    undated = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    run(os.path.join(SOURCE, "scripts", "build-windows"), cwd=SOURCE, env=undated, timeout=BUILD_DEADLINE)
    compare(os.path.join(dist, zip_name), os.path.join(SOURCE, "build-windows", zip_name))
    run(os.path.join(SOURCE, "scripts", "build-web"), cwd=SOURCE, env=undated, timeout=BUILD_DEADLINE)
    compare(os.path.join(dist, web_zip), os.path.join(SOURCE, "build-web", web_zip))
    copy = os.path.join(scratch, "zarv")
    commit = run("git", "-C", SOURCE, "rev-parse", "HEAD").strip()
    run("git", "clone", "--quiet", "--no-hardlinks", SOURCE, copy, timeout=BUILD_DEADLINE)
    run("git", "-C", copy, "checkout", "--quiet", "--detach", commit)
    run("sh", "-c", 'git archive --format=tar --prefix="zarv-%s/" HEAD | gzip -9n >"%s"'
        % (project_version(), os.path.join(scratch, tarball)), cwd=copy)
    compare(os.path.join(dist, tarball), os.path.join(scratch, tarball))
    for arch in sorted(EMULATORS):
        again = os.path.join(copy, "debs-" + arch)
        run(os.path.join(copy, "scripts", "build-deb"), "--release", "--arch", arch, again, cwd=copy, env=undated,
            timeout=BUILD_DEADLINE)
        for deb in os.listdir(again):
            assert deb in os.listdir(dist), "the release has no %s" % deb
            compare(os.path.join(dist, deb), os.path.join(again, deb))
    # As scripts/release builds them
    run(os.path.join(copy, "scripts", "debian-root"), "--copy-out", "dist", PORTABLE_RELEASES[0], "sh", "-c",
        " && ".join("scripts/build-linux --arch %s dist" % arch for arch, _ in PORTABLE_PROCESSORS.values()),
        cwd=copy, timeout=BUILD_DEADLINE)
    for processor in PORTABLE_PROCESSORS:
        portable = os.path.basename(portable_tarball(dist, processor)[0])
        compare(os.path.join(dist, portable), os.path.join(copy, "dist", portable))

    with tarfile.open(os.path.join(dist, tarball)) as archive:
        held = sorted(m.name for m in archive.getmembers() if not m.isdir())
    tracked = sorted("zarv-%s/%s" % (project_version(), f) for f in run("git", "-C", copy, "ls-files", "-z").split("\0")
                     if f)
    assert held == tracked, "the tarball holds %s besides the tracked files and lacks %s" % (
        sorted(set(held) - set(tracked)), sorted(set(tracked) - set(held)))
