"""sandpile-pile --zoom in a real browser: headless Chromium opens the folder's
index.html from file://, driven over the DevTools protocol on a pipe, and
its screenshots are checked against the heights the same run wrote.

zoom.py SANDPILE_PILE CHROMIUM"""

import base64
import fcntl
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

import numpy as np

WIDTH, HEIGHT = 800, 600           # the window, in pixels
PADDING = 20                       # around the whole pile in the first view
BACKDROP = (0x3A, 0x44, 0x58)
WINDOW = np.array([[0, 0, 0], [128, 128, 128], [192, 192, 192], [255, 255, 255]])
LEVELS_PER_HEIGHT = 85
TILE = 256
# Where the viewer's controls cover the pile: zoom buttons, read-out, scale.
CONTROLS = [(0, 0, 60, 90), (0, HEIGHT - 45, 130, HEIGHT), (WIDTH - 130, HEIGHT - 45, WIDTH, HEIGHT)]

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


class Browser:
    """Chromium with --remote-debugging-pipe: JSON messages ended by NUL on fds 3 and 4."""

    def __init__(self, chromium, profile):
        to_browser, self.commands = os.pipe()
        self.replies, from_browser = os.pipe()
        flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile, "--remote-debugging-pipe", "about:blank"]

        def plumb():   # by way of copies above 4, which the pipes' own may be
            high = [fcntl.fcntl(end, fcntl.F_DUPFD, 10) for end in (to_browser, from_browser)]
            os.dup2(high[0], 3)
            os.dup2(high[1], 4)

        # The pipes' own descriptors close on exec; their copies 3 and 4 stay open.
        # In a session of its own, so that all its processes end together.
        self.process = subprocess.Popen([chromium] + flags, close_fds=False, preexec_fn=plumb, start_new_session=True,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self.buffer, self.next_id, self.events = b"", 0, []
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.call(domain + ".enable")
        self.call("Emulation.setDeviceMetricsOverride", width=WIDTH, height=HEIGHT, deviceScaleFactor=1, mobile=False)

    def call(self, method, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if method.split(".")[0] != "Target":
            message["sessionId"] = self.session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        while True:
            reply = self.receive()
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(method + ": " + reply["error"]["message"])
                return reply["result"]
            self.events.append(reply)

    def receive(self):
        while b"\0" not in self.buffer:
            chunk = os.read(self.replies, 1 << 20)
            if not chunk:
                raise RuntimeError("the browser went away")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def evaluate(self, expression):
        return self.call("Runtime.evaluate", expression=expression, awaitPromise=True, returnByValue=True)["result"].get("value")

    def open(self, url):
        """Loads the page and waits for the page's own word that its tiles are drawn."""
        self.call("Page.navigate", url=url)
        drawn = "new Promise(done => { const look = () => document.body && document.body.dataset.drawn === 'yes'" \
                " ? done(true) : setTimeout(look, 20); look(); })"
        self.evaluate(drawn)
        return self.screenshot()

    def screenshot(self, name=None):
        png = base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"])
        rgb = subprocess.run(["convert", "png:-", "-depth", "8", "rgb:-"], input=png, capture_output=True, check=True).stdout
        return np.frombuffer(rgb, dtype=np.uint8).reshape(HEIGHT, WIDTH, 3).astype(int)

    def errors(self):
        """Exceptions, console errors and failed requests, as the events told them."""
        kinds = {"Runtime.exceptionThrown": lambda p: p["exceptionDetails"].get("text"),
                 "Log.entryAdded": lambda p: p["entry"]["level"] == "error" and p["entry"]["text"],
                 "Runtime.consoleAPICalled": lambda p: p["type"] == "error" and str(p["args"]),
                 "Network.loadingFailed": lambda p: "failed request: " + p.get("errorText", "")}
        told = (kinds[e["method"]](e["params"]) for e in self.events if e.get("method") in kinds)
        return [text for text in told if text]

    def close(self):
        try:   # it may end before it answers
            os.write(self.commands, json.dumps({"id": 0, "method": "Browser.close"}).encode() + b"\0")
            self.process.wait(timeout=60)
        finally:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)   # whatever is left of it
            except ProcessLookupError:
                pass
            self.process.wait()


def uncovered(x, y):
    return not any(x0 <= x < x1 and y0 <= y < y1 for x0, y0, x1, y1 in CONTROLS)


def mixed(level):
    """The window palette's colour of a mean height level / 85, as the writer mixes it."""
    below = min(level // LEVELS_PER_HEIGHT, 2)
    step = level - below * LEVELS_PER_HEIGHT
    return (WINDOW[below] * (LEVELS_PER_HEIGHT - step) + WINDOW[below + 1] * step + LEVELS_PER_HEIGHT // 2) // LEVELS_PER_HEIGHT


def check_whole_pile(shot, heights):
    """The first view: the whole pile, centred, as large as the window allows."""
    side = min(WIDTH, HEIGHT) - 2 * PADDING
    scale = side / max(heights.shape)
    expected = (WIDTH / 2 - heights.shape[1] * scale / 2, HEIGHT / 2 - heights.shape[0] * scale / 2,
                WIDTH / 2 + heights.shape[1] * scale / 2, HEIGHT / 2 + heights.shape[0] * scale / 2)
    row, column = shot[HEIGHT // 2], shot[:, WIDTH // 2]
    inside_x = np.nonzero((row != BACKDROP).any(axis=1))[0]
    inside_y = np.nonzero((column != BACKDROP).any(axis=1))[0]
    found = (inside_x[0], inside_y[0], inside_x[-1] + 1, inside_y[-1] + 1)
    check(all(abs(f - e) <= 1.5 for f, e in zip(found, expected)),
          f"the whole pile is drawn at {found}, not at {tuple(round(e) for e in expected)}")


def check_sites(shot, heights, row, column, zoom_in):
    """A view centred on site (row, column), zoom_in screen pixels a site: the
    centre pixel of each site shows its height's colour; beyond the pile, the backdrop."""
    counts, wrong = np.zeros(4, int), []
    for y in range(HEIGHT // 2 % zoom_in, HEIGHT, zoom_in):   # the centre of the screen is a site's centre
        for x in range(WIDTH // 2 % zoom_in, WIDTH, zoom_in):
            if not uncovered(x, y):
                continue
            r, c = row + (y - HEIGHT // 2) // zoom_in, column + (x - WIDTH // 2) // zoom_in
            inside = 0 <= r < heights.shape[0] and 0 <= c < heights.shape[1]
            expected = WINDOW[heights[r, c]] if inside else BACKDROP
            if inside:
                counts[heights[r, c]] += 1
            if (shot[y, x] != expected).any():
                wrong.append((r, c, tuple(shot[y, x]), tuple(expected)))
    check(not wrong, f"around site ({row}, {column}), {len(wrong)} sites drawn wrong, such as {wrong[:3]}")
    return counts


def check_level(shot, heights, row, column, block):
    """A zoomed-out view, a screen pixel a block x block sites: each pixel shows the
    mean height of its block through the palette."""
    y0, x0 = row - HEIGHT // 2 * block, column - WIDTH // 2 * block
    wrong = 0
    for y in range(0, HEIGHT, 7):
        for x in range(0, WIDTH, 7):
            r, c = y0 + y * block, x0 + x * block
            if not uncovered(x, y) or not (0 <= r and r + block <= heights.shape[0] and 0 <= c and c + block <= heights.shape[1]):
                continue
            mean = heights[r:r + block, c:c + block].mean()
            wrong += (shot[y, x] != mixed(int(mean * LEVELS_PER_HEIGHT + 0.5))).any()
    check(wrong == 0, f"{wrong} pixels of the level of {block} x {block} sites do not show their mean height")


def main():
    pile_tool, chromium = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp()
    browser = None
    try:
        folder = os.path.join(work, "centre")
        subprocess.run([pile_tool, "centre", "2^19", "--zoom", folder, "--heights", folder + ".npy"],
                       check=True, stdout=subprocess.DEVNULL)
        heights = np.load(folder + ".npy")
        description = open(os.path.join(folder, "pile.js")).read()
        levels = int(re.search(r'"levels": (\d+)', description).group(1))
        finest, deepest = levels - 1, levels - 1 + 3
        check(levels == 3, f"a pile of {heights.shape} has {levels} levels, not 3")
        page = "file://" + os.path.join(folder, "index.html")

        browser = Browser(chromium, os.path.join(work, "profile"))
        check_whole_pile(browser.open(page), heights)

        row, column = heights.shape[0] // 3, heights.shape[1] // 3   # all four heights about it
        counts = check_sites(browser.open(f"{page}?near#x={column + 0.5}&y={row + 0.5}&z={deepest}"), heights, row, column, 8)
        check(counts.min() >= 20, f"the view around ({row}, {column}) shows too few sites of some height: {counts}")
        corner = heights.shape[0] - 20, heights.shape[1] - 30
        check_sites(browser.open(f"{page}?corner#x={corner[1] + 0.5}&y={corner[0] + 0.5}&z={deepest}"), heights, *corner, 8)

        for block in (2, 4):
            centre = heights.shape[0] // 2 // block * block, heights.shape[1] // 2 // block * block
            shot = browser.open(f"{page}?level{block}#x={centre[1]}&y={centre[0]}&z={finest - block.bit_length() + 1}")
            check_level(shot, heights, *centre, block)

        # The read-out names the site under the pointer and its height; the
        # scale bar is 80 pixels for 10 sites at 8 pixels a site.
        browser.open(f"{page}?pointer#x={column + 0.5}&y={row + 0.5}&z={deepest}")
        for dx, dy in ((0, 0), (8, 0), (0, -16), (-24, 8)):
            browser.call("Input.dispatchMouseEvent", type="mouseMoved", x=WIDTH // 2 + dx, y=HEIGHT // 2 + dy)
            r, c = row + dy // 8, column + dx // 8
            text = browser.evaluate("new Promise(done => { const look = () => { const t = document.getElementById('readout')"
                                    ".textContent; t.includes('height') ? done(t) : setTimeout(look, 20); }; look(); })")
            check(text == f"row {r}, column {c}: height {heights[r, c]}", f"the read-out says '{text}' at site ({r}, {c})")
        scale = browser.evaluate("document.getElementById('scale').textContent + ' ' + "
                                 "document.querySelector('.scale-bar').style.width")
        check(scale == "10 sites 80px", f"the scale bar says '{scale}' at 8 pixels a site")

        check(browser.evaluate("document.documentElement.dataset.errors") == "0", "the page counted errors")
        check(not browser.errors(), f"the browser reported errors: {browser.errors()[:5]}")   # all read by now
    finally:
        if browser:
            browser.close()
        shutil.rmtree(work)
    if not failures:
        print("sandpile-pile --zoom: all browser checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
