"""Two pages online, through the tests' broker and TURN relay (harness/net.py),
in Chromium only: Firefox ESR gathers no ICE candidates on 127.0.0.1."""

import contextlib
import os
import shutil

import pytest

from harness import SOURCE, write
from harness.page import WEB_TOOLS, Page


@contextlib.contextmanager
def channel_pages(broker, turn, browser):
    """The host's and the guest's page of tests/web/channel.js, once their channel is open."""
    # of one origin with its broker, as the game's page has to be
    write(os.path.join(broker.folder, "index.html"), '<!DOCTYPE html><meta http-equiv="Content-Security-Policy" '
          'content="default-src \'self\'; img-src data:"><link rel="icon" href="data:,">'
          '<script src="peerjs.min.js"></script><script src="channel.js"></script>')
    shutil.copy(os.path.join(WEB_TOOLS, "peerjs", "dist", "peerjs.min.js"), broker.folder)
    shutil.copy(os.path.join(SOURCE, "tests", "web", "channel.js"), broker.folder)
    url = broker.url + "index.html?" + turn.query()
    with Page(broker.folder, browser, url=url) as host:
        with Page(broker.folder, browser, url=url + "&room=" + host.until("the host's id", "channel.id")) as guest:
            for page in (host, guest):
                page.until("the channel to open", "channel.open")
            yield host, guest


@pytest.mark.targets("chromium")
def test_relay_delays_and_loses_the_channels_messages(target, broker, turn, say):
    """Through the relay at 10 % loss each way, some of 200 messages are lost
    and never sent again; then at a round trip of 120 ms, none is quicker."""
    with channel_pages(broker, turn, target.browser) as (host, guest):
        turn.loss = 0.1
        host.evaluate("channel.stream(100, 16, 200)")
        host.until("200 messages sent", "channel.sent == 200")
        turn.loss = 0
        turn.round_trip(0.12)
        host.evaluate("channel.ping(10)")
        rtts = sorted(host.until("10 round trips", "channel.rtts.length == 10 && channel.rtts"))
        # ten round trips of 120 ms at least: longer than SCTP takes to send a lost message again
        got = guest.evaluate("[channel.got, channel.numbers.size]")
        say("%d of 200 messages at 10 %% loss each way; round trips %.0f..%.0f ms" % (got[0], rtts[0], rtts[-1]))
        assert 100 < got[0] < 200 and got[0] == got[1], "the guest got %d messages, %d of them different" % tuple(got)
        assert rtts[0] >= 119, "round trips of %s ms through a relay that delays them 120 ms" % rtts
