"""Seeded generator of malformed pages for the tree check: page(seed) is the same page for the
same seed on every machine. A page is a run of tokens: elements with optional end tags, blocks
and formatting elements, tables, select, template, SVG and MathML, text, stray and misnested end
tags, comments, and white space between all of them. End tags follow the open elements most of
the time, so that pages are nested as real ones are, and are left out, swapped or stray often."""

import random

OPTIONAL_END = ["li", "dt", "dd", "p", "option", "optgroup", "tr", "td", "th", "thead", "tbody",
                "tfoot", "colgroup", "caption", "rb", "rt", "rp", "rtc", "head", "body", "html"]
BLOCKS = ["div", "section", "ul", "ol", "dl", "menu", "address", "article", "aside",
          "blockquote", "center", "details", "summary", "dialog", "dir", "fieldset", "figure",
          "figcaption", "footer", "header", "hgroup", "main", "nav", "h1", "h2", "h6", "pre",
          "listing", "form", "table", "button", "search", "legend", "object", "applet",
          "marquee", "ruby"]
FORMATTING = ["a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike",
              "strong", "tt", "u"]
INLINE = ["span", "abbr", "label", "q", "sub", "sup", "var", "kbd", "mark", "cite", "bdi"]
VOID = ["br", "hr", "img", "input", "wbr", "area", "col", "embed", "meta", "link", "source",
        "track", "param", "base", "keygen", "image"]
SPECIAL = ["select", "template", "svg", "math", "textarea", "title", "style", "script", "xmp",
           "noscript", "iframe", "plaintext", "frameset", "frame", "noframes", "noembed",
           "foreignObject", "desc", "mi", "mo", "mtext", "annotation-xml", "path", "g",
           "datalist", "hgroup", "isindex"]
WORDS = ["a", "text", "x y", "word", "&amp;", "&nbsp;", "1", "z", "é"]
SPACES = [" ", "\n", "  ", "\n  ", "\t", " \n\t ", "\r\n"]
ATTRS = ["", "", "", " class=c", " id=i", ' title="t t"', " type=hidden", ' color="red"',
         ' encoding="text/html"', " selected", " href=#"]


def page(seed):
    rng = random.Random(seed)
    out = []
    stack = []
    if rng.random() < 0.6:
        out.append("<!DOCTYPE html>")
    if rng.random() < 0.4:
        out.append(rng.choice(SPACES))
    names = OPTIONAL_END * 3 + BLOCKS + FORMATTING * 2 + INLINE + VOID + SPECIAL
    for _ in range(rng.randint(3, 40)):
        r = rng.random()
        if r < 0.30:
            name = rng.choice(names)
            if name in ("plaintext",) and rng.random() < 0.8:
                continue
            out.append(f"<{name}{rng.choice(ATTRS)}{'/' if rng.random() < 0.05 else ''}>")
            if name in ("textarea", "title", "style", "script", "xmp", "iframe", "noembed",
                        "noframes", "noscript") and rng.random() < 0.8:
                out.append(rng.choice(WORDS + ["<b>x</b>", " a  b ", "\n"]) + f"</{name}>")
            elif name not in VOID:
                stack.append(name)
        elif r < 0.55:
            # An end tag: mostly the innermost open element, sometimes one further out, or stray.
            if stack and rng.random() < 0.75:
                k = len(stack) - 1 if rng.random() < 0.7 else rng.randrange(len(stack))
                name = stack[k]
                if rng.random() < 0.75:
                    del stack[k:]
            else:
                name = rng.choice(names)
            out.append(f"</{name}>")
        elif r < 0.80:
            out.append(rng.choice(SPACES))
        elif r < 0.95:
            out.append(rng.choice(WORDS))
            if rng.random() < 0.3:
                out.append(rng.choice(SPACES) + rng.choice(WORDS))
        else:
            out.append(rng.choice(["<!-- c -->", "<!---->", "<?x?>", "<!x>"]))
    while stack and rng.random() < 0.5:
        out.append(f"</{stack.pop()}>")
    if rng.random() < 0.5:
        out.append(rng.choice(SPACES))
    return "".join(out)
