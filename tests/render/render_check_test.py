#!/usr/bin/env python3
"""Tests of the render check itself: it must see every visible change, in the aspect where it
shows, and accept changes that cannot render. Needs chromium."""

import os
import random
import struct
import sys
import tempfile
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import render_check  # noqa: E402

# name, input page, output page, aspects that must differ
CASES = [
    ("identical", "<!DOCTYPE html><p>a b</p>", "<!DOCTYPE html><p>a b</p>", []),
    ("white space between blocks dropped",
     "<!DOCTYPE html>\n<div>a</div>\n  <div>b</div>\n", "<!DOCTYPE html><div>a</div><div>b</div>", []),
    ("comment and optional end tags dropped",
     "<!DOCTYPE html><ul><li>a</li><!-- x --><li>b</li></ul>", "<!DOCTYPE html><ul><li>a<li>b</ul>", []),
    ("title white space collapsed",
     "<!DOCTYPE html><title> a  b </title><p>x", "<!DOCTYPE html><title>a b</title><p>x", []),
    ("DOCTYPE dropped", "<!DOCTYPE html><p>x</p>", "<p>x</p>", ["compatMode", "boxes", "pixels"]),
    ("line break after a full stop lost",
     "<!DOCTYPE html><p>end.\nNext</p>", "<!DOCTYPE html><p>end.Next</p>", ["text", "boxes", "pixels"]),
    ("textarea white space collapsed",
     "<!DOCTYPE html><textarea>a   b</textarea>", "<!DOCTYPE html><textarea>a b</textarea>", ["pixels"]),
    ("colour changed", "<!DOCTYPE html><p>x</p>", "<!DOCTYPE html><p style='color:red'>x</p>", ["pixels"]),
    ("change below the first screen",
     "<!DOCTYPE html><p style='margin-top:2000px'>a  b.\nc</p>",
     "<!DOCTYPE html><p style='margin-top:2000px'>a b.c</p>", ["text", "boxes"]),
    ("text inside a srcdoc frame", "<!DOCTYPE html><iframe srcdoc='<p>a&#10;b'></iframe>",
     "<!DOCTYPE html><iframe srcdoc='<p>ab'></iframe>", ["boxes", "pixels"]),
    ("external style sheet", "<!DOCTYPE html><link rel=stylesheet href=s.css><p class=x>a</p>",
     "<!DOCTYPE html><link rel=stylesheet href=t.css><p class=x>a</p>", ["pixels"]),
    ("network refused", "<!DOCTYPE html><link rel=stylesheet href=s.css><p class=x>a</p>",
     "<!DOCTYPE html><link rel=stylesheet href='http://127.0.0.1:9/s.css'><p class=x>a</p>",
     ["pixels"]),
    ("page that navigates away is measured itself",
     "<!DOCTYPE html><meta http-equiv=refresh content='0; s.css'><p>a</p>",
     "<!DOCTYPE html><meta http-equiv=refresh content='0; t.css'><p>a</p>", []),
]

STYLES = {"s.css": ".x { color: blue }", "t.css": ".x { color: green }"}


class RenderCheckTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.browser = render_check.Browser(render_check.find_chromium(None), None)
        cls.tab = render_check.Tab(cls.browser)
        cls.folder = tempfile.TemporaryDirectory(prefix="render-check-test-")

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.folder.cleanup()

    def render(self, name, text):
        path = os.path.join(self.folder.name, name)
        with open(path, "w") as f:
            f.write(text)
        return self.tab.render(render_check.file_url(path), 30)

    def test_sees_exactly_the_aspects_that_differ(self):
        for name, style in STYLES.items():
            with open(os.path.join(self.folder.name, name), "w") as f:
                f.write(style)
        for n, (name, before, after, aspects) in enumerate(CASES):
            with self.subTest(name):
                diffs = render_check.compare(self.render(f"{n}.in.html", before),
                                             self.render(f"{n}.out.html", after))
                self.assertEqual([aspect for aspect, _ in diffs], aspects, diffs)

    def test_a_page_renders_the_same_twice(self):
        page = "<!DOCTYPE html><p>Some <b>text</b>, <input value='x  y'> and <img alt=z></p>"
        # The second name needs quoting in its URL, which must still count as the page's own.
        self.assertEqual(render_check.compare(self.render("a.html", page),
                                              self.render("b c%d\u00e9#?.html", page)), [])


def encode_png(rows, width, channels, filters):
    """Encodes rows of pixel bytes with the given PNG filter per row."""
    raw, prev = b"", bytes(width * channels)
    for row, f in zip(rows, filters):
        out = bytearray()
        for i, value in enumerate(row):
            a = row[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            p = a + b - c
            paeth = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else (
                b if abs(p - b) <= abs(p - c) else c)
            out.append((value - [0, a, b, (a + b) >> 1, paeth][f]) & 255)
        raw += bytes([f]) + out
        prev = row

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    colour = {3: 2, 4: 6}[channels]
    header = struct.pack(">IIBBBBB", width, len(rows), 8, colour, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw)) + \
        chunk(b"IEND", b"")


class PngTest(unittest.TestCase):
    def test_every_filter_decodes(self):
        rng = random.Random(7)
        for channels in (3, 4):
            with self.subTest(channels=channels):
                rows = [bytes(rng.randrange(256) for _ in range(5 * channels)) for _ in range(10)]
                png = encode_png(rows, 5, channels, [y % 5 for y in range(10)])
                self.assertEqual(render_check.png_rows(png), rows)

    def test_same_pixels_in_another_encoding_are_no_difference(self):
        rows = [bytes([y * 10 + x for x in range(9)]) for y in range(4)]
        self.assertIsNone(render_check.pixel_hint(encode_png(rows, 3, 3, [0] * 4),
                                                  encode_png(rows, 3, 3, [4] * 4)))
        changed = rows[:2] + [bytes(9)] + rows[3:]
        self.assertEqual(render_check.pixel_hint(encode_png(rows, 3, 3, [2] * 4),
                                                 encode_png(changed, 3, 3, [2] * 4)),
                         "1 pixel rows differ, first y=2, last y=2")


if __name__ == "__main__":
    unittest.main()
