#!/usr/bin/env python3
"""Builds a tree of pages that load style sheets and scripts, for the render check.

Every style sheet under CODE gets a page that links it over a body holding the usual elements and
class names; every classic script gets a page that loads it and prints, sorted, the globals it
added with their type and number of own keys, so a script that no longer parses, or defines
something else, renders other text. A few pages also use the libraries they load (jQuery,
underscore, d3, CodeMirror). The code is copied under OUT/code, the pages lie in OUT/sheets and
OUT/scripts. Modules are left out: a page opened from a file: URL cannot import them.

Usage: code_tree.py CODE OUT [RENDER_CHECK_ARGUMENT...]
With arguments after OUT, render_check.py then runs over OUT with them, and its status is this
script's.
"""
import html
import os
import re
import shutil
import subprocess
import sys

BODY = """<header class="navbar navbar-dark bg-dark container"><a class="navbar-brand" href="#">Brand</a>
<ul class="nav"><li class="nav-item active"><a class="nav-link" href="#">Home</a></li>
<li class="nav-item"><a class="nav-link" href="#">Docs</a></li></ul></header>
<main class="container document"><div class="row"><div class="col-md-8 body">
<h1>Heading one <small>small</small></h1>
<p class="lead">A lead paragraph with <a href="#">a link</a>, <code>code</code>, <kbd>kbd</kbd>,
<em>emphasis</em>, <strong>strong</strong> and <abbr title="abbreviation">abbr</abbr>.</p>
<div class="alert alert-warning admonition note"><p class="admonition-title">Note</p>
<p>An alert, an admonition.</p></div>
<h2 id="two">Heading two <a class="headerlink" href="#two">&para;</a></h2>
<ul><li>One</li><li>Two<ul><li>Two and a half</li></ul></li></ul>
<ol class="arabic simple"><li>First</li><li>Second</li></ol>
<dl class="field-list"><dt>Term</dt><dd>Definition</dd></dl>
<blockquote class="blockquote"><p>A quotation.</p></blockquote>
<table class="table table-striped docutils"><thead><tr><th>Name</th><th>Value</th></tr></thead>
<tbody><tr><td>a</td><td>1</td></tr><tr class="row-odd"><td>b</td><td>2</td></tr></tbody></table>
<pre class="hljs highlight"><code class="hljs"><span class="hljs-keyword">function</span> <span class="hljs-title">f</span>(<span class="hljs-params">a</span>) {
  <span class="hljs-keyword">return</span> a + <span class="hljs-number">1</span>; <span class="hljs-comment">// one</span>
}
<span class="hljs-string">"string"</span> <span class="hljs-built_in">console</span> <span class="hljs-attr">attr</span> <span class="hljs-tag">&lt;tag&gt;</span></code></pre>
<div class="CodeMirror cm-s-default"><pre class="CodeMirror-line"><span class="cm-keyword">var</span> <span class="cm-def">x</span> = <span class="cm-number">1</span>;</pre></div>
<form class="form-inline"><label for="i">Label</label>
<input id="i" class="form-control" type="text" value="input">
<select class="custom-select"><option>Option</option></select>
<button class="btn btn-primary" type="button">Button</button>
<button class="btn btn-outline-secondary btn-sm" type="button">Small</button></form>
<p><span class="badge badge-info">badge</span> <i class="fa fa-check fa-fw"></i> icon
<span class="sr-only">hidden</span></p>
<div class="card"><div class="card-body"><h5 class="card-title">Card</h5>
<p class="card-text">Text in a card.</p></div></div>
<p><sup>sup</sup> <sub>sub</sub> <mark>mark</mark> <small>small</small> <del>del</del> <ins>ins</ins></p>
<hr><figure><figcaption>A caption</figcaption></figure>
</div><aside class="col-md-4 sphinxsidebar"><h3>Sidebar</h3><p>Beside the body.</p></aside></div>
</main><footer class="footer"><p>Footer</p></footer>
"""

# Prints the globals that `scripts` add, one line each: name, type and how many own keys.
GLOBALS = """<pre id="globals"></pre>
<script>var sveltery_before = Object.getOwnPropertyNames(window);</script>
{scripts}
<script>
(function () {{
  var seen = {{}};
  sveltery_before.forEach(function (n) {{ seen[n] = true; }});
  var lines = Object.getOwnPropertyNames(window).filter(function (n) {{
    return !seen[n] && n !== "sveltery_before";
  }}).sort().map(function (n) {{
    var v = window[n];
    var keys = v && (typeof v === "object" || typeof v === "function") ? Object.keys(v).length : "-";
    return n + " " + typeof v + " " + keys;
  }});
  document.getElementById("globals").textContent = lines.join("\\n") || "(none)";
}})();
</script>
"""

# Pages that use what they load; each is made only when all its scripts are there.
USES = [
    ("jquery-use", ["jquery/jquery.js"], """<ul id="out"><li>one</li><li>two</li></ul>
<script>
$("#out").append($("<li>").text("added by jQuery " + $.fn.jquery));
$("#out li").css({ color: "rgb(200, 0, 0)", "padding-left": "12px" }).filter(":even").hide();
$("<p>").addClass("made").html("<b>" + $.map([1, 2, 3], function (n) { return n * n; }).join(" ") + "</b>").appendTo("body");
</script>"""),
    ("underscore-use", ["underscore/underscore.js"], """<p id="out"></p>
<script>
document.getElementById("out").textContent = _.template("<%= a %> and <%- b %>")({ a: "one", b: "<two>" }) +
  " " + _.chain([3, 1, 2]).sortBy(_.identity).map(function (n) { return n * 10; }).value().join(",") +
  " " + _.escape("a & b") + " " + _.range(5).join("");
</script>"""),
    ("d3-use", ["d3/d3.js"], """<div id="out"></div>
<script>
var svg = d3.select("#out").append("svg").attr("width", 300).attr("height", 120);
svg.selectAll("rect").data([10, 40, 80, 20]).enter().append("rect")
  .attr("x", function (d, i) { return i * 60; }).attr("y", function (d) { return 100 - d; })
  .attr("width", 50).attr("height", function (d) { return d; }).attr("fill", "steelblue");
d3.select("#out").append("p").text(d3.range(4).map(function (n) { return n * 2; }).join(" "));
</script>"""),
    ("codemirror-use", ["codemirror/lib/codemirror.js", "codemirror/mode/javascript/javascript.js",
                        "codemirror/mode/xml/xml.js", "codemirror/mode/css/css.js",
                        "codemirror/mode/htmlmixed/htmlmixed.js"], """<div id="out"></div>
<script>
var cm = CodeMirror(document.getElementById("out"), {
  value: "<p class=x>html</p>\\n<style>a { color: red }</style>\\n<script>var f = (a) => /re/g.test(a);<\\/script>\\n",
  mode: "htmlmixed", lineNumbers: true, cursorBlinkRate: -1, readOnly: "nocursor"
});
</script>"""),
]


def is_module(text):
    return re.search(r"(^|[;}])\s*(import(\s+[\w{*]|\s*[\"'{*])|export\s*([{*]|(default|const|let|var|function|class)\b))",
                     text, re.M) is not None


def page(title, head, body):
    return (f"<!doctype html>\n<html>\n<head><meta charset=\"utf-8\"><title>{html.escape(title)}"
            f"</title>\n{head}</head>\n<body>\n{body}</body>\n</html>\n")


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    code, out, check = sys.argv[1], sys.argv[2], sys.argv[3:]
    shutil.rmtree(out, ignore_errors=True)
    shutil.copytree(code, os.path.join(out, "code"))
    os.makedirs(os.path.join(out, "sheets"))
    os.makedirs(os.path.join(out, "scripts"))
    files = []
    for folder, dirs, names in os.walk(code):
        dirs.sort()
        files += [os.path.relpath(os.path.join(folder, n), code) for n in sorted(names)]

    def write(kind, path, text):
        name = re.sub(r"[^A-Za-z0-9.-]+", "-", path)
        with open(os.path.join(out, kind, name + ".html"), "w", encoding="utf-8") as f:
            f.write(text)

    scripts = {}
    for path in files:
        url = "../code/" + path
        if path.endswith(".css"):
            write("sheets", path, page(path, f"<link rel=\"stylesheet\" href=\"{url}\">\n", BODY))
        elif path.endswith(".js"):
            with open(os.path.join(code, path), encoding="utf-8", errors="replace") as f:
                if is_module(f.read()):
                    continue
            scripts[path] = url
            tag = f"<script src=\"{url}\"></script>"
            write("scripts", path, page(path, "", GLOBALS.format(scripts=tag)))
    for name, needs, body in USES:
        found = [next((p for p in scripts if p.endswith(n)), None) for n in needs]
        if None in found:
            continue
        tags = "".join(f"<script src=\"{scripts[p]}\"></script>\n" for p in found)
        links = "".join(f"<link rel=\"stylesheet\" href=\"{'../code/' + p}\">\n"
                        for p in files if p.endswith("codemirror/lib/codemirror.css"))
        write("scripts", name, page(name, links, tags + body))
    if check:
        here = os.path.dirname(os.path.abspath(__file__))
        sys.exit(subprocess.call([sys.executable, os.path.join(here, "render_check.py"), out,
                                  *check]))


if __name__ == "__main__":
    main()
