"""Two pages playing one match online, in Chromium, through the tests' own
broker and a TURN relay that delays, jitters and loses packets (harness/net.py);
Firefox ESR gathers no ICE candidates on 127.0.0.1."""

import re
import time

import pytest

from harness import read, wait_for, write
from harness.net import invite, play_at_random, published
from harness.screen import countdown_shown, highlighted_option, menu_shown, paddles_at, read_scores

pytestmark = pytest.mark.targets("chromium")


def open_match(launch, target, broker, turn, guest_page="index.html"):
    """The host's page, its room opened, and the guest's, from its invite link."""
    broker.serve(target.build["folder"] + "/page")
    host = launch(url=broker.room_url(turn))
    return host, launch(url=invite(host, guest_page))


def says(page, what):
    return what in page.evaluate("document.body.innerText")


def test_two_pages_play_one_match(launch, target, broker, turn, say):
    turn.round_trip(0.12)
    turn.jitter, turn.loss = 0.005, 0.05  # each crossing: 4 jitters and 2 losses a way
    host, guest = open_match(launch, target, broker, turn)
    for page in (host, guest):
        page.until("frame 0", "canvas.dataset.frame !== undefined", 60)
    said = play_at_random([host, guest], 120)
    trips = [int(n) for text in said for n in re.findall(r"round trip (\d+) ms", text)]
    wait_for("the scores read alike on both screens", lambda: read_scores(host) == read_scores(guest), 60)
    mine, theirs = published(host), published(guest)
    common = sorted(set(mine) & set(theirs), key=int)
    say("%d checksums compared, the last at frame %s; round trips shown %s..%s ms; scores %s" % (
        len(common), common[-1], min(trips), max(trips), read_scores(host)))
    assert len(common) > 60 and all(mine[frame] == theirs[frame] for frame in common), "the pages went out of step"
    assert 100 <= sorted(trips)[len(trips) // 2] <= 300, "the status showed round trips of %s ms" % trips


def test_a_guests_key_turns_its_paddle_on_both_screens(launch, target, broker, turn):
    host, guest = open_match(launch, target, broker, turn)
    wait_for("the menu", lambda: menu_shown(host.screenshot()) and menu_shown(guest.screenshot()), 60)
    guest.press_until("s", "Player v Player", lambda: highlighted_option(host.screenshot()) == 2)
    guest.press_until("Return", "the countdown", lambda: countdown_shown(host.screenshot()))
    guest.hold("Up")  # the guest's own paddle is red, whichever key it steers with
    for page in (host, guest):
        wait_for("red at 355 after a miss", lambda: (lambda s: countdown_shown(s) and paddles_at(s, 180, 355))(
            page.screenshot()))
    guest.release("Up")


def test_leaving_and_another_build_are_said(launch, target, broker, turn, say):
    host, guest = open_match(launch, target, broker, turn)
    for page in (host, guest):
        page.until("frame 0", "canvas.dataset.frame !== undefined", 60)
    closed = time.monotonic()
    guest.close()
    wait_for("the host told", lambda: says(host, "The other player left"))
    say("the guest's closed tab said on the host's page %.1f s after" % (time.monotonic() - closed))
    other = re.sub(r'data-build="\w+"', 'data-build="0000000000000000"', read(broker.folder + "/index.html"))
    write(broker.folder + "/other.html", other)
    host, guest = open_match(launch, target, broker, turn, "other.html")
    for page in (host, guest):
        wait_for("a reload asked", lambda: says(page, "reload"))
