#!/usr/bin/python3
"""Tree check: an optimized page must build the same document tree as its original.

Parses the input and the output page with html5lib (the HTML standard's tree builder, Debian's
python3-html5lib) and compares element names and namespaces, attributes, the parent/child
structure and the text. White space may differ only where it cannot change the tree a browser
renders: text nodes of white space alone, and a run of white space inside text, which counts as
one space (but not none). Inside pre, textarea, listing, plaintext, script, style, xmp and title
the text must be byte for byte the same. Comments may go. With --chromium, Chromium's own parser
(DOMParser, read through the DevTools protocol) judges every page too.

Pages come from a tree of files (ROOT), from a table (--table FILE, one page a line) or from the
seeded generator of malformed pages (--generate COUNT --seed N). Each batch of pages is optimized
with one run of the optimizer (--sveltery BIN, flags --flags, default '--safe --no-banner -h -p').
In PHP pages (.php, .phtml, .php3) the PHP blocks are set aside before parsing, in both pages.
"""

import argparse
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

import html5lib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import generate  # noqa: E402

HTML_NS = "http://www.w3.org/1999/xhtml"
SHORT_NS = {HTML_NS: "", "http://www.w3.org/2000/svg": "svg ",
            "http://www.w3.org/1998/Math/MathML": "math "}
VERBATIM = {"pre", "textarea", "listing", "plaintext", "script", "style", "xmp", "title"}
SPACE = " \t\n\r\f"
RUN = re.compile(r"[ \t\n\r\f]+")
PHP_EXTENSIONS = (".php", ".phtml", ".php3")


def without_php(text):
    """The page with every PHP block ("<?" to "?>" or the end) taken out."""
    out, i = [], 0
    while True:
        j = text.find("<?", i)
        if j < 0:
            out.append(text[i:])
            return "".join(out)
        out.append(text[i:j])
        k = text.find("?>", j + 2)
        if k < 0:
            return "".join(out)
        i = k + 2


# ---- Trees as lines ----

def text_line(text, verbatim, depth):
    if not verbatim:
        if text.strip(SPACE) == "":
            return None
        text = RUN.sub(" ", text)
    return "  " * depth + json.dumps(text)


def dump(node, depth, verbatim, lines):
    """node: ("doctype", name, public, system) | ("text", s) | ("element", ns, name, attrs,
    children). Comments are left out by the readers; adjacent texts are joined here."""
    kind = node[0]
    if kind == "doctype":
        lines.append(f"<!DOCTYPE {node[1]} {node[2]!r} {node[3]!r}>")
        return
    _, ns, name, attrs, children = node
    lines.append("  " * depth + f"<{SHORT_NS.get(ns, ns + ' ')}{name}>")
    for key in sorted(attrs):
        lines.append("  " * (depth + 1) + f"{key}={json.dumps(attrs[key])}")
    inner = verbatim or (ns == HTML_NS and name in VERBATIM)
    pending = []

    def flush():
        if pending:
            line = text_line("".join(pending), inner, depth + 1)
            if line is not None:
                lines.append(line)
            pending.clear()

    for child in children:
        if child[0] == "text":
            pending.append(child[1])
            continue
        flush()
        dump(child, depth + 1, inner, lines)
    flush()


def tree_lines(document):
    lines = []
    for node in document:
        dump(node, 0, False, lines) if node[0] == "element" else lines.append(
            f"<!DOCTYPE {node[1]} {node[2]!r} {node[3]!r}>")
    return lines


def from_etree(element):
    """html5lib's etree node as a tuple tree; comments dropped, text kept in order."""
    children = []
    if element.text:
        children.append(("text", element.text))
    for child in element:
        tag = child.tag
        if isinstance(tag, str):
            children.append(from_etree(child))
        if child.tail:
            children.append(("text", child.tail))
    tag = element.tag
    ns, name = (tag[1:].split("}", 1) if tag.startswith("{") else ("", tag))
    attrs = {}
    for key, value in element.attrib.items():
        if isinstance(key, str) and key.startswith("{"):
            kns, kname = key[1:].split("}", 1)
            key = f"{SHORT_NS.get(kns, kns + ' ').strip() or kns} {kname}"
            key = key.replace("http://www.w3.org/1999/xlink", "xlink").replace(
                "http://www.w3.org/XML/1998/namespace", "xml").replace(
                "http://www.w3.org/2000/xmlns/", "xmlns")
        attrs[key] = value
    return ("element", ns, name, attrs, children)


PARSER = html5lib.HTMLParser(tree=html5lib.getTreeBuilder("etree", fullTree=True),
                             namespaceHTMLElements=True)


def html5lib_tree(text):
    root = PARSER.parse(text, scripting=True)
    document = []
    for child in root:
        if child.tag == "<!DOCTYPE>":
            document.append(("doctype", child.text or "", child.get("publicId") or "",
                             child.get("systemId") or ""))
        elif isinstance(child.tag, str):
            document.append(from_etree(child))
    return tree_lines(document)


def first_difference(a, b):
    n = next((k for k in range(min(len(a), len(b))) if a[k] != b[k]), min(len(a), len(b)))
    show = lambda lines: " | ".join(lines[max(0, n - 2):n + 3])[:400]
    return f"line {n + 1}: input  {show(a)}\n      output {show(b)}"


# ---- Chromium as the second judge ----

CHROMIUM_WALK = r"""
((pages) => {
  const short = {"http://www.w3.org/1999/xhtml": "", "http://www.w3.org/2000/svg": "svg ",
                 "http://www.w3.org/1998/Math/MathML": "math "};
  const attrNs = {"http://www.w3.org/1999/xlink": "xlink ", "http://www.w3.org/XML/1998/namespace":
                  "xml ", "http://www.w3.org/2000/xmlns/": "xmlns "};
  const walk = node => {
    if (node.nodeType === 3) return ["text", node.data];
    if (node.nodeType === 10) return ["doctype", node.name, node.publicId, node.systemId];
    if (node.nodeType !== 1) return null;
    const attrs = {};
    for (const a of node.attributes)
      attrs[(a.namespaceURI ? (attrNs[a.namespaceURI] || a.namespaceURI + " ") : "") +
            a.localName] = a.value;
    const kids = node.localName === "template" && node.content ? node.content.childNodes
                                                                : node.childNodes;
    const children = [];
    for (const k of kids) { const t = walk(k); if (t) children.push(t); }
    return ["element", node.namespaceURI, node.localName, attrs, children];
  };
  return JSON.stringify(pages.map(p => {
    const doc = new DOMParser().parseFromString(p, "text/html");
    const out = [];
    for (const k of doc.childNodes) { const t = walk(k); if (t) out.push(t); }
    return out;
  }));
})
"""


class ChromiumJudge:
    def __init__(self):
        sys.path.insert(0, os.path.join(HERE, "..", "render"))
        import render_check  # the DevTools connection of the render check
        self.rc = render_check
        self.browser = render_check.Browser(render_check.find_chromium(None), None)
        self.tab = render_check.Tab(self.browser)

    def trees(self, texts):
        got = self.tab.evaluate(CHROMIUM_WALK + "(" + json.dumps(texts) + ")", 120)
        return [tree_lines([tuple(n) if n[0] == "doctype" else to_tuple(n) for n in doc])
                for doc in json.loads(got)]

    def close(self):
        self.browser.close()


def to_tuple(node):
    if node[0] == "text":
        return ("text", node[1])
    _, ns, name, attrs, children = node
    return ("element", ns, name, attrs, [to_tuple(c) for c in children])


# ---- Running the optimizer over a batch ----

def read_text(path, php):
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")  # any bytes; markup is ASCII in every encoding we read
    return without_php(text) if php else text


def optimize_tree(binary, flags, root, workdir):
    root = os.path.abspath(root).rstrip("/")
    out = os.path.join(workdir, "out")
    command = [binary, *flags, "-r", "-o", out, root]
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    mirrored = os.path.join(out, os.path.basename(root))
    if not os.path.isdir(mirrored):
        sys.exit(f"tree check: {shlex.join(command)} wrote no output tree (exit status "
                 f"{done.returncode}):\n{done.stdout.decode(errors='replace')[-2000:]}")
    return mirrored


def find_pages(root, php):
    wanted = (".html", ".htm") + (PHP_EXTENSIONS if php else ())
    pages = []
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        pages += [os.path.relpath(os.path.join(folder, n), root) for n in sorted(files)
                  if n.lower().endswith(wanted)]
    return pages


def check_batch(args, judge, root, pages, labels):
    """Optimizes root, compares every page; returns the number of pages that differ."""
    workdir = tempfile.mkdtemp(prefix="tree-check-")
    try:
        out_root = optimize_tree(args.sveltery, shlex.split(args.flags), root, workdir)
        pairs = []
        for page in pages:
            php = page.lower().endswith(PHP_EXTENSIONS)
            out_path = os.path.join(out_root, page)
            if not os.path.exists(out_path):
                print(f"DIFFER   {labels.get(page, page)}  no output")
                pairs.append(None)
                continue
            pairs.append((read_text(os.path.join(root, page), php), read_text(out_path, php)))
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    differ = sum(1 for p in pairs if p is None)
    judges = [("html5lib", lambda texts: [html5lib_tree(t) for t in texts])]
    if judge:
        judges.append(("chromium", judge.trees))
    for name, trees_of in judges:
        present = [(page, pair) for page, pair in zip(pages, pairs) if pair]
        a = trees_of([pair[0] for _, pair in present])
        b = trees_of([pair[1] for _, pair in present])
        for (page, pair), ta, tb in zip(present, a, b):
            if ta != tb:
                differ += 1
                print(f"DIFFER   {labels.get(page, page)} [{name}]\n  in:  "
                      f"{pair[0][:300]!r}\n  out: {pair[1][:300]!r}\n  {first_difference(ta, tb)}",
                      flush=True)
    return differ


def write_pages(folder, texts):
    names = []
    for n, text in enumerate(texts):
        name = f"p{n:06d}.html"
        with open(os.path.join(folder, name), "w", encoding="latin-1") as f:
            f.write(text)
        names.append(name)
    return names


def check_texts(args, judge, texts, label_of):
    folder = tempfile.mkdtemp(prefix="tree-pages-")
    try:
        root = os.path.join(folder, "pages")
        os.mkdir(root)
        names = write_pages(root, texts)
        labels = {name: label_of(n) for n, name in enumerate(names)}
        return check_batch(args, judge, root, names, labels)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("root", nargs="?", help="a tree of pages (.html, .htm; .php with --php)")
    parser.add_argument("--sveltery", required=True, metavar="BINARY")
    # Pages only (-h -p): their inline style sheets and scripts stay as they are, so that their
    # text can be compared byte for byte; the code check proves the minified ones.
    parser.add_argument("--flags", default="--safe --no-banner -h -p",
                        help="optimizer options (default: '--safe --no-banner -h -p'); pass with '='")
    parser.add_argument("--php", action="store_true", help="PHP pages under root too")
    parser.add_argument("--table", metavar="FILE", help="pages one a line ('#' lines are notes)")
    parser.add_argument("--generate", type=int, metavar="COUNT", help="generated malformed pages")
    parser.add_argument("--seed", type=int, default=1, help="first seed of the generator")
    parser.add_argument("--batch", type=int, default=2000, help="generated pages per run")
    parser.add_argument("--chromium", action="store_true", help="Chromium judges too")
    args = parser.parse_args()
    if sum(x is not None for x in (args.root, args.table, args.generate)) != 1:
        parser.error("give one of ROOT, --table FILE, --generate COUNT")

    started = time.monotonic()
    judge = ChromiumJudge() if args.chromium else None
    try:
        if args.root:
            pages = find_pages(args.root, args.php)
            if not pages:
                sys.exit(f"tree check: no pages under {args.root}")
            differ = check_batch(args, judge, args.root, pages, {})
            total = len(pages)
        elif args.table:
            with open(args.table, encoding="utf-8") as f:
                rows = [(n + 1, line.rstrip("\n")) for n, line in enumerate(f)]
            rows = [(n, line.replace("\\n", "\n").replace("\\t", "\t")) for n, line in rows
                    if line and not line.startswith("#")]
            differ = check_texts(args, judge, [t for _, t in rows],
                                 lambda k: f"{args.table}:{rows[k][0]}")
            total = len(rows)
        else:
            differ, total = 0, args.generate
            for first in range(0, args.generate, args.batch):
                seeds = range(args.seed + first, args.seed + min(args.generate, first + args.batch))
                differ += check_texts(args, judge, [generate.page(s) for s in seeds],
                                      lambda k, base=seeds[0]: f"seed {base + k}")
    finally:
        if judge:
            judge.close()
    print(f"tree check: {total} pages, {differ} differ ({time.monotonic() - started:.1f} s)")
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
