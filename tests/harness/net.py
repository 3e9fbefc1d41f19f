"""What online cases connect two pages through, all on 127.0.0.1: the
broker (tests/web/broker.js, a folder's files and the PeerJS server on one
port), coturn as the TURN relay, and in front of it a UDP relay of the tests'
own that delays, jitters, loses and duplicates datagrams and counts them."""

import asyncio
import json
import os
import random
import re
import select
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import urllib.parse

from harness import DEADLINE, SOURCE, TOOL_DEADLINE, check, read, wait_for, write
from harness.page import WEB_TOOLS, page_files

TURN_USER = "zarv"  # the TURN server's user, password and realm
STUN_BINDING = b"\x00\x01\x00\x00\x21\x12\xa4\x42"  # a STUN Binding request's header, before its transaction id


def stop(process):
    """Ends a process: closes its standard input if it has one, on which it ends, else terminates it; kills it if
    it does not end."""
    if process.stdin:
        process.stdin.close()
    else:
        process.terminate()
    try:
        process.wait(timeout=TOOL_DEADLINE)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class Broker:
    """tests/web/broker.js serving folder: url is its address, the page's
    and the PeerJS server's, whose endpoint is under /peerjs."""

    def __init__(self, folder):
        self.folder, self.process = folder, None

    def serve(self, site):
        """Copies the page's files from site into the folder served."""
        for name in page_files(site):
            shutil.copy(os.path.join(site, name), self.folder)

    def __enter__(self):
        self.log = tempfile.TemporaryFile("w+")
        self.process = subprocess.Popen(["node", os.path.join(SOURCE, "tests", "web", "broker.js"), self.folder],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log, text=True,
                                        env=dict(os.environ, NODE_PATH=WEB_TOOLS))
        ready = select.select([self.process.stdout], [], [], DEADLINE)[0]
        port = self.process.stdout.readline().strip() if ready else ""
        if not port.isdigit():
            self.log.seek(0)
            said = self.log.read()[-2000:]
            self.__exit__()
            check(False, "the broker did not start: " + said)
        self.url = "http://127.0.0.1:%s/" % port
        return self

    def __exit__(self, *exception):
        stop(self.process)
        self.log.close()

    def room_url(self, turn, page="index.html"):
        """The page that opens a room here, with turn for its only way to the other page."""
        return "%s%s?broker=%speerjs&%s" % (self.url, page, self.url, turn.query())


def play_at_random(pages, seconds, rng=random):
    """Both players press the game's keys at random, menu moves, Return and R
    included, for so many seconds; what the first page's status line said
    meanwhile."""
    keys, said, end = ["w", "s", "Up", "Down"] * 4 + ["Return", "r"], [], time.monotonic() + seconds
    while time.monotonic() < end:
        page, key = rng.choice(pages), rng.choice(keys)
        page.hold(key)
        time.sleep(rng.uniform(0.05, 0.6))  # random key lengths drive the game; no state is waited for here
        page.release(key)
        said.append(pages[0].evaluate("document.querySelector('[data-role=online-status]').textContent"))
    return said


def published(page):
    """Every 60th confirmed frame's checksum, as the page said them on its console."""
    return dict(re.findall(r"\bframe (\d+) checksum (\w+)$", page.messages(), re.M))


def invite(host, page="index.html"):
    """The host page's room opened ("Play online"), and its invite link, to page."""
    host.command("click [data-action=online]")
    host.until("the invite link", "document.querySelector('[data-role=invite]').href.includes('room=')")
    return host.evaluate("document.querySelector('[data-role=invite]').href").replace("index.html", page)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Coturn:
    """Debian's coturn on 127.0.0.1 with a configuration of its own, over UDP
    only, to loopback peers (Chromium's relayed candidates are there too)."""

    def __enter__(self):
        self.folder = tempfile.mkdtemp(prefix="zarv-turn-")
        self.address = ("127.0.0.1", free_port())
        write(os.path.join(self.folder, "turn.conf"), "".join(line.replace("@", self.folder) + "\n" for line in [
            "listening-ip=127.0.0.1", "listening-port=%d" % self.address[1], "relay-ip=127.0.0.1",
            "min-port=49152", "max-port=65535", "allow-loopback-peers", "lt-cred-mech", "fingerprint",
            "user=%s:%s" % (TURN_USER, TURN_USER), "realm=" + TURN_USER, "no-tls", "no-dtls", "no-tcp", "no-cli",
            "pidfile=@/turn.pid", "userdb=@/turndb", "no-stdout-log", "simple-log", "log-file=@/turn.log"]))
        self.process = subprocess.Popen(["turnserver", "-c", os.path.join(self.folder, "turn.conf")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.settimeout(0.2)
            try:
                wait_for("coturn to answer", lambda: self.answers(s))
            except Exception:
                self.__exit__()
                raise
        return self

    def answers(self, s):
        """Whether it answers a STUN Binding request, as it does once it is ready."""
        check(self.process.poll() is None, "coturn ended: " + self.said())
        s.sendto(STUN_BINDING + os.urandom(12), self.address)
        try:
            return s.recv(2048)[:2] == b"\x01\x01"
        except OSError:
            return False

    def said(self):
        path = os.path.join(self.folder, "turn.log")
        return read(path)[-2000:] if os.path.exists(path) else ""

    def __exit__(self, *exception):
        stop(self.process)
        shutil.rmtree(self.folder, ignore_errors=True)


class Relay:
    """A UDP relay in front of target (coturn), which the pages take for their
    TURN server: each client's datagrams go to target from a socket of the
    client's own, and target's back. Each way, each datagram is lost with
    probability loss, else sent after delay + uniform(-jitter, jitter) seconds
    (which reorders some) and, with probability duplicate, sent twice. All four
    may be set while it runs. counts[client]["up"] (client to target) and
    ["down"] are [bytes, datagrams] of UDP payload that the relay was given."""

    def __init__(self, target, delay=0.0, jitter=0.0, loss=0.0, duplicate=0.0):
        self.target, self.jitter, self.loss, self.duplicate = target, jitter, loss, duplicate
        # Each crossing's: from one page to the other a datagram crosses twice (see round_trip)
        self.delay = delay
        self.counts, self.upstream = {}, {}

    def counted(self):
        """A copy of counts, as they are now."""
        return {client: {way: list(count) for way, count in ways.items()} for client, ways in list(self.counts.items())}

    def round_trip(self, seconds):
        """Sets the delay for this round trip between two pages: a datagram from
        one to the other crosses the relay twice (page to coturn, coturn to
        page), so a round trip crosses it four times."""
        self.delay = seconds / 4

    @property
    def ice(self):
        """The pages' RTCConfiguration: this relay for TURN, and relayed candidates only."""
        return {"iceServers": [{"urls": "turn:%s:%d?transport=udp" % self.address, "username": TURN_USER,
                                "credential": TURN_USER}], "iceTransportPolicy": "relay"}

    def query(self):
        """?ice= for a page's URL."""
        return "ice=" + urllib.parse.quote(json.dumps(self.ice, separators=(",", ":")))

    def __enter__(self):
        self.loop = asyncio.new_event_loop()
        self.socket = self.bound()
        self.address = self.socket.getsockname()
        self.loop.add_reader(self.socket, self.receive, self.socket, None)
        self.thread = threading.Thread(target=self.loop.run_forever, daemon=True)
        self.thread.start()
        return self

    def __exit__(self, *exception):
        self.loop.call_soon_threadsafe(self.loop.stop)
        self.thread.join(TOOL_DEADLINE)
        for s in [self.socket] + list(self.upstream.values()):
            s.close()
        if not self.thread.is_alive():
            self.loop.close()

    def bound(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("127.0.0.1", 0))
        s.setblocking(False)
        return s

    def receive(self, s, client):
        """Forwards what arrived on s: from a client if client is None, else from target to that client."""
        while True:
            try:
                data, source = s.recvfrom(65536)
            except OSError:  # none left, or an ICMP error for an earlier datagram
                return
            if client is None and source not in self.upstream:
                self.upstream[source] = self.bound()
                self.loop.add_reader(self.upstream[source], self.receive, self.upstream[source], source)
            way = "up" if client is None else "down"
            count = self.counts.setdefault(client or source, {"up": [0, 0], "down": [0, 0]})[way]
            count[0] += len(data)
            count[1] += 1
            if random.random() < self.loss:
                continue
            out, to = (self.upstream[source], self.target) if client is None else (self.socket, client)
            for _ in range(2 if random.random() < self.duplicate else 1):
                self.loop.call_later(max(0.0, self.delay + random.uniform(-self.jitter, self.jitter)),
                                     self.send, out, data, to)

    @staticmethod
    def send(s, data, to):
        try:
            s.sendto(data, to)
        except OSError:  # a socket closed on the way out, or a full buffer: the datagram is lost
            pass
