"""The page as an installable web app: its manifest and icons, and the service
worker that keeps a release's files for offline play and takes a new release
on the next visit online."""

import hashlib
import json
import os
import re

import pytest

from harness import read, wait_for, write
from harness.ear import START_HZ
from harness.screen import start_game, wait_for_menu

KEPT = ("caches.keys().then((names) => Promise.all(names.map((name) => caches.open(name)"
        ".then((cache) => cache.keys()).then((requests) => [name, requests.map((r) => r.url.split('/').pop())]))))")


def kept(page):
    """The caches the page's origin holds, by name, and the files in each, once the worker controls the page."""
    page.until("the service worker to control the page", "navigator.serviceWorker.controller !== null")
    return dict(page.until("the caches", KEPT))


def release_kept(page):
    """The caches, once the served worker's release is the only one and holds every file the worker names."""
    worker = read(os.path.join(page.served, "service-worker.js"))
    release = re.search(r"var RELEASE = '(.*)';", worker).group(1)
    files = set(json.loads(re.search(r"var FILES = (\[.*\]);", worker).group(1)))
    return wait_for("the release's files kept", lambda: (lambda caches: list(caches) == [release] and files <= set(
        caches[release]) and caches)(kept(page)), page.deadline)


def reload(page):
    page.evaluate("setTimeout(() => location.reload(), 0), true")
    page.until("the reloaded page", "performance.getEntriesByType('navigation')[0].type === 'reload'"
               " && window.zarvLog && window.zarvLog.firstFrame", navigating=True)


@pytest.mark.targets("chromium")
def test_installable_with_its_icons(game):
    """Chromium finds nothing that keeps the page from being installed, and every icon in the manifest loads."""
    wait_for_menu(game)
    assert game.command("installability") == []
    manifest = game.evaluate("fetch(document.querySelector('link[rel=manifest]').href).then((r) => r.json())")
    assert manifest["display"] == "fullscreen" and manifest["background_color"] == "#4c4a48"
    sizes = game.evaluate("Promise.all(%s.map((icon) => new Promise((done) => { const image = new Image();"
                          " image.onload = () => done(image.naturalWidth); image.onerror = () => done(0);"
                          " image.src = icon.src; })))" % json.dumps(manifest["icons"]))
    assert sizes == [int(icon["sizes"].split("x")[0]) for icon in manifest["icons"]], sizes


@pytest.mark.targets("page")
def test_plays_offline_once_loaded(game):
    """Once loaded, the page starts and plays with its server gone: the menu, Return and its sound."""
    wait_for_menu(game)
    release_kept(game)
    game.server.shutdown()
    game.server.server_close()
    reload(game)
    wait_for_menu(game)
    mark = game.recording.mark()
    start_game(game, 1)
    game.recording.wait_for_sound(mark, START_HZ, "the start sound")


@pytest.mark.targets("chromium")
def test_takes_a_new_release_on_the_next_visit(game):
    """A second build at the same address, its script one byte longer, runs on
    the next load online, and the first release's cache is gone."""
    wait_for_menu(game)
    first = release_kept(game)
    old_script = next(name for name in os.listdir(game.served) if re.fullmatch(r"page\.\w+\.js", name))
    script = read(os.path.join(game.served, old_script)) + "\n"
    new_script = "page.%s.js" % hashlib.sha256(script.encode()).hexdigest()[:16]
    write(os.path.join(game.served, new_script), script)
    page = read(os.path.join(game.served, "index.html")).replace(old_script, new_script)
    write(os.path.join(game.served, "index.html"), page)
    release = hashlib.sha256(page.encode()).hexdigest()[:16]
    worker = re.sub(r"zarv-\w+", "zarv-" + release, read(os.path.join(game.served, "service-worker.js")))
    write(os.path.join(game.served, "service-worker.js"), worker.replace(old_script, new_script))
    reload(game)
    assert game.evaluate("document.querySelector('script[data-game]').src").endswith(new_script)
    wait_for_menu(game)
    assert list(release_kept(game)) == ["zarv-" + release] != list(first)


# Another origin's page, localhost where the game's is 127.0.0.1, with the game in an iframe
OUTER = ("<!DOCTYPE html><title>Another site</title><link rel='icon' href='data:,'><body style='margin: 0'>"
         "<iframe id='game' width='1280' height='800' style='border: 0; display: block'></iframe><script>"
         "document.getElementById('game').src = 'http://127.0.0.1:' + location.port + '/index.html';</script>")


@pytest.mark.targets("chromium")
@pytest.mark.game(tamper=lambda site: write(os.path.join(site, "outer.html"), OUTER))
def test_plays_inside_another_sites_frame(game):
    """Inside another origin's iframe the page plays, with no error on its console."""
    wait_for_menu(game)
    game.evaluate("setTimeout(() => location.href = 'http://localhost:%d/outer.html', 0), true"
                  % game.server.server_address[1])
    wait_for("the game's frame", lambda: game.command("frame 1"), game.deadline)
    game.until("the game in its frame", "window.zarvLog && window.zarvLog.firstFrame", navigating=True)
    game.command("click #canvas")
    start_game(game, 1)
