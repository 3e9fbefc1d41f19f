"""The page's folder served on 127.0.0.1 and played in a browser through
drive.js, for the end-to-end tests and the benchmarks alike."""

import functools
import http.server
import json
import os
import subprocess
import threading

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DRIVER = os.path.join(SOURCE, "tests", "web", "drive.js")
WEB_TOOLS = os.path.join(SOURCE, "build", "web-tools", "node_modules")  # scripts/npm-tools tests/web build/web-tools


class DriverError(Exception):
    pass


def page_files(site):
    """What a browser fetches of the page: index.html and the files it names,
    which are named by their contents."""
    return sorted(name for name in os.listdir(site)
                  if name == "index.html" or name.startswith(("zarv.", "page.")))


def page_file(site, extension):
    """The page's one zarv.<hash>.<extension>."""
    found = [name for name in page_files(site) if name.startswith("zarv.") and name.endswith("." + extension)]
    if len(found) != 1:
        raise DriverError("%s holds %s zarv.*.%s" % (site, len(found), extension))
    return found[0]


class QuietServer(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map, **{".wasm": "application/wasm"})

    def log_message(self, *args):
        pass


class Session:
    """A folder served on 127.0.0.1, and drive.js with its browser open on
    its index.html; stop() ends both, whatever state they are in."""

    def __init__(self, site, browser, home, env=None, stderr=None, options=None):
        """options: drive.js's, the viewport and the devices stood in for"""
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                                      functools.partial(QuietServer, directory=site))
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        env = dict(env or os.environ, HOME=home)
        env["NODE_PATH"] = os.environ.get("ZARV_WEB_TOOLS", WEB_TOOLS)
        self.url = "http://127.0.0.1:%d/index.html" % self.server.server_address[1]
        self.stderr = stderr
        self.process = subprocess.Popen(["node", DRIVER, browser, self.url, json.dumps(options or {})], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=stderr, env=env, text=True)

    def messages(self):
        self.stderr.flush()
        self.stderr.seek(0)
        return self.stderr.read()[-3000:]

    def command(self, line):
        if self.process.poll() is not None:
            raise DriverError("the browser's driver ended:\n" + self.messages())
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        answer = self.process.stdout.readline()
        if not answer:
            raise DriverError("the browser's driver ended:\n" + self.messages())
        value = json.loads(answer)
        if isinstance(value, dict) and "error" in value:
            raise DriverError("%s: %s" % (line[:60], value["error"]))
        return value

    def stop(self, deadline=60):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=deadline)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.server.shutdown()
        self.server.server_close()
