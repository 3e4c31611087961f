#!/usr/bin/env node
// Keeps docs/methods.md true to the host.
//
//   node docs/check_method_reference.mjs                       the reference against the source
//   node docs/check_method_reference.mjs --host quorvane-host.exe   ...and every example against the host
//
// Without --host: the documented methods must be exactly the names in the host's method
// table (host/src/main/dispatch.cpp), each once, and each section
// must describe parameters, result and errors and give one example request and reply that
// belong together. With --host the examples are sent, in order, to the real host under
// Wine in one session, with C:\Users\ana mapped to a folder of test files; each reply is
// compared as the section's marker says (exact, shape or known).
import { spawn } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const repo = resolve(here, '..');
export const SAMPLE_HOME = 'C:\\Users\\ana';

let passed = 0;
let failed = 0;
function check(name, condition, detail = '') {
  if (condition) passed++;
  else failed++;
  if (!condition || process.env.VERBOSE) console.log(`${condition ? 'PASS' : 'FAIL'}: ${name}${!condition && detail ? ` (${detail})` : ''}`);
  return condition;
}
const show = (v) => JSON.stringify(v);

// ---- the reference ---------------------------------------------------------------------

export function parseReference(text) {
  const sections = [];
  const parts = text.split(/^### /m).slice(1);
  for (const part of parts) {
    const body = part.split(/^## /m)[0];
    const name = /^`([^`]+)`/.exec(body)?.[1] ?? null;
    const marker = /\*\*Example\*\*\s*<!--\s*check:\s*(\w+)\s*-->/.exec(body);
    const blocks = [...body.matchAll(/```json\n([\s\S]*?)\n```/g)].map((m) => m[1]);
    sections.push({
      name,
      hasParameters: /\*\*Parameters\*\*/.test(body),
      parameters: /\*\*Parameters\*\*[^:]*:([\s\S]*?)(?:\n\n|$)/.exec(body)?.[1].trim() ?? '',
      hasResult: /\*\*Result\*\*/.test(body),
      hasErrors: /\*\*Errors\*\*/.test(body),
      mode: marker?.[1] ?? null,
      request: blocks[0] ?? null,
      reply: blocks[1] ?? null,
      blockCount: blocks.length,
    });
  }
  return sections;
}

// The documented parameters of a section as a tree: name -> members (null for a plain
// value). Names are the backticked words that a description, a list or a pair introduces
// ("`path` (string", "`x`, `y`: …", "`minWidth` / `minHeight`"); what a description starts
// with gives the members: an image object, the search options, or a literal member list
// such as `{"x","y","width","height"}`. Members a method adds to its options ("which here
// also takes …") go under `options`.
export function parameterTree(text, conventions = readConventions()) {
  const tree = {};
  const [own, extra] = text.split(/which here also takes/);
  const add = (target, source) => {
    const named = /`([A-Za-z]\w*)`(?=\s*(?:\(|,|:|\/|\s+or\s+`))|(?<=`\s*\/\s*)`([A-Za-z]\w*)`/g;
    for (const m of source.matchAll(named)) {
      const name = m[1] ?? m[2];
      const after = source.slice(m.index + m[0].length).replace(/^\s*/, '');
      let members = null;
      if (/^\(image object/.test(after)) members = conventions.image;
      else if (/^\(search options/.test(after)) members = conventions.options;
      else {
        const literal = /^\(`\{((?:"\w+"\s*,?\s*)+)\}`/.exec(after);
        if (literal) members = Object.fromEntries([...literal[1].matchAll(/"(\w+)"/g)].map((k) => [k[1], null]));
      }
      target[name] = members ? structuredClone(members) : (target[name] ?? null);
    }
  };
  add(tree, own);
  if (extra !== undefined && tree.options) add(tree.options, extra.split(/\.\s/)[0]);
  return tree;
}

// The members of the two shared parameter kinds, from the Conventions of the reference.
export function readConventions(text = readFileSync(join(here, 'methods.md'), 'utf8')) {
  const bullet = (title) => new RegExp(`^- \\*\\*${title}\\*\\*([\\s\\S]*?)(?=^- |^#)`, 'm').exec(text)?.[1] ?? '';
  const imageShape = /`\{([^`]*)\}`/.exec(bullet('Image object'))?.[1] ?? '';
  const image = Object.fromEntries([...imageShape.matchAll(/"(\w+)"/g)].map((k) => [k[1], null]));
  const options = parameterTree(bullet('Search options'), { image, options: {} });
  return { image, options };
}

export function sourceMethodNames() {
  const names = [];
  const roots = [join(repo, 'host/src')];
  const files = [];
  const walk = (dir) => {
    for (const entry of readdirSync(dir, { withFileTypes: true })) {
      const path = join(dir, entry.name);
      if (entry.isDirectory() && entry.name !== 'tests') walk(path);
      else if (entry.isFile() && entry.name.endsWith('.cpp')) files.push(path);
    }
  };
  roots.forEach(walk);
  for (const file of files) {
    const text = readFileSync(file, 'utf8');
    if (!text.includes('MethodEntry')) continue;
    for (const m of text.matchAll(/(?:MethodEntry\s*)?\{\s*"([a-z_]+)"\s*,\s*&?[\w:]+\s*\}/g)) names.push(m[1]);
  }
  return names;
}

function parseJson(text) {
  try {
    return JSON.parse(text);
  } catch {
    return undefined;
  }
}

function checkStructure(sections) {
  const documented = sections.map((s) => s.name);
  const inSource = sourceMethodNames();
  const sorted = (list) => [...list].sort();
  check('every method of the host tables is documented, and nothing else',
    show(sorted(new Set(documented))) === show(sorted(new Set(inSource))),
    `undocumented ${show(inSource.filter((n) => !documented.includes(n)))}, not in the host ${show(documented.filter((n) => !inSource.includes(n)))}`);
  check('each method is documented once', new Set(documented).size === documented.length);
  check('the host tables name each method once', new Set(inSource).size === inSource.length, show(inSource));
  for (const s of sections) {
    const request = parseJson(s.request);
    const reply = parseJson(s.reply);
    check(`${s.name}: parameters, result and errors are described`, s.hasParameters && s.hasResult && s.hasErrors);
    check(`${s.name}: one example, marked exact, shape or known`,
      s.blockCount === 2 && ['exact', 'shape', 'known'].includes(s.mode), `${s.blockCount} blocks, marker ${s.mode}`);
    check(`${s.name}: the example request calls it`,
      request?.method === s.name && request.id !== undefined && typeof request.params === 'object', s.request);
    const replyOk = reply !== undefined && show(reply?.id) === show(request?.id) &&
      (('result' in reply) !== ('error' in reply)) &&
      (!('error' in reply) || typeof reply.error?.message === 'string');
    check(`${s.name}: the example reply answers that request`, replyOk, s.reply);
    const undocumented = [];
    const walk = (value, tree, prefix) => {
      for (const [key, member] of Object.entries(value ?? {})) {
        if (!tree || !(key in tree)) undocumented.push(prefix + key);
        else if (tree[key] && member && typeof member === 'object') walk(member, tree[key], `${prefix}${key}.`);
      }
    };
    walk(request?.params, parameterTree(s.parameters), '');
    check(`${s.name}: the example passes only documented parameters`, undocumented.length === 0, show(undocumented));
  }
}

// ---- the examples against the host ------------------------------------------------------

function sameShape(doc, actual) {
  const kind = (v) => (v === null ? 'null' : Array.isArray(v) ? 'array' : typeof v);
  if (kind(doc) !== kind(actual)) return false;
  if (kind(doc) === 'array') return doc.length === 0 || actual.length === 0 || sameShape(doc[0], actual[0]);
  if (kind(doc) === 'object') {
    const a = Object.keys(doc).sort();
    const b = Object.keys(actual).sort();
    return show(a) === show(b) && a.every((k) => sameShape(doc[k], actual[k]));
  }
  return true;
}

const errorCode = (message) => /^([a-z][a-z_]*): /.exec(message)?.[1] ?? message.split(' ')[0];

function compare(mode, doc, actual) {
  if (actual === undefined) return 'no reply';
  if (actual.error?.message?.startsWith('Unknown method: ')) return `the host does not know it: ${actual.error.message}`;
  if (mode === 'known') return '';
  if (mode === 'exact') return show(doc) === show(actual) ? '' : `got ${show(actual)}`;
  if ('error' in doc !== 'error' in actual) return `got ${show(actual)}`;
  if ('error' in doc) return errorCode(doc.error.message) === errorCode(actual.error.message) ? '' : `got ${show(actual)}`;
  return sameShape(doc.result, actual.result) ? '' : `got ${show(actual)}`;
}

// Replaces the sample home folder in every string of a value.
export function mapPaths(value, from, to) {
  if (typeof value === 'string') return value.startsWith(from) ? to + value.slice(from.length) : value;
  if (Array.isArray(value)) return value.map((v) => mapPaths(v, from, to));
  if (value && typeof value === 'object') return Object.fromEntries(Object.entries(value).map(([k, v]) => [k, mapPaths(v, from, to)]));
  return value;
}

// The sample user's files that the examples read, list and change.
export function makeSampleHome(root) {
  const documents = join(root, 'Documents');
  mkdirSync(join(documents, 'Archive'), { recursive: true });
  mkdirSync(join(root, 'Pictures'));
  mkdirSync(join(root, 'Desktop'));
  writeFileSync(join(documents, 'notes.txt'), 'Shopping list\r\nmilk\r\n');
  writeFileSync(join(documents, 'photo.PNG'), Buffer.from('89504e470d0a1a0a', 'hex'));
  writeFileSync(join(documents, 'report.pdf'), '%PDF-1.4\n');
  writeFileSync(join(documents, 'Archive', 'old.txt'), 'old\n');
}

class HostSession {
  constructor(exe) {
    this.child = spawn(join(repo, 'cmake/wine-run.sh'), [exe], { stdio: ['pipe', 'pipe', 'inherit'] });
    this.buffer = Buffer.alloc(0);
    this.waiters = [];
    this.child.stdout.on('data', (d) => {
      this.buffer = Buffer.concat([this.buffer, d]);
      this.#drain();
    });
    this.child.on('exit', () => {
      for (const w of this.waiters) w(undefined);
      this.waiters = [];
    });
  }
  #drain() {
    while (this.waiters.length && this.buffer.length >= 4) {
      const n = this.buffer.readUInt32LE(0);
      if (this.buffer.length < 4 + n) return;
      const payload = this.buffer.subarray(4, 4 + n).toString('utf8');
      this.buffer = this.buffer.subarray(4 + n);
      this.waiters.shift()(JSON.parse(payload));
    }
  }
  request(value) {
    const body = Buffer.from(JSON.stringify(value), 'utf8');
    const header = Buffer.alloc(4);
    header.writeUInt32LE(body.length);
    this.child.stdin.write(Buffer.concat([header, body]));
    return new Promise((resolve) => {
      this.waiters.push(resolve);
      this.#drain();
    });
  }
  close() {
    this.child.stdin.end();
    return new Promise((resolve) => this.child.on('exit', resolve));
  }
}

async function checkExamples(sections, exe) {
  const root = mkdtempSync(join(tmpdir(), 'quorvane-docs-'));
  const home = join(root, 'ana');
  mkdirSync(home);
  makeSampleHome(home);
  const homeWin = `Z:${home.replaceAll('/', '\\')}`;
  const session = new HostSession(exe);
  try {
    for (const s of sections) {
      const request = parseJson(s.request);
      const doc = parseJson(s.reply);
      if (!request || !doc) continue;
      const actual = await session.request(mapPaths(request, SAMPLE_HOME, homeWin));
      const problem = compare(s.mode, mapPaths(doc, SAMPLE_HOME, homeWin), actual);
      check(`${s.name}: the host answers the example (${s.mode})`, problem === '', problem.slice(0, 400));
    }
  } finally {
    await session.close();
    rmSync(root, { recursive: true, force: true });
  }
}

export const readReference = () => parseReference(readFileSync(join(here, 'methods.md'), 'utf8'));

// Imported by other checks for its reading of the reference; run only when started itself.
if (process.argv[1] && import.meta.url === pathToFileURL(resolve(process.argv[1])).href) {
  const hostArg = process.argv.indexOf('--host');
  const sections = readReference();
  checkStructure(sections);
  if (hostArg > 0) await checkExamples(sections, resolve(process.argv[hostArg + 1]));
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}
