#!/usr/bin/env python3
"""Sizes and render-check results of the markup profiles over a tree of pages, as a Markdown table.

Usage: bench/render_table.py [--sveltery BIN] [--no-render] [TREE]
(default: build/dev/src/sveltery over ../shared/corpus/html). For each profile the optimizer runs
once with -r over the tree; the bytes of the *.html and *.htm files are summed on both sides, and
tests/render/render_check.py compares all output trees against one rendering of each input.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
PROFILES = [("default", []), ("`--safe --banner`", ["--safe", "--banner"]), ("`--safe`", ["--safe"])]


def page_bytes(root):
    total = count = 0
    for folder, _, files in os.walk(root):
        for name in files:
            if name.lower().endswith((".html", ".htm")):
                total += os.path.getsize(os.path.join(folder, name))
                count += 1
    return total, count


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("tree", nargs="?", default=os.path.join(SOURCE, "..", "shared", "corpus", "html"))
    parser.add_argument("--sveltery", default=os.path.join(SOURCE, "build", "dev", "src", "sveltery"))
    parser.add_argument("--no-render", action="store_true", help="sizes only")
    parser.add_argument("-j", "--jobs", default="2", help="browsers at once for the render check")
    args = parser.parse_args()

    tree = os.path.abspath(args.tree).rstrip("/")
    input_bytes, pages = page_bytes(tree)
    with tempfile.TemporaryDirectory(prefix="render-table-") as scratch:
        rows, outputs = [], []
        for n, (name, flags) in enumerate(PROFILES):
            out = os.path.join(scratch, str(n))
            subprocess.run([args.sveltery, *flags, "-r", "-o", out, tree], stdout=subprocess.DEVNULL)
            mirrored = os.path.join(out, os.path.basename(tree))
            output_bytes, _ = page_bytes(mirrored)
            rows.append([name, input_bytes, output_bytes])
            outputs.append(mirrored)
        results = None
        if not args.no_render:
            counts = os.path.join(scratch, "counts.json")
            command = [sys.executable, os.path.join(SOURCE, "tests", "render", "render_check.py"),
                       tree, "--once", "--quiet", "-j", args.jobs, "--json", counts]
            for mirrored in outputs:
                command += ["-o", mirrored]
            subprocess.run(command, stdout=sys.stderr)
            with open(counts) as f:
                results = json.load(f)

    print(f"{pages} pages of `{os.path.normpath(args.tree)}`:\n")
    print("| Profile | Input bytes | Output bytes | Saving | Render check |")
    print("|---|---:|---:|---:|---|")
    for n, (name, before, after) in enumerate(rows):
        saving = 100.0 * (before - after) / before if before else 0.0
        if results:
            r = results[n]
            check = f"{r['PASS']} of {pages} pages pass"
            others = [f"{r[k]} {k}" for k in ("UNSTABLE", "ERROR") if r[k]]
            if others:
                check += f" ({', '.join(others)})"
        else:
            check = "not run"
        print(f"| {name} | {before:,} | {after:,} | {saving:.1f} % | {check} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
