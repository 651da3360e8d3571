#!/usr/bin/env python3
"""Render check: proves that optimized pages look exactly like their originals.

Opens every input page and its output page in headless Chromium (DevTools protocol over
--remote-debugging-pipe, so no ports) and compares four things: document.compatMode, the text
of the body (innerText), the box of every element and every rendered text node in document
order (rounded to 0.1 px), and the pixels of the first screen. See README.md for usage.
"""

import argparse
import base64
import fcntl
import json
import os
import select
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import threading
import tempfile
import time
from urllib.parse import quote, unquote
import zlib

WIDTH, HEIGHT = 1280, 800

CHROMIUM_FLAGS = [
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--no-default-browser-check",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--disable-extensions",
    "--disable-default-apps",
    "--disable-breakpad",
    "--disable-crash-reporter",
    "--disable-dev-shm-usage",
    "--hide-scrollbars",
    "--mute-audio",
    # Background tabs must keep their timers and animation frames, or a page waits forever.
    "--disable-background-timer-throttling",
    "--disable-renderer-backgrounding",
    "--disable-backgrounding-occluded-windows",
    "--font-render-hinting=none",
    "--force-color-profile=srgb",
    f"--window-size={WIDTH},{HEIGHT}",
    "--remote-debugging-pipe",
]

# Refused before they reach the request handler of Tab, which refuses the rest of the network.
BLOCKED_URLS = ["http://*", "https://*", "ws://*", "wss://*", "ftp://*"]

# Waits until the page has settled: fonts loaded and two animation frames drawn. The timer is a
# fallback for documents that draw no frames (e.g. nothing visible).
SETTLE_JS = """
new Promise(resolve => {
  const frames = () => requestAnimationFrame(() => requestAnimationFrame(() => resolve(true)));
  const fonts = document.fonts ? document.fonts.ready : Promise.resolve();
  fonts.then(frames, frames);
  setTimeout(() => resolve(false), 3000);
})
"""

# Collects what is compared, after the screenshot. Boxes are in tenths of a pixel. Text nodes
# without any box (white space that does not render) add nothing, because the optimizer may drop
# such nodes. Comments are removed and adjacent text nodes joined first: neither renders, and a
# comment dropped between two words would otherwise turn one text node into two. Frames of the
# same origin (srcdoc) are walked too, right after their frame element.
MEASURE_JS = """
(() => {
  const t = v => Math.round(v * 10);
  const boxes = [];
  const labels = {};  // the first characters of text nodes, for messages only
  const walk = (doc, depth) => {
    const root = doc.documentElement;
    if (!root) return;
    const comments = [];
    const finder = doc.createTreeWalker(root, NodeFilter.SHOW_COMMENT);
    while (finder.nextNode()) comments.push(finder.currentNode);
    comments.forEach(c => c.remove());
    root.normalize();
    const walker = doc.createTreeWalker(root, NodeFilter.SHOW_ELEMENT | NodeFilter.SHOW_TEXT);
    const range = doc.createRange();
    for (let n = walker.currentNode; n; n = walker.nextNode()) {
      if (n.nodeType === Node.TEXT_NODE) {
        range.selectNodeContents(n);
        const rects = Array.from(range.getClientRects());
        if (rects.length === 0) continue;
        const parts = rects.map(r => [t(r.left), t(r.top), t(r.width), t(r.height)].join(','));
        boxes.push('#text ' + parts.join(' '));
        labels[boxes.length - 1] = JSON.stringify(n.data.slice(0, 30));
      } else {
        const r = n.getBoundingClientRect();
        boxes.push(n.localName + ' ' + [t(r.left), t(r.top), t(r.width), t(r.height)].join(','));
        if (n.localName === 'iframe' || n.localName === 'frame') {
          let inner = null;
          try { inner = n.contentDocument; } catch (e) {}
          if (inner && depth < 4) { boxes.push('{'); walk(inner, depth + 1); boxes.push('}'); }
        }
      }
    }
  };
  const text = document.body ? document.body.innerText : null;
  walk(document, 0);
  return JSON.stringify({
    compatMode: document.compatMode,
    text: text,
    boxes: boxes,
    labels: labels,
  });
})()
"""


class BrowserError(Exception):
    pass


class PageTimeout(Exception):
    pass


def move_up(fd):
    high = fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 5)
    os.close(fd)
    return high


class Browser:
    """One Chromium process spoken to over the DevTools pipe (fd 3 in, fd 4 out, NUL-ended JSON)."""

    def __init__(self, executable, log_path):
        self.profile = tempfile.mkdtemp(prefix="render-check-profile-")
        # Python's descriptors are close-on-exec, so a browser inherits only what is placed
        # below; the ends sit at 5 or above so that placing one cannot overwrite the other.
        to_child_r, self.to_child = os.pipe()
        self.from_child, from_child_w = os.pipe()
        to_child_r = move_up(to_child_r)
        from_child_w = move_up(from_child_w)
        log = os.open(log_path or os.devnull, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        try:
            # posix_spawn rather than a fork hook, which is unsafe while other threads run.
            self.pid = os.posix_spawn(
                executable,
                [executable, *CHROMIUM_FLAGS, f"--user-data-dir={self.profile}", "about:blank"],
                os.environ,
                file_actions=[
                    (os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
                    (os.POSIX_SPAWN_DUP2, log, 1),
                    (os.POSIX_SPAWN_DUP2, log, 2),
                    (os.POSIX_SPAWN_DUP2, to_child_r, 3),
                    (os.POSIX_SPAWN_DUP2, from_child_w, 4),
                ],
                setsid=True,
            )
        finally:
            for fd in (to_child_r, from_child_w, log):
                os.close(fd)
        self.exit_status = None
        self.buffer = b""
        self.next_id = 0
        self.events = []
        self.request_handlers = {}

    def alive(self):
        if self.exit_status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.exit_status = status
        return self.exit_status is None

    def close(self):
        try:
            if self.alive():
                try:
                    self.call("Browser.close", timeout=5)
                except (BrowserError, PageTimeout):
                    pass
                deadline = time.monotonic() + 5
                while self.alive() and time.monotonic() < deadline:
                    time.sleep(0.05)
                if self.alive():
                    os.killpg(self.pid, signal.SIGKILL)
                    os.waitpid(self.pid, 0)
                    self.exit_status = -1
        finally:
            for fd in (self.to_child, self.from_child):
                try:
                    os.close(fd)
                except OSError:
                    pass
            shutil.rmtree(self.profile, ignore_errors=True)

    def send(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        data = json.dumps(message).encode() + b"\0"
        try:
            while data:
                data = data[os.write(self.to_child, data):]
        except OSError as e:
            raise BrowserError(f"browser pipe closed ({e})")
        return self.next_id

    def receive(self, deadline):
        """Returns the next message, or raises PageTimeout at the deadline."""
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise PageTimeout()
            ready, _, _ = select.select([self.from_child], [], [], left)
            if not ready:
                raise PageTimeout()
            chunk = os.read(self.from_child, 1 << 20)
            if not chunk:
                raise BrowserError("browser exited")
            self.buffer += chunk
        raw, self.buffer = self.buffer.split(b"\0", 1)
        message = json.loads(raw)
        method = message.get("method")
        if method == "Fetch.requestPaused":
            handler = self.request_handlers.get(message.get("sessionId"))
            if handler:
                handler(message["params"])
                return self.receive(deadline)
        elif method == "Page.javascriptDialogOpening":
            # alert(), confirm() and friends would stop the page until someone answers.
            self.send("Page.handleJavaScriptDialog", {"accept": True}, message.get("sessionId"))
        elif method == "Inspector.targetCrashed":
            raise BrowserError("page crashed")
        return message

    def call(self, method, params=None, session=None, timeout=30.0):
        wanted = self.send(method, params, session)
        deadline = time.monotonic() + timeout
        while True:
            message = self.receive(deadline)
            if message.get("id") == wanted:
                if "error" in message:
                    raise BrowserError(f"{method}: {message['error'].get('message')}")
                return message.get("result", {})
            if "method" in message:
                self.events.append(message)

    def wait_event(self, method, session, timeout):
        deadline = time.monotonic() + timeout
        while True:
            for i, event in enumerate(self.events):
                if event["method"] == method and event.get("sessionId") == session:
                    del self.events[i]
                    return event
            message = self.receive(deadline)
            if "method" in message:
                self.events.append(message)


class Tab:
    def __init__(self, browser):
        self.browser = browser
        target = browser.call("Target.createTarget", {"url": "about:blank"})
        self.target = target["targetId"]
        self.session = browser.call(
            "Target.attachToTarget", {"targetId": self.target, "flatten": True}
        )["sessionId"]
        self.expected_navigation = None
        browser.request_handlers[self.session] = self.on_request
        for method, params in [
            ("Page.enable", {}),
            ("Inspector.enable", {}),
            ("Runtime.enable", {}),
            ("Network.enable", {}),
            ("Network.setBlockedURLs", {"urls": BLOCKED_URLS}),
            ("Fetch.enable", {"patterns": [{"urlPattern": "*"}]}),
            ("Network.setCacheDisabled", {"cacheDisabled": True}),
            (
                "Emulation.setDeviceMetricsOverride",
                {"width": WIDTH, "height": HEIGHT, "deviceScaleFactor": 1, "mobile": False},
            ),
            ("Emulation.setFocusEmulationEnabled", {"enabled": True}),
        ]:
            self.call(method, params)

    def call(self, method, params=None, timeout=30.0):
        return self.browser.call(method, params, self.session, timeout)

    def on_request(self, params):
        """Lets requests that stay on the machine through and refuses the rest. The page itself is
        measured, so a page that navigates away (meta refresh, script) is kept where it is."""
        url = params["request"]["url"]
        scheme = url.split(":", 1)[0].lower()
        refused = None if scheme in ("file", "data", "blob", "about") else "BlockedByClient"
        if params.get("resourceType") == "Document" and params.get("frameId") == self.target:
            if self.expected_navigation and unquote(url) == unquote(self.expected_navigation):
                self.expected_navigation = None
            else:
                refused = "Aborted"  # an aborted navigation leaves the page as it is
        if refused:
            self.browser.send("Fetch.failRequest",
                              {"requestId": params["requestId"], "errorReason": refused},
                              self.session)
        else:
            self.browser.send("Fetch.continueRequest", {"requestId": params["requestId"]},
                              self.session)

    def render(self, url, timeout):
        """Loads url and returns (measurements, screenshot PNG bytes)."""
        deadline = time.monotonic() + timeout
        left = lambda: max(0.1, deadline - time.monotonic())
        self.browser.events = [e for e in self.browser.events if e.get("sessionId") != self.session]
        self.expected_navigation = url
        result = self.call("Page.navigate", {"url": url}, left())
        if result.get("errorText"):
            raise BrowserError(f"cannot open {url}: {result['errorText']}")
        self.browser.wait_event("Page.loadEventFired", self.session, left())
        self.evaluate(SETTLE_JS, left())
        shot = self.call("Page.captureScreenshot", {"format": "png", "optimizeForSpeed": True},
                         left())
        measured = json.loads(self.evaluate(MEASURE_JS, left()))
        return measured, base64.b64decode(shot["data"])

    def evaluate(self, expression, timeout):
        result = self.call(
            "Runtime.evaluate",
            {"expression": expression, "awaitPromise": True, "returnByValue": True},
            timeout,
        )
        if "exceptionDetails" in result:
            raise BrowserError("script failed: " + json.dumps(result["exceptionDetails"])[:200])
        return result["result"].get("value")



def png_rows(data):
    """Decodes an 8-bit RGB or RGBA, non-interlaced PNG into its rows of pixel bytes."""
    pos, idat, width, height, channels = 8, b"", 0, 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos : pos + 8])
        body = data[pos + 8 : pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            channels = {2: 3, 6: 4}.get(colour)
            if depth != 8 or not channels or interlace:
                return None
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    # Screenshots taken for speed use the Up filter only: byte-wise sums without carry, done
    # on whole rows at once as big integers. The other filters take the slow path.
    low = int.from_bytes(b"\x7f" * stride, "big")
    high = int.from_bytes(b"\x80" * stride, "big")
    rows, prev = [], bytes(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = raw[y * (stride + 1) + 1 : (y + 1) * (stride + 1)]
        if f == 2:
            a, b = int.from_bytes(line, "big"), int.from_bytes(prev, "big")
            line = (((a & low) + (b & low)) ^ ((a ^ b) & high)).to_bytes(stride, "big")
        elif f != 0:
            line = unfilter_slowly(f, bytearray(line), prev, channels)
        rows.append(line)
        prev = line
    return rows


def unfilter_slowly(f, line, prev, channels):
    for i in range(len(line)):
        a = line[i - channels] if i >= channels else 0
        b = prev[i]
        c = prev[i - channels] if i >= channels else 0
        if f == 1:
            pred = a
        elif f == 2:
            pred = b
        elif f == 3:
            pred = (a + b) >> 1
        else:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
        line[i] = (line[i] + pred) & 255
    return bytes(line)


def pixel_hint(a, b):
    """Says which rows of two screenshots differ; the PNG bytes already showed that some do."""
    try:
        ra, rb = png_rows(a), png_rows(b)
    except (zlib.error, struct.error, IndexError):
        ra = rb = None
    if ra is None or rb is None:
        return "screenshots differ"
    if len(ra) != len(rb):
        return f"screenshot heights {len(ra)} vs {len(rb)}"
    differing = [y for y in range(len(ra)) if ra[y] != rb[y]]
    if not differing:
        return None  # same pixels, different encoding: not a difference
    return f"{len(differing)} pixel rows differ, first y={differing[0]}, last y={differing[-1]}"


def text_hint(a, b):
    if a is None or b is None:
        return f"body {'missing' if a is None else 'present'} vs {'missing' if b is None else 'present'}"
    i = 0
    while i < min(len(a), len(b)) and a[i] == b[i]:
        i += 1
    return f"at char {i}: {a[max(0, i - 15) : i + 15]!r} vs {b[max(0, i - 15) : i + 15]!r}"


def boxes_hint(ma, mb):
    a, b = ma["boxes"], mb["boxes"]
    i = 0
    while i < min(len(a), len(b)) and a[i] == b[i]:
        i += 1

    def show(m, boxes):
        if i >= len(boxes):
            return "(end)"
        label = m.get("labels", {}).get(str(i))
        return boxes[i] + (" " + label if label else "")

    return f"{len(a)} vs {len(b)} boxes, first difference #{i}: {show(ma, a)} vs {show(mb, b)}"


def compare(x, y):
    """Returns the list of (aspect, hint) in which two renderings differ."""
    (ma, sa), (mb, sb) = x, y
    diffs = []
    if ma["compatMode"] != mb["compatMode"]:
        diffs.append(("compatMode", f"{ma['compatMode']} vs {mb['compatMode']}"))
    if ma["text"] != mb["text"]:
        diffs.append(("text", text_hint(ma["text"], mb["text"])))
    if ma["boxes"] != mb["boxes"]:
        diffs.append(("boxes", boxes_hint(ma, mb)))
    if sa != sb:
        hint = pixel_hint(sa, sb)
        if hint:
            diffs.append(("pixels", hint))
    return diffs


def find_pages(root):
    pages = []
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files):
            if name.lower().endswith((".html", ".htm")):
                pages.append(os.path.relpath(os.path.join(folder, name), root))
    return pages


def file_url(path):
    return "file://" + quote(os.path.abspath(path))


def run_optimizer(binary, flags, input_root, out):
    """Runs the optimizer over the whole input tree (other files copied, so relative links
    resolve the same) and returns the root of the mirrored tree."""
    root = os.path.abspath(input_root).rstrip("/")
    command = [binary, *flags, "-r", "-o", out, root]
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    mirrored = os.path.join(out, os.path.basename(root))
    if not os.path.isdir(mirrored):
        sys.exit(
            f"render check: {shlex.join(command)} wrote no output tree (exit status "
            f"{done.returncode}):\n{done.stdout.decode(errors='replace')[-2000:]}"
        )
    return mirrored


def find_chromium(given):
    for candidate in [given, os.environ.get("CHROMIUM"), "chromium", "chromium-browser"]:
        if candidate and shutil.which(candidate):
            return shutil.which(candidate)
    sys.exit("render check: chromium not found (apt-get install -y chromium)")


def main():
    parser = argparse.ArgumentParser(
        description="Compares how input pages and optimized pages render in headless Chromium.",
        epilog="Pass optimizer flags with '=': --flags='--safe --banner'. --flags and -o may "
        "be repeated: each names one output tree, all compared with one rendering of the input.",
    )
    parser.add_argument("input_root", help="root of the original pages")
    parser.add_argument("pages", nargs="*", help="page paths relative to the roots (default: "
                        "every *.html and *.htm under input_root)")
    parser.add_argument("-o", "--output-root", action="append", default=[],
                        help="root of optimized pages")
    parser.add_argument("--sveltery", metavar="BINARY",
                        help="run this optimizer with -r over input_root into a temporary tree, "
                        "once per --flags")
    parser.add_argument("--flags", action="append",
                        help="optimizer options for --sveltery (default: none)")
    parser.add_argument("--expect-fail", action="store_true",
                        help="succeed only when every page FAILS (shows that the check can fail)")
    parser.add_argument("--once", action="store_true",
                        help="render the input once only (faster, no UNSTABLE detection)")
    parser.add_argument("--timeout", type=float, default=120.0,
                        help="seconds for one rendering of a page (120)")
    parser.add_argument("-j", "--jobs", type=int, default=min(2, os.cpu_count() or 1),
                        help="browsers working at once (default: 2, or 1 on one core)")
    parser.add_argument("--chromium", help="browser executable (default: chromium on PATH)")
    parser.add_argument("--artifacts", metavar="DIR",
                        help="keep screenshots and measurements of pages that do not pass here")
    parser.add_argument("--browser-log", metavar="FILE", help="append the browser's own output here")
    parser.add_argument("--json", metavar="FILE", help="write the counts of each output tree here")
    parser.add_argument("-q", "--quiet", action="store_true",
                        help="print only pages that do not give the expected result")
    args = parser.parse_intermixed_args()
    if args.flags and not args.sveltery:
        parser.error("--flags needs --sveltery")
    if not args.sveltery and not args.output_root:
        parser.error("give -o OUTPUT_ROOT or --sveltery BINARY")

    started = time.monotonic()
    chromium = find_chromium(args.chromium)
    workdir = tempfile.mkdtemp(prefix="render-check-")
    try:
        variants = [(root, root) for root in args.output_root]
        if args.sveltery:
            for n, flags in enumerate(args.flags or [""]):
                tree = run_optimizer(args.sveltery, shlex.split(flags), args.input_root,
                                     os.path.join(workdir, str(n)))
                variants.append((flags or "(no options)", tree))
        pages = args.pages or find_pages(args.input_root)
        if not pages:
            sys.exit(f"render check: no pages under {args.input_root}")
        counts = check_pages(args, chromium, pages, variants)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)

    wanted = "FAIL" if args.expect_fail else "PASS"
    failed = False
    for (label, _), tally in zip(variants, counts):
        summary = ", ".join(f"{tally[k]} {k}" for k in STATUSES)
        name = f" [{label}]" if len(variants) > 1 else ""
        print(f"render check{name}: {len(pages)} pages, {summary}")
        failed |= tally[wanted] != len(pages)
    print(f"render check: {time.monotonic() - started:.1f} s")
    if args.json:
        with open(args.json, "w") as f:
            json.dump([{"label": label, **tally} for (label, _), tally in zip(variants, counts)], f)
    if failed:
        print(f"render check: expected every page to {wanted}")
        return 1
    return 0


STATUSES = ("PASS", "FAIL", "UNSTABLE", "ERROR")


def check_pages(args, chromium, pages, variants):
    """Checks the pages with args.jobs browsers at once and prints the results in page order.
    Returns the counts of each variant."""
    counts = [dict.fromkeys(STATUSES, 0) for _ in variants]
    results = [None] * len(pages)
    lock = threading.Lock()
    state = {"next": 0, "printed": 0}
    expected = "FAIL" if args.expect_fail else "PASS"

    def report():
        # Called with the lock held: prints every finished result that is next in order.
        while state["printed"] < len(pages) and results[state["printed"]]:
            page = pages[state["printed"]]
            for n, (status, detail) in enumerate(results[state["printed"]]):
                counts[n][status] += 1
                if args.quiet and status == expected:
                    continue
                label = f" [{variants[n][0]}]" if len(variants) > 1 else ""
                print(f"{status:8} {page}{label}{'  ' + detail if detail else ''}", flush=True)
            state["printed"] += 1

    def worker():
        browser = tab = None
        try:
            while True:
                with lock:
                    index = state["next"]
                    state["next"] += 1
                if index >= len(pages):
                    return
                page = pages[index]
                renders = None
                try:
                    if browser is None:
                        browser = Browser(chromium, args.browser_log)
                        tab = Tab(browser)
                    outcome, renders = check_page(args, tab, page, variants)
                except (BrowserError, PageTimeout, OSError) as e:
                    outcome = [("ERROR", f"browser failed: {e or 'timeout'}")] * len(variants)
                if browser and any(s == "ERROR" for s, _ in outcome):
                    if not browser.alive() or any(d == "timeout" for _, d in outcome):
                        # A dead or stuck browser is replaced; the next page starts afresh.
                        browser.close()
                        browser = tab = None
                if args.artifacts and renders and any(s != "PASS" for s, _ in outcome):
                    keep_artifacts(args.artifacts, page, renders)
                with lock:
                    results[index] = outcome
                    report()
        finally:
            if browser:
                browser.close()

    threads = [threading.Thread(target=worker) for _ in range(max(1, min(args.jobs, len(pages))))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return counts


def check_page(args, tab, page, variants):
    """Returns the (status, detail) of each variant and the renderings made."""
    renders = {}
    try:
        renders["input"] = tab.render(file_url(os.path.join(args.input_root, page)), args.timeout)
        if not args.once:
            renders["input-again"] = tab.render(file_url(os.path.join(args.input_root, page)),
                                                args.timeout)
            unstable = compare(renders["input"], renders["input-again"])
            if unstable:
                aspects = "; ".join(f"{k}: {h}" for k, h in unstable)
                return [("UNSTABLE", f"input renders differently twice: {aspects}")] * len(
                    variants), renders
    except PageTimeout:
        return [("ERROR", "timeout")] * len(variants), renders
    except BrowserError as e:
        return [("ERROR", str(e))] * len(variants), renders
    outcome = []
    for n, (_, root) in enumerate(variants):
        result = os.path.join(root, page)
        if not os.path.isfile(result):
            outcome.append(("ERROR", f"no output page {result}"))
            continue
        name = "output" if len(variants) == 1 else f"output{n + 1}"
        try:
            renders[name] = tab.render(file_url(result), args.timeout)
        except PageTimeout:
            outcome.append(("ERROR", "timeout"))
            continue
        except BrowserError as e:
            outcome.append(("ERROR", str(e)))
            continue
        diffs = compare(renders["input"], renders[name])
        if diffs:
            outcome.append(("FAIL", " | ".join(f"{k}: {h}" for k, h in diffs)))
        else:
            outcome.append(("PASS", ""))
    return outcome, renders


def keep_artifacts(folder, page, renders):
    base = os.path.join(folder, page)
    os.makedirs(os.path.dirname(base), exist_ok=True)
    for name, (measured, shot) in renders.items():
        with open(f"{base}.{name}.png", "wb") as f:
            f.write(shot)
        with open(f"{base}.{name}.json", "w") as f:
            json.dump(measured, f, indent=1)


if __name__ == "__main__":
    sys.exit(main())
