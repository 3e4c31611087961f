#!/usr/bin/env node
// Hostile parameters through the real executable: every method of docs/methods.md, every
// parameter it documents (members of image objects, search options and rectangles too),
// each set in turn to a value a careless or malicious extension could send, plus a
// request without params, with params an array and with params a string.
//
//   node tests/hostile/param_matrix.mjs --host build/windows/bin/quorvane-host.exe [--only m1,m2] [--verbose]
//
// Each request must get one well-formed reply (an object echoing the id, with exactly one
// of `result` or `error.message` text) within a bound; the host must not exit while the
// matrix runs, and must end with status 0 when its input closes. The host runs in a Wine
// prefix made for the run under the test's own folder, with its current folder deep inside
// a sandbox, so that the relative paths among the values ("", "../..\..") land in the
// sandbox; the file methods' own paths point into the sandbox too. What lies beside the
// sandbox and the prefix's user folders are compared before and after every method.
import { spawn, spawnSync } from 'node:child_process';
import { lstatSync, mkdirSync, mkdtempSync, readdirSync, readlinkSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { isDeepStrictEqual } from 'node:util';
import {
  SAMPLE_HOME, makeSampleHome, mapPaths, parameterTree, readConventions, readReference,
} from '../../docs/check_method_reference.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const repo = resolve(here, '../..');
const arg = (name) => {
  const i = process.argv.indexOf(name);
  return i > 0 ? process.argv[i + 1] : undefined;
};
const exe = arg('--host');
if (!exe) {
  console.error('usage: param_matrix.mjs --host quorvane-host.exe [--only m1,m2] [--verbose]');
  process.exit(2);
}
const only = arg('--only')?.split(',');
const verbose = process.argv.includes('--verbose') || !!process.env.VERBOSE;

// A request that outlives this is a hang. The slowest honest case is typing the long
// string (200,000 key events); everything else answers in well under a second.
const REPLY_BOUND_MS = Number(process.env.QUORVANE_MATRIX_BOUND_MS ?? 60000);
// Integers JavaScript cannot hold exactly, written into the request text as they are.
const RAW = { '\u0000two-to-the-64\u0000': '18446744073709551616', '\u0000largest-int64\u0000': '9223372036854775807' };
const [BIG, INT64_MAX] = Object.keys(RAW);
const deep = (levels) => {
  let v = [];
  for (let i = 1; i < levels; ++i) v = [v];
  return v;
};
export const HOSTILE = [
  ['null', null], ['true', true], ['0', 0], ['-1', -1], ['1.5', 1.5], ['1e308', 1e308],
  ['2^64', BIG], ['2^63-1', INT64_MAX], ['""', ''], ['100000 chars', 'a'.repeat(100000)], ['"../..\\.."', '../..\\..'],
  ['[]', []], ['{}', {}], ['100 levels', deep(100)],
];
const encode = (value) => Object.entries(RAW).reduce((text, [mark, raw]) => text.replaceAll(JSON.stringify(mark), raw), JSON.stringify(value));

// Cases that fail for a known reason being fixed elsewhere: run with a short bound, counted
// apart, and reported when they start to pass. None today.
const KNOWN = {};
const KNOWN_BOUND_MS = 5000;

// ---- the places the host could reach ---------------------------------------------------

// path -> "size mtime" of every entry under a folder (a link by its target, not followed).
function snapshot(folder, skip = () => false) {
  const seen = new Map();
  const walk = (dir) => {
    let entries;
    try {
      entries = readdirSync(dir, { withFileTypes: true });
    } catch {
      return;
    }
    for (const entry of entries) {
      const path = join(dir, entry.name);
      if (skip(path)) continue;
      try {
        const st = lstatSync(path, { bigint: true });
        seen.set(path, st.isSymbolicLink() ? `-> ${readlinkSync(path)}` : st.isDirectory() ? 'folder' : `${st.size} ${st.mtimeNs}`);
        if (st.isDirectory()) walk(path);
      } catch {
        continue;
      }
    }
  };
  walk(folder);
  return seen;
}
function differences(before, after) {
  const out = [];
  for (const [path, what] of after) if (before.get(path) !== what) out.push(`${before.has(path) ? 'changed' : 'created'} ${path}`);
  for (const path of before.keys()) if (!after.has(path)) out.push(`removed ${path}`);
  return out;
}

// ---- the host --------------------------------------------------------------------------

class Host {
  constructor(cwd, env) {
    this.child = spawn(join(repo, 'cmake/wine-run.sh'), [resolve(exe)], {
      cwd, env, stdio: ['pipe', 'pipe', 'pipe'], detached: true,
    });
    this.buffer = Buffer.alloc(0);
    this.stderr = '';
    this.exit = null;
    this.waiter = null;
    this.child.stdout.on('data', (d) => {
      this.buffer = Buffer.concat([this.buffer, d]);
      this.#drain();
    });
    this.child.stderr.on('data', (d) => { this.stderr += d; });
    this.child.stdin.on('error', () => {});
    this.child.on('exit', (code, signal) => {
      this.exit = { code, signal };
      this.#settle({ exited: this.exit });
    });
  }
  #settle(outcome) {
    const w = this.waiter;
    this.waiter = null;
    if (w) w(outcome);
  }
  #drain() {
    if (!this.waiter || this.buffer.length < 4) return;
    const n = this.buffer.readUInt32LE(0);
    if (this.buffer.length < 4 + n) return;
    const payload = this.buffer.subarray(4, 4 + n);
    this.buffer = this.buffer.subarray(4 + n);
    this.#settle({ payload });
  }
  // Resolves to {payload}, {exited}, or {timedOut} after boundMs.
  send(text, boundMs) {
    if (this.exit) return Promise.resolve({ exited: this.exit });
    const body = Buffer.from(text, 'utf8');
    const header = Buffer.alloc(4);
    header.writeUInt32LE(body.length);
    return new Promise((done) => {
      const timer = setTimeout(() => this.#settle({ timedOut: true }), boundMs);
      this.waiter = (outcome) => {
        clearTimeout(timer);
        done(outcome);
      };
      this.child.stdin.write(Buffer.concat([header, body]));
      this.#drain();
    });
  }
  kill() {
    if (!this.exit) {
      try {
        process.kill(-this.child.pid, 'SIGKILL');
      } catch {}
    }
    return this.exited();
  }
  exited(boundMs = 15000) {
    if (this.exit) return Promise.resolve(this.exit);
    return new Promise((done) => {
      const timer = setTimeout(() => done(null), boundMs);
      this.child.on('exit', (code, signal) => {
        clearTimeout(timer);
        done({ code, signal });
      });
    });
  }
}

// What is wrong with a reply to the request with this id, or '' when nothing is.
export function replyProblem(payload, id) {  // id as JSON.parse reads the one sent
  let text;
  try {
    text = new TextDecoder('utf-8', { fatal: true }).decode(payload);
  } catch {
    return 'the reply is not UTF-8';
  }
  let reply;
  try {
    reply = JSON.parse(text);
  } catch {
    return `the reply is not JSON: ${text.slice(0, 200)}`;
  }
  if (reply === null || typeof reply !== 'object' || Array.isArray(reply)) return `the reply is not an object: ${text.slice(0, 200)}`;
  if (!isDeepStrictEqual(reply.id, id)) return `the reply echoes id ${JSON.stringify(reply.id)?.slice(0, 100)}, not ${JSON.stringify(id).slice(0, 100)}`;
  const extra = Object.keys(reply).filter((k) => !['id', 'result', 'error'].includes(k));
  if (extra.length) return `unexpected members ${extra.join(', ')}`;
  if (('result' in reply) === ('error' in reply)) return 'not exactly one of result and error';
  if ('error' in reply) {
    const e = reply.error;
    if (e === null || typeof e !== 'object' || Array.isArray(e) || Object.keys(e).join() !== 'message' || typeof e.message !== 'string')
      return `malformed error ${text.slice(0, 200)}`;
  }
  return '';
}

// The judge of replies must reject what it exists to catch.
function judgeRejectsBadReplies() {
  const bad = [
    [Buffer.from([0x7b, 0x22, 0xff, 0x22, 0x7d]), 'not UTF-8'],
    [Buffer.from('{"id":7,"result":'), 'cut short'],
    [Buffer.from('[{"id":7,"result":1}]'), 'an array'],
    [Buffer.from('{"id":8,"result":1}'), 'another id'],
    [Buffer.from('{"id":"7","result":1}'), 'the id as text'],
    [Buffer.from('{"id":7}'), 'neither result nor error'],
    [Buffer.from('{"error":{"message":"x"},"id":7,"result":1}'), 'both'],
    [Buffer.from('{"error":"x","id":7}'), 'error as text'],
    [Buffer.from('{"error":{"message":3},"id":7}'), 'message not text'],
    [Buffer.from('{"error":{"code":1,"message":"x"},"id":7}'), 'error with more members'],
    [Buffer.from('{"id":7,"log":"x","result":1}'), 'another member'],
  ];
  const good = ['{"id":7,"result":null}', '{"error":{"message":""},"id":7}'];
  const wrong = [
    ...bad.filter(([payload]) => replyProblem(payload, 7) === '').map(([, what]) => `accepts a reply that is ${what}`),
    ...good.filter((text) => replyProblem(Buffer.from(text), 7) !== '').map((text) => `rejects ${text}`),
  ];
  if (wrong.length) throw new Error(`the reply check is broken: ${wrong.join('; ')}`);
}

// ---- the cases -------------------------------------------------------------------------

// Every member path of a parameter tree, parents before their members.
function paths(tree, prefix = []) {
  const out = [];
  for (const [name, members] of Object.entries(tree)) {
    out.push([...prefix, name]);
    if (members) out.push(...paths(members, [...prefix, name]));
  }
  return out;
}
function setAt(params, path, value) {
  let node = params;
  for (const key of path.slice(0, -1)) {
    if (node[key] === null || typeof node[key] !== 'object' || Array.isArray(node[key])) node[key] = {};
    node = node[key];
  }
  node[path.at(-1)] = value;
}

// A 64x64 tile of noise on the X root window: a pattern cut from it is on screen at once,
// so the waiting methods end on their first look however long their time-out.
function noiseOnScreen(folder, env) {
  const side = 64;
  const rgb = Buffer.alloc(side * side * 3);
  let seed = 12345;
  for (let i = 0; i < rgb.length; ++i) {
    seed = (seed * 1103515245 + 12345) >>> 0;
    rgb[i] = seed >>> 24;
  }
  const file = join(folder, 'noise.ppm');
  writeFileSync(file, Buffer.concat([Buffer.from(`P6\n${side} ${side}\n255\n`), rgb]));
  // display sets the root window's background and exits with status 1 even so.
  const shown = spawnSync('display', ['-window', 'root', file], { env, stdio: 'ignore', timeout: 20000 });
  const w = 12;
  const cut = Buffer.alloc(w * w * 3);
  for (let row = 0; row < w; ++row) rgb.copy(cut, row * w * 3, ((20 + row) * side + 20) * 3, ((20 + row) * side + 20 + w) * 3);
  const absent = Buffer.from(cut).reverse();
  return {
    shown: !shown.error,
    pattern: { data: cut.toString('base64'), width: w, height: w },
    absent: { data: absent.toString('base64'), width: w, height: w },
  };
}

async function main() {
  judgeRejectsBadReplies();
  const started = Date.now();
  const root = mkdtempSync(join(tmpdir(), 'quorvane-matrix-'));
  const prefix = join(root, 'prefix');
  const box = join(root, 'box');
  const cwd = join(box, 'c1', 'c2', 'c3', 'c4');  // "../..\.." from here is box/c1
  const home = join(box, 'ana');
  const guard = join(root, 'guard');
  mkdirSync(guard);
  writeFileSync(join(guard, 'keep.txt'), 'the host must not reach this\n');
  // With its own HOME the prefix's user folders are plain folders of its own, not links to
  // the desktop and documents folders of whoever runs the test.
  const fakeHome = join(root, 'home');
  mkdirSync(fakeHome);
  const env = {
    ...process.env, WINEPREFIX: prefix, HOME: fakeHome, XDG_CONFIG_HOME: join(fakeHome, '.config'),
    DISPLAY: process.env.DISPLAY || process.env.QUORVANE_DISPLAY || ':71',  // the one cmake/wine-run.sh brings up
  };
  const findings = [];
  let requests = 0;
  let host = null;
  const stopServer = () => spawnSync('wineserver', ['-k'], { env, stdio: 'ignore', timeout: 30000 });
  try {
    const init = spawnSync(join(repo, 'cmake/wine-run.sh'), ['cmd', '/c', 'exit', '0'], { env, stdio: 'ignore', timeout: 300000 });
    if (init.status !== 0) throw new Error(`the throw-away Wine prefix could not be made (${init.status})`);
    console.log(`prefix ready in ${((Date.now() - started) / 1000).toFixed(1)} s`);
    const driveC = join(prefix, 'drive_c');
    // The capture file every capture without a path overwrites is the host's documented
    // output; anything else on drive C: is not (the system folder aside: Wine's own).
    const watched = () => new Map([
      ...snapshot(driveC, (p) => p.endsWith('quorvane_desktop_capture.png') || p === join(driveC, 'windows')),
      ...snapshot(root, (p) => p.startsWith(box) || p.startsWith(prefix) || p.startsWith(fakeHome)),
    ]);
    const noise = noiseOnScreen(root, env);
    if (!noise.shown) console.log('note: no picture on the root window (ImageMagick display failed); waits take their full time-out');

    const homeWin = `Z:${home.replaceAll('/', '\\')}`;
    const conventions = readConventions();
    const sections = readReference().filter((s) => !only || only.includes(s.name));
    const start = () => {
      mkdirSync(cwd, { recursive: true });
      return new Host(cwd, env);
    };
    host = start();
    // The first request of a prefix's first program finishes the prefix's user set-up.
    await host.send(encode({ id: 0, method: 'get_version', params: {} }), REPLY_BOUND_MS);
    const methodCases = (section) => {
      const example = JSON.parse(section.request);
      const baseline = mapPaths(example.params, SAMPLE_HOME, homeWin);
      // The screen searches look for what is on screen, within a corner of it unless the
      // case changes the area (a whole-screen search costs half a second under Wine), and
      // search_desktop writes its capture, when asked, into the sandbox.
      const corner = { x: 0, y: 0, width: 160, height: 120 };
      if (baseline.pattern && !baseline.image) {
        baseline.pattern = noise.pattern;
        baseline.options = { ...baseline.options, limitSearchArea: true, searchArea: corner };
      }
      if (section.name === 'find_color_regions') baseline.searchArea = corner;
      if (section.name === 'search_desktop') baseline.options.capturePath = `${homeWin}\\Pictures\\capture.png`;
      const cases = [
        ['params missing', { method: section.name }],
        ['params an array', { method: section.name, params: [baseline] }],
        ['params a string', { method: section.name, params: 'path' }],
      ];
      for (const path of paths(parameterTree(section.parameters, conventions))) {
        for (const [label, value] of HOSTILE) {
          const params = structuredClone(baseline);
          // Writing a capture costs a PNG of the whole screen: only where its path is at stake.
          if (path.at(-1) === 'capturePath') params.options.saveCaptureOnDisk = true;
          // A wait that finds its pattern at once, or has no time left, never pauses: the
          // interval needs a pattern that is not there and a short time-out.
          if (path[0] === 'intervalMs') Object.assign(params, { pattern: noise.absent, timeoutMs: 250 });
          setAt(params, path, value);
          cases.push([`${path.join('.')} = ${label}`, { method: section.name, params }]);
        }
      }
      return cases;
    };
    // The request itself: any id comes back as it was sent; any method name is answered.
    const envelopeCases = () => HOSTILE.flatMap(([label, value]) => [
      [`id = ${label}`, { id: value, method: 'get_version', params: {} }],
      [`method = ${label}`, { method: value, params: {} }],
    ]);
    const groups = [
      ...(only && !only.includes('envelope') ? [] : [{ name: 'envelope', cases: envelopeCases() }]),
      ...sections.map((section) => ({ name: section.name, cases: methodCases(section) })),
    ];
    for (const { name, cases } of groups) {
      rmSync(home, { recursive: true, force: true });
      mkdirSync(home, { recursive: true });
      makeSampleHome(home);
      mkdirSync(cwd, { recursive: true });
      const before = watched();
      const methodStart = Date.now();
      let slowest = { ms: 0, label: '' };
      for (const [label, request] of cases) {
        ++requests;
        if (!('id' in request)) request.id = requests;
        const text = encode(request);
        const t0 = Date.now();
        const where = `${name}: ${label}`;
        const bound = where in KNOWN ? KNOWN_BOUND_MS : REPLY_BOUND_MS;
        const outcome = await host.send(text, bound);
        const ms = Date.now() - t0;
        if (ms > slowest.ms) slowest = { ms, label };
        let problem = '';
        if (outcome.timedOut) problem = `no reply within ${bound} ms`;
        else if (outcome.exited) problem = `the host exited (status ${outcome.exited.code}${outcome.exited.signal ? `, ${outcome.exited.signal}` : ''})`;
        else problem = replyProblem(outcome.payload, JSON.parse(text).id);
        if (where in KNOWN) {
          console.log(problem ? `known: ${where}: ${problem} (${KNOWN[where]})` : `known case now passes, take it off the list: ${where}`);
        }
        if (problem) {
          if (!(where in KNOWN)) {
            findings.push(`${where}: ${problem}`);
            console.log(`FAIL: ${where}: ${problem}`);
          }
          if (outcome.timedOut || outcome.exited) {
            if (host.stderr) console.log(`  host's standard error: ${host.stderr.slice(0, 2000)}`);
            await host.kill();
            host = start();
          }
        } else if (verbose) {
          console.log(`ok ${ms} ms ${where}: ${outcome.payload.toString('utf8').slice(0, 160)}`);
        }
        mkdirSync(cwd, { recursive: true });  // a deleted or moved sandbox folder is put back
      }
      const changed = differences(before, watched());
      for (const c of changed) {
        findings.push(`${name}: outside the sandbox: ${c}`);
        console.log(`FAIL: ${name}: outside the sandbox: ${c}`);
      }
      console.log(`${name}: ${cases.length} requests in ${((Date.now() - methodStart) / 1000).toFixed(1)} s` +
        ` (slowest ${slowest.ms} ms: ${slowest.label})`);
    }
    host.child.stdin.end();
    const end = await host.exited(15000);
    if (!end || end.code !== 0) findings.push(`the host did not end with status 0 when its input closed: ${JSON.stringify(end)}`);
    if (host.stderr.trim()) console.log(`note: the host's standard error: ${host.stderr.slice(0, 2000)}`);
    host = null;
  } finally {
    if (host) await host.kill();
    stopServer();
    rmSync(root, { recursive: true, force: true });
  }
  console.log(`${requests} requests, ${findings.length} finding(s), ${((Date.now() - started) / 1000).toFixed(1)} s in all`);
  for (const f of findings) console.log(`  ${f}`);
  process.exit(findings.length ? 1 : 0);
}

await main();
