// The code check: every style sheet and script under the given folders goes through the minifier,
// and an independent parser (acorn for scripts, css-tree for style sheets) reads the input and the
// output. The two syntax trees must be equal, positions aside.
//
//   node code_check.mjs --minify MINIFY_CODE [--pages SVELTERY] DIR...
//
// With --pages, every .html page under the folders also goes through `SVELTERY --safe`, and each
// <style>, <script> and style="" of the output is checked against the same one of the input.
// Exit status 1 on any difference.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { extname, join, relative } from 'node:path';

// CODE_CHECK_MODULES: the npm prefix the parsers were installed into.
const require = createRequire(process.env.CODE_CHECK_MODULES
  ? join(process.env.CODE_CHECK_MODULES, 'here.js') : import.meta.url);
const acorn = require('acorn');
const csstree = require('css-tree');

const args = process.argv.slice(2);
let minify = null;
let sveltery = null;
const roots = [];
for (let k = 0; k < args.length; ++k) {
  if (args[k] === '--minify') minify = args[++k];
  else if (args[k] === '--pages') sveltery = args[++k];
  else roots.push(args[k]);
}
if (!minify || roots.length === 0) {
  console.error('usage: code_check.mjs --minify MINIFY_CODE [--pages SVELTERY] DIR...');
  process.exit(2);
}

const scratch = mkdtempSync(join(tmpdir(), 'code-check-'));
let checked = 0;
let kept = 0;
const failures = [];

function walk(dir, out) {
  for (const name of readdirSync(dir).sort()) {
    const path = join(dir, name);
    if (statSync(path).isDirectory()) walk(path, out);
    else out.push(path);
  }
  return out;
}

// ---- scripts ----

function stripPositions(key, value) {
  if (key === 'start' || key === 'end' || key === 'loc' || key === 'range') return undefined;
  if (typeof value === 'bigint') return `${value}n`;
  return value;
}

function parseScript(text, sourceType) {
  try {
    const ast = acorn.parse(text, { ecmaVersion: 'latest', sourceType, allowHashBang: true });
    return JSON.stringify(ast, stripPositions);
  } catch (e) {
    return null;
  }
}

// Returns a message when the trees differ.
function compareScripts(input, output, module) {
  const types = module ? ['module'] : ['script', 'module'];
  for (const type of types) {
    const before = parseScript(input, type);
    if (before === null) continue;
    const after = parseScript(output, type);
    if (after === null) return `the output does not parse as a ${type}`;
    if (before !== after) return `the ${type} syntax trees differ`;
    return null;
  }
  // Input no parser reads: it must come out as it went in.
  return input === output ? null : 'input that does not parse was changed';
}

// ---- style sheets ----

// What css-tree leaves raw (nested rules, which it does not read) is read again as a style sheet;
// past that, as its tokens without white space and comments, each with its kind: a string that
// became a name is a difference even where the two are spelled alike.
function rawOutline(text, depth) {
  if (depth < 3 && /[{}]/.test(text)) return ['raw {', ...sheetOutline(text, 'stylesheet', depth + 1), '}'];
  const tokens = [];
  csstree.tokenize(text, (type, start, end) => {
    if (type !== csstree.tokenTypes.WhiteSpace && type !== csstree.tokenTypes.Comment)
      tokens.push(`${type}:${text.slice(start, end)}`);
  });
  return [`raw ${tokens.join(' ')}`];
}

// Rules, selectors, at-rule preludes and declarations in order, each as css-tree writes it.
function sheetOutline(text, context, depth = 0) {
  const ast = csstree.parse(text, { context, parseCustomProperty: false });
  const outline = [];
  csstree.walk(ast, {
    enter(node) {
      if (node.type === 'Rule') outline.push(`rule ${csstree.generate(node.prelude)} {`);
      else if (node.type === 'Atrule')
        outline.push(`@${node.name} ${node.prelude ? csstree.generate(node.prelude) : ''}` +
          (node.block ? ' {' : ';'));
      else if (node.type === 'Declaration') {
        const value = node.value.type === 'Raw' ? node.value.value.trim()
          : csstree.generate(node.value);
        outline.push(`decl ${node.property}: ${value}${node.important ? ' !' + node.important : ''}`);
      } else if (node.type === 'Raw') outline.push(...rawOutline(node.value, depth));
    },
    leave(node) {
      if ((node.type === 'Rule' || node.type === 'Atrule') && node.block) outline.push('}');
    },
  });
  return outline;
}

function compareSheets(input, output, context) {
  const before = sheetOutline(input, context);
  const after = sheetOutline(output, context);
  if (before.length !== after.length) return `${before.length} items become ${after.length}`;
  for (let k = 0; k < before.length; ++k)
    if (before[k] !== after[k]) return `"${before[k]}" becomes "${after[k]}"`;
  return null;
}

// ---- files ----

// A file named *.script.js is a classic script on purpose (HTML-like comments).
const kinds = { '.css': 'css', '.js': 'js', '.mjs': 'mjs' };

function checkFile(path, root) {
  let kind = kinds[extname(path).toLowerCase()];
  if (!kind) return;
  if (path.endsWith('.script.js')) kind = 'script';
  const out = join(scratch, 'out');
  let status = 0;
  try {
    execFileSync(minify, [kind, path, out], { stdio: ['ignore', 'ignore', 'inherit'] });
  } catch (e) {
    status = e.status;
    if (status !== 3) throw e;
  }
  const input = readFileSync(path, 'latin1');
  const output = readFileSync(out, 'latin1');
  if (output.length > input.length) failures.push(`${relative(root, path)}: longer than its input`);
  if (status === 3) ++kept;
  const utf8In = readFileSync(path, 'utf8');
  const utf8Out = readFileSync(out, 'utf8');
  const problem = kind === 'css' ? compareSheets(utf8In, utf8Out, 'stylesheet')
    : compareScripts(utf8In, utf8Out, kind === 'mjs');
  ++checked;
  if (problem) failures.push(`${relative(root, path)}: ${problem}`);
}

// ---- inline code of pages ----

// The raw-text contents of <style> and <script> elements and the style attributes, in order, with
// what decides their kind. Good enough for pages whose elements the optimizer left in place.
function inlineCode(html) {
  const found = [];
  const element = /<(style|script)\b([^>]*)>([\s\S]*?)<\/\1\s*>/gi;
  let m;
  while ((m = element.exec(html)) !== null)
    found.push({ tag: m[1].toLowerCase(), attrs: m[2], text: m[3] });
  const attribute = /\sstyle\s*=\s*("([^"]*)"|'([^']*)'|([^\s"'=<>`]+))/gi;
  while ((m = attribute.exec(html.replace(element, ''))) !== null)
    found.push({ tag: 'attr', attrs: '', text: m[2] ?? m[3] ?? m[4] });
  return found;
}

function scriptKind(attrs) {
  const type = /\stype\s*=\s*["']?([^"'\s>]*)/i.exec(attrs);
  if (!type) return 'js';
  const t = type[1].toLowerCase();
  if (t === 'module') return 'mjs';
  if (t === '' || /^(text|application)\/(x-)?(java|ecma)script$/.test(t)) return 'js';
  return null;
}

const decodeEntities = (s) => s.replace(/&quot;/g, '"').replace(/&#39;/g, "'")
  .replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&amp;/g, '&');

function checkPages(root) {
  const out = join(scratch, 'pages');
  rmSync(out, { recursive: true, force: true });
  try {
    execFileSync(sveltery, ['--safe', '--no-banner', '-r', '-o', out, root], { stdio: 'ignore' });
  } catch (e) {
    if (e.status !== 1) throw e;  // a completed run exits with 1
  }
  const base = root.replace(/\/+$/, '').split('/').pop();
  for (const page of walk(root, [])) {
    if (!/\.html?$/i.test(page)) continue;
    const rel = relative(root, page);
    const before = inlineCode(readFileSync(page, 'utf8'));
    const after = inlineCode(readFileSync(join(out, base, rel), 'utf8'));
    if (before.length !== after.length) {
      failures.push(`${rel}: ${before.length} inline pieces become ${after.length}`);
      continue;
    }
    for (let k = 0; k < before.length; ++k) {
      const a = before[k];
      const b = after[k];
      let problem = null;
      if (a.tag === 'style') problem = compareSheets(a.text, b.text, 'stylesheet');
      else if (a.tag === 'attr')
        problem = compareSheets(decodeEntities(a.text), decodeEntities(b.text), 'declarationList');
      else {
        const kind = scriptKind(a.attrs);
        if (kind === null) problem = a.text === b.text ? null : 'a non-script type was changed';
        else problem = compareScripts(a.text, b.text, kind === 'mjs');
      }
      ++checked;
      if (problem) failures.push(`${rel}: inline ${a.tag} #${k}: ${problem}`);
    }
  }
}

try {
  for (const root of roots) {
    for (const path of walk(root, [])) checkFile(path, root);
    if (sveltery) checkPages(root);
  }
} finally {
  rmSync(scratch, { recursive: true, force: true });
}

for (const f of failures) console.log(`DIFFERS ${f}`);
console.log(`code check: ${checked} checked, ${kept} kept as they were, ${failures.length} differ`);
process.exit(failures.length ? 1 : 0);
