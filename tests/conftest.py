"""What the cases play, chosen by options (pytest --help lists them under
"what to test"), and the fixtures that start it. A case's `targets` marker
says what it runs on, the plain desktop game if it says nothing; it runs once
for each such target given. With no option, the game in build/ is played."""

import atexit
import json
import os
import re
import shutil
import tempfile
import zipfile

import pytest

from harness import EMULATED_DEADLINE, read
from harness.game import Game
from harness.net import Broker, Coturn, Relay
from harness.page import Page

BROWSERS = ("chromium", "firefox")


class Target:
    """One thing to test: name is its test id, kind what the markers choose by."""

    def __init__(self, kind, name=None, path=None, build=None, browser=None):
        self.kind, self.name, self.path, self.browser = kind, name or kind, path, browser
        self.build = build or {}

    def __repr__(self):
        return self.name

    def play(self, **options):
        """The game, not yet started, with the case's options."""
        if self.kind in BROWSERS:
            page = self.build["page"]
            # The build lays out the page in page/, beside the sounds that it packs
            return Page(os.path.dirname(page), self.browser, sounds=os.path.dirname(os.path.dirname(page)), **options)
        if self.kind == "wine":
            return Game(self.unpacked(), **options)
        if self.kind == "emulated":
            options.setdefault("deadline", EMULATED_DEADLINE)
        wrapper = self.build.get("emulator", []) + list(options.pop("wrapper", ()))
        return Game(self.path, wrapper=wrapper, env=self.build.get("environment"), preload=self.build.get("preload"),
                    **options)

    def unpacked(self):
        """The zip's zarv.exe, unpacked once for the session."""
        if "exe" not in self.build:
            into = tempfile.mkdtemp(prefix="zarv-windows-")
            atexit.register(shutil.rmtree, into, True)
            with zipfile.ZipFile(self.path) as archive:
                archive.extractall(into)
            self.build["exe"] = os.path.join(into, os.path.basename(self.path)[:-len(".zip")], "zarv.exe")
        return self.build["exe"]


def targets(config):
    builds = config.getoption("build")
    given = [config.getoption(name) for name in ("zip", "release", "deb", "portable")]
    found = []
    for folder in builds or ([] if any(given) else ["build"]):
        build = dict(json.loads(read(os.path.join(folder, "tests", "harness.json"))), folder=os.path.abspath(folder))
        if build["kind"] == "web":
            found += [Target(browser, build=build, browser=browser) for browser in config.getoption("browser") or BROWSERS]
        else:
            found.append(Target(build["kind"], path=build["game"], build=build))
    if config.getoption("zip"):
        found.append(Target("wine", path=os.path.abspath(config.getoption("zip"))))
    if config.getoption("release"):
        found.append(Target("release", path=os.path.abspath(config.getoption("release"))))
    others = [os.path.abspath(deb) for deb in config.getoption("other_deb")]
    for deb in config.getoption("deb"):
        found.append(Target("deb", os.path.basename(deb), os.path.abspath(deb), build=dict(others=others)))
    found += [Target("portable", os.path.basename(t), os.path.abspath(t)) for t in config.getoption("portable")]
    return found


def pytest_addoption(parser):
    group = parser.getgroup("zarv", "what to test")
    group.addoption("--build", action="append", default=[], metavar="DIR",
                    help="a build folder whose game or page to play (repeatable; build/ if nothing is named)")
    group.addoption("--browser", action="append", choices=BROWSERS, help="the page's browsers (both if none)")
    group.addoption("--zip", metavar="ZIP", help="the Windows zip, checked and played under Wine")
    group.addoption("--release", metavar="DIST", help="scripts/release's folder, checked as a player gets it")
    group.addoption("--deb", action="append", default=[], help="a package to install and play in this root")
    group.addoption("--other-deb", action="append", default=[], help="a package for another release")
    group.addoption("--portable", action="append", default=[], help="a portable tarball to play in this root")
    group.addoption("--evidence", default=os.path.join("build", "test-failures"), metavar="DIR",
                    help="where a failed case keeps what the game showed, said and played")


def pytest_configure(config):
    config.addinivalue_line("markers", "targets(*kinds): what the test runs on: desktop, sanitized, emulated, "
                                       "wine, page (or chromium), release, deb, portable")
    config.addinivalue_line("markers", "long: a long session, left out by -m 'not long'")
    # pytest-xdist's, for a run without it, as in the release's fresh roots
    config.addinivalue_line("markers", "xdist_group(name): cases that must run one after the other")
    config.zarv_targets = targets(config)


def pytest_generate_tests(metafunc):
    if "target" in metafunc.fixturenames:
        marker = metafunc.definition.get_closest_marker("targets")
        kinds = set(marker.args if marker else ("desktop",))
        if "page" in kinds:
            kinds |= set(BROWSERS)
        chosen = [t for t in metafunc.config.zarv_targets if t.kind in kinds]
        metafunc.parametrize("target", chosen, ids=[t.name for t in chosen])


def pytest_collection_modifyitems(config, items):
    """Leaves out the tests that nothing given runs on, and starts the long ones first."""
    unplayed = [item for item in items if any(str(mark.kwargs.get("reason", "")).startswith("got empty parameter set")
                                              for mark in item.iter_markers("skip"))]
    if unplayed:
        config.hook.pytest_deselected(items=unplayed)
        items[:] = [item for item in items if item not in unplayed]
    items.sort(key=lambda item: item.get_closest_marker("long") is None)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    report = (yield).get_result()
    setattr(item, "report_" + report.when, report)


def pytest_terminal_summary(terminalreporter):
    """The figures the cases measured on the way."""
    figures = [(report.nodeid, value) for reports in terminalreporter.stats.values() for report in reports
               if hasattr(report, "user_properties") for name, value in report.user_properties if name == "figure"]
    if figures:
        terminalreporter.section("figures")
        for nodeid, value in sorted(set(figures)):
            terminalreporter.write_line("%s: %s" % (nodeid, value))


@pytest.fixture
def say(request):
    """Notes a figure for the summary."""
    return lambda text: request.node.user_properties.append(("figure", text))


@pytest.fixture
def play(request):
    """Starts a game or a page; at the end, a passed case ends it the way a
    player does, and a failed one keeps what it showed, said and played."""
    games = []

    def play(game):
        games.append(game)
        return game.start()
    yield play
    failed = getattr(request.node, "report_call", None) is None or request.node.report_call.failed
    errors = []
    for number, game in enumerate(games):
        try:
            if not failed:
                game.end()
        except Exception as error:
            errors.append(error)
        if failed or errors:
            folder = os.path.join(request.config.getoption("evidence"), re.sub(r"[^\w.-]+", "_", request.node.name),
                                  str(number))
            os.makedirs(folder, exist_ok=True)
            game.keep_evidence(folder)
        game.stop()
    if errors:
        raise errors[0]


@pytest.fixture
def launch(target, play):
    """launch(**options): the target's game, started with the case's options."""
    return lambda **options: play(target.play(**options))


@pytest.fixture
def game(launch, request):
    """The target's game, started with the options of the case's `game` marker."""
    marker = request.node.get_closest_marker("game")
    return launch(**(marker.kwargs if marker else {}))


@pytest.fixture
def scratch():
    folder = tempfile.mkdtemp(prefix="zarv-test-")
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture
def broker(scratch):
    """The tests' broker serving scratch, stopped at the end: its url is the
    page's address and the PeerJS server's; a case puts the page there
    (broker.serve(site)) or writes one of its own into broker.folder."""
    with Broker(scratch) as running:
        yield running


@pytest.fixture
def turn():
    """coturn on 127.0.0.1 behind the tests' relay, both stopped at the end:
    the relay, whose ice (or query()) the pages take, and whose delay, jitter,
    loss and duplicate the case may set as it runs."""
    with Coturn() as coturn, Relay(coturn.address) as relay:
        yield relay
