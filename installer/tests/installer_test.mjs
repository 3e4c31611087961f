#!/usr/bin/env node
// The installer under Wine, in a throwaway Wine prefix: silent install, then the files,
// the manifests and every browser's registry key are checked and the host is started
// from the path in the manifest, as a browser would; silent uninstall, then the user's
// registry and profile folder must be exactly as before. A second round installs into a
// folder with non-ASCII characters, twice, and checks that the uninstaller leaves alone
// what is not its own: a file the user added and a registration someone else changed.
//
//   node installer_test.mjs --setup quorvane-host-setup.exe --host quorvane-host.exe
//        --call quorvane-call.exe --extension-ids "id;id" --firefox-ids "id;id"
//        [--makensis makensis --cmake cmake]   (round 3: an installer built for many extensions)
import { spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { existsSync, lstatSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, relative, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const wineRun = resolve(here, '../../cmake/wine-run.sh');
const HOST_NAME = 'com.quorvane.host';
const UNINSTALL_KEY = `HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${HOST_NAME}`;
const BROWSERS = [
  { name: 'Chrome', key: 'HKCU\\Software\\Google\\Chrome', manifest: 'chromium' },
  { name: 'Edge', key: 'HKCU\\Software\\Microsoft\\Edge', manifest: 'chromium' },
  { name: 'Chromium', key: 'HKCU\\Software\\Chromium', manifest: 'chromium' },
  { name: 'Brave', key: 'HKCU\\Software\\BraveSoftware\\Brave-Browser', manifest: 'chromium' },
  { name: 'Firefox', key: 'HKCU\\Software\\Mozilla', manifest: 'firefox' },
];
const hostKey = (browser) => `${browser.key}\\NativeMessagingHosts\\${HOST_NAME}`;

const args = {};
for (let i = 2; i < process.argv.length; i += 2) args[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
for (const name of ['setup', 'host', 'call']) {
  if (!args[name]) {
    console.error(`missing --${name}`);
    process.exit(2);
  }
}
const splitIds = (text) => (text ?? '').split(';').filter((s) => s !== '');
const chromiumOrigins = splitIds(args['extension-ids']).map((id) => `chrome-extension://${id}/`);
const firefoxIds = splitIds(args['firefox-ids']);

let passed = 0;
let failed = 0;
function check(name, condition, detail = '') {
  if (condition) passed++;
  else failed++;
  console.log(`${condition ? 'PASS' : 'FAIL'}: ${name}${!condition && detail ? ` (${detail})` : ''}`);
  return condition;
}
const show = (v) => JSON.stringify(v);

if (!existsSync(args.setup)) {
  check('the installer was built', false, `no ${args.setup}: is nsis installed (scripts/setup-debian.sh)?`);
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(1);
}

// ---- Wine in a prefix of its own --------------------------------------------------------

const prefix = mkdtempSync(join(tmpdir(), 'quorvane-installer-wine-'));
// A UTF-8 locale, so non-ASCII command-line arguments reach the Windows side intact.
const env = { ...process.env, WINEPREFIX: prefix, LANG: 'C.UTF-8', LC_ALL: 'C.UTF-8' };

function wine(argv, { check: mustSucceed = true } = {}) {
  const run = spawnSync(wineRun, argv, { env, encoding: 'utf8', timeout: 300000 });
  if (mustSucceed && run.status !== 0) {
    throw new Error(`wine ${argv.join(' ')} exited with ${run.status}: ${run.stderr}`);
  }
  return run;
}

// Drive C: is the prefix's drive_c; other drives are not used here.
function unixPath(windowsPath) {
  const m = /^[Cc]:\\(.*)$/.exec(windowsPath);
  if (!m) throw new Error(`not a path on C: ${windowsPath}`);
  return join(prefix, 'drive_c', ...m[1].split('\\'));
}
const echo = (variable) => wine(['cmd', '/c', `echo %${variable}%`]).stdout.trim();

// The whole of HKEY_CURRENT_USER, as reg export writes it, and its string values by key.
function registry() {
  const file = join(prefix, 'hkcu.reg');
  wine(['reg', 'export', 'HKCU', `Z:${file}`, '/y']);
  const text = new TextDecoder('utf-16le').decode(readFileSync(file)).replace(/^\uFEFF/, '');
  rmSync(file);
  const keys = new Map();
  let current = null;
  const unescape = (v) => v.replace(/\\(.)/g, '$1');
  for (const line of text.split(/\r?\n/)) {
    const section = /^\[(.*)\]$/.exec(line);
    if (section) {
      current = {};
      keys.set(section[1].replace(/^HKEY_CURRENT_USER\\/, 'HKCU\\').toLowerCase(), current);
      continue;
    }
    const value = /^(@|"((?:[^"\\]|\\.)*)")="((?:[^"\\]|\\.)*)"$/.exec(line);
    if (current && value) current[value[1] === '@' ? '' : unescape(value[2])] = unescape(value[3]);
  }
  return { text, values: (key) => keys.get(key.toLowerCase()) ?? null, has: (key) => keys.has(key.toLowerCase()) };
}

function tree(root, skip = []) {
  const out = [];
  const walk = (dir) => {
    for (const name of readdirSync(dir).sort()) {
      const path = join(dir, name);
      if (skip.includes(path)) continue;
      out.push(relative(root, path));
      // Wine links Desktop, Documents and the like to the Unix home: not ours to walk.
      if (lstatSync(path).isDirectory()) walk(path);
    }
  };
  walk(root);
  return out;
}

function firstDifference(a, b) {
  const x = a.split('\n');
  const y = b.split('\n');
  for (let i = 0; i < Math.max(x.length, y.length); i++) {
    if (x[i] !== y[i]) return `line ${i + 1}: before ${show(x[i])}, after ${show(y[i])}`;
  }
  return '';
}

async function waitFor(condition, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  while (!condition()) {
    if (Date.now() > deadline) return false;
    await new Promise((r) => setTimeout(r, 500));
  }
  return true;
}

const builtHost = readFileSync(args.host);

// Checks one installed copy as a browser would see it.
function checkInstalled(installDir, label, allowedIds = { origins: chromiumOrigins, firefox: firefoxIds }) {
  const reg = registry();
  const dirUnix = unixPath(installDir);
  check(`${label}: the folder holds the host, two manifests and the uninstaller`,
    show(existsSync(dirUnix) ? readdirSync(dirUnix).sort() : null) ===
      show([`${HOST_NAME}.chromium.json`, `${HOST_NAME}.firefox.json`, 'quorvane-host.exe', 'uninstall.exe']),
    existsSync(dirUnix) ? show(readdirSync(dirUnix)) : `${dirUnix} missing`);
  check(`${label}: quorvane-host.exe is the one built`,
    existsSync(join(dirUnix, 'quorvane-host.exe')) && readFileSync(join(dirUnix, 'quorvane-host.exe')).equals(builtHost));

  const expectedPath = `${installDir}\\quorvane-host.exe`;
  for (const browser of BROWSERS) {
    const manifestWin = `${installDir}\\${HOST_NAME}.${browser.manifest}.json`;
    const values = reg.values(hostKey(browser));
    check(`${label}: ${browser.name} finds the manifest through ${hostKey(browser)}`,
      values?.[''] === manifestWin, show(values));
  }
  for (const kind of ['chromium', 'firefox']) {
    const file = join(dirUnix, `${HOST_NAME}.${kind}.json`);
    let manifest = null;
    let problem = '';
    try {
      manifest = JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(readFileSync(file)));
    } catch (error) {
      problem = String(error);
    }
    const allowed = kind === 'chromium' ? { allowed_origins: allowedIds.origins } : { allowed_extensions: allowedIds.firefox };
    const expected = {
      name: HOST_NAME,
      description: manifest?.description,
      path: expectedPath,
      type: 'stdio',
      ...allowed,
    };
    check(`${label}: the ${kind} manifest is UTF-8 JSON naming the absolute host path and only the configured extensions`,
      manifest !== null && typeof manifest.description === 'string' && manifest.description !== '' &&
        show(manifest) === show(expected) && /^[A-Za-z]:\\/.test(manifest.path),
      problem || `${show(manifest)} != ${show(expected)}`);
  }

  const uninstall = reg.values(UNINSTALL_KEY);
  check(`${label}: Apps & features entry with a quiet uninstall command`,
    uninstall?.DisplayName === 'Quorvane host' &&
      uninstall?.InstallLocation === installDir &&
      uninstall?.UninstallString === `"${installDir}\\uninstall.exe"` &&
      uninstall?.QuietUninstallString === `"${installDir}\\uninstall.exe" /S`,
    show(uninstall));

  // What a browser does: read the manifest named by the registry, start its path.
  const manifestPath = reg.values(hostKey(BROWSERS[0]))?.[''];
  const manifest = manifestPath && existsSync(unixPath(manifestPath)) ? JSON.parse(readFileSync(unixPath(manifestPath), 'utf8')) : null;
  const answer = manifest ? wine([resolve(args.call), '--host', manifest.path, 'get_version'], { check: false }) : null;
  check(`${label}: a stand-in browser starts the manifest's path and gets get_version answered`,
    answer?.stdout.trim() === '{"id":1,"result":"2.0.7"}', answer ? `${answer.status}: ${answer.stdout} ${answer.stderr}` : 'no manifest');
  return reg;
}

// Runs the command that Apps & features runs for a quiet uninstall, and waits for it:
// the uninstaller goes on from a copy of itself in %TEMP% (so that it can delete its own
// file) and removes its uninstall key last.
async function uninstall(reg) {
  const quiet = reg.values(UNINSTALL_KEY)?.QuietUninstallString;
  const m = /^"(.*)" \/S$/.exec(quiet ?? '');
  if (!check('the quiet uninstall command is registered', m !== null, show(quiet))) return null;
  const run = wine([m[1], '/S'], { check: false });
  check('the silent uninstaller starts and exits with status 0', run.status === 0, `${run.status} ${run.stderr}`);
  let after = null;
  const done = await waitFor(() => {
    after = registry();
    return !after.has(UNINSTALL_KEY);
  }, 120000);
  check('the uninstaller finishes within two minutes', done);
  return after;
}

async function main() {
  const started = Date.now();
  const elapsed = () => `${((Date.now() - started) / 1000).toFixed(1)} s`;
  wine(['cmd', '/c', 'exit', '0']); // creates the prefix
  const localAppData = echo('LOCALAPPDATA');
  const tempUnix = unixPath(echo('TEMP'));
  const profileUnix = unixPath(echo('USERPROFILE'));
  const defaultDir = `${localAppData}\\Programs\\Quorvane`;
  console.log(`Wine prefix ${prefix} ready after ${elapsed()}; default install folder ${defaultDir}`);

  // ---- round 1: default folder, a browser key that exists already ----
  console.log('== round 1: silent install into the default folder, silent uninstall');
  const otherHost = 'HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\com.example.other';
  wine(['reg', 'add', otherHost, '/ve', '/d', 'C:\\other\\com.example.other.json', '/f']);
  const before = registry();
  const filesBefore = tree(profileUnix, [tempUnix]);
  const tempBefore = tree(tempUnix);

  const install = wine([args.setup, '/S'], { check: false });
  check('silent install exits with status 0', install.status === 0, `${install.status} ${install.stderr}`);
  const installed = checkInstalled(defaultDir, 'round 1');
  check("another host's registration under the same browser key is untouched",
    installed.values(otherHost)?.[''] === 'C:\\other\\com.example.other.json');
  // The default build lets the test extension in, and says so to whoever looks at its version.
  check('an installer that lets the test extension in shows a "-test" version',
    /^\d+\.\d+\.\d+-test$/.test(installed.values(UNINSTALL_KEY)?.DisplayVersion ?? ''),
    show(installed.values(UNINSTALL_KEY)?.DisplayVersion));

  const after = await uninstall(installed);
  check('after uninstalling, the user registry is exactly as before the install',
    after?.text === before.text, after ? firstDifference(before.text, after.text) : 'no uninstall');
  const filesAfter = tree(profileUnix, [tempUnix]);
  check('after uninstalling, the user profile folder is exactly as before the install',
    show(filesAfter) === show(filesBefore),
    `added ${show(filesAfter.filter((f) => !filesBefore.includes(f)))}, removed ${show(filesBefore.filter((f) => !filesAfter.includes(f)))}`);
  const tempLeft = tree(tempUnix).filter((f) => !tempBefore.includes(f));
  console.log(`note: left in %TEMP% by the uninstaller's self-copy: ${show(tempLeft)}`);
  check("nothing but the uninstaller's own temporary copy is left in %TEMP%",
    tempLeft.every((f) => /^~nsu[^/]*\.tmp(\/Un[^/]*\.exe)?$/.test(f)), show(tempLeft));
  console.log(`round 1 done after ${elapsed()}`);

  // ---- round 2: non-ASCII folder, reinstall, foreign changes ----
  // /D= takes the rest of the command line unquoted, so the folder has no blank (Wine
  // would quote an argument with one); its characters span one to four UTF-8 bytes.
  console.log('== round 2: non-ASCII folder, installed twice, then changed by others');
  const otherDir = `${localAppData}\\Programs\\Quörvane-Tëst-✓-😀`;
  const before2 = registry();
  for (const attempt of ['first', 'second']) {
    const run = wine([args.setup, '/S', `/D=${otherDir}`], { check: false });
    check(`${attempt} silent install into "${otherDir}" exits with status 0`, run.status === 0, `${run.status} ${run.stderr}`);
  }
  const installed2 = checkInstalled(otherDir, 'round 2');

  const otherDirUnix = unixPath(otherDir);
  const userFile = join(otherDirUnix, 'notes.txt');
  writeFileSync(userFile, 'kept\r\n');
  const edge = BROWSERS.find((b) => b.name === 'Edge');
  const foreignManifest = 'C:\\elsewhere\\com.quorvane.host.json';
  wine(['reg', 'add', hostKey(edge), '/ve', '/d', foreignManifest, '/f']);

  const after2 = await uninstall(installed2);
  check('a file the user added stays, and so does its folder',
    existsSync(userFile) && show(readdirSync(otherDirUnix)) === show(['notes.txt']),
    existsSync(otherDirUnix) ? show(readdirSync(otherDirUnix)) : 'folder gone');
  check('a registration pointed elsewhere by someone else stays', after2?.values(hostKey(edge))?.[''] === foreignManifest,
    show(after2?.values(hostKey(edge))));
  for (const browser of BROWSERS.filter((b) => b !== edge)) {
    check(`${browser.name}'s registration is gone`, after2 !== null && !after2.has(hostKey(browser)));
  }
  // Without those two, everything must be as before.
  wine(['reg', 'delete', edge.key, '/f']);
  rmSync(otherDirUnix, { recursive: true, force: true });
  const after2Cleaned = registry();
  check('apart from those, the user registry is exactly as before the install',
    after2Cleaned.text === before2.text, firstDifference(before2.text, after2Cleaned.text));
  // The user's file also kept the Programs folder that this install had created.
  const programs = relative(profileUnix, dirname(otherDirUnix));
  const expectedFiles = [...new Set([...filesBefore, programs])].sort();
  const filesAfter2 = tree(profileUnix, [tempUnix]).sort();
  check('apart from those, the user profile folder is exactly as before',
    show(filesAfter2) === show(expectedFiles), `${show(filesAfter2)} != ${show(expectedFiles)}`);
  console.log(`round 2 done after ${elapsed()}`);

  // ---- round 3: an installer built for many extensions, into a long folder path ----
  // Manifests longer than one NSIS string (1024 characters) must come out whole.
  if (!args.makensis || !args.cmake) return;
  console.log('== round 3: 40 + 11 allowed extensions, a 200-character folder');
  const work = mkdtempSync(join(tmpdir(), 'quorvane-installer-ids-'));
  try {
    const ids = Array.from({ length: 40 }, (_, i) =>
      [...createHash('sha256').update(String(i)).digest('hex').slice(0, 32)]
        .map((h) => String.fromCharCode(97 + parseInt(h, 16))).join(''));
    const geckoIds = [...Array.from({ length: 10 }, (_, i) => `tester-${i}@quorvane.invalid`), '{6f1a2b3c-4d5e-4f60-8a9b-0c1d2e3f4a5b}'];
    const nsh = join(work, 'allowed_ids.nsh');
    const generate = spawnSync(args.cmake, [
      `-DQUORVANE_EXTENSION_IDS=${ids.join(';')}`,
      `-DQUORVANE_FIREFOX_EXTENSION_IDS=${geckoIds.join(';')}`,
      `-DQUORVANE_ALLOWED_IDS_OUTPUT=${nsh}`,
      '-P', join(here, '..', 'allowed_ids.cmake'),
    ], { encoding: 'utf8' });
    const version = /kHostVersion = "([0-9.]+)"/.exec(readFileSync(join(here, '../../host/src/main/dispatch.h'), 'utf8'))?.[1];
    const setup = join(work, 'many-ids-setup.exe');
    const build = generate.status === 0
      ? spawnSync(args.makensis, ['-V2', '-WX', '-NOCD', `-DHOST_EXE=${args.host}`, `-DOUTFILE=${setup}`,
          `-DVERSION=${version}`, `-DIDS_NSH=${nsh}`, join(here, '..', 'quorvane-host.nsi')], { encoding: 'utf8' })
      : generate;
    if (!check('an installer for 51 extensions builds', build.status === 0, `${build.stdout} ${build.stderr}`)) return;
    const longDir = `${localAppData}\Programs\Quorvane-${'long-folder-name-'.repeat(20)}`.slice(0, 200);
    const before3 = registry();
    const run = wine([setup, '/S', `/D=${longDir}`], { check: false });
    check('silent install into a 200-character folder exits with status 0', run.status === 0, `${run.status} ${run.stderr}`);
    const installed3 = checkInstalled(longDir, 'round 3', { origins: ids.map((id) => `chrome-extension://${id}/`), firefox: geckoIds });
    check('an installer for published ids shows the plain version',
      installed3.values(UNINSTALL_KEY)?.DisplayVersion === version, show(installed3.values(UNINSTALL_KEY)?.DisplayVersion));
    const after3 = await uninstall(installed3);
    check('after uninstalling, the user registry is exactly as before', after3?.text === before3.text,
      after3 ? firstDifference(before3.text, after3.text) : 'no uninstall');
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
  console.log(`round 3 done after ${elapsed()}`);
}

try {
  await main();
} catch (error) {
  check('the installer test ran to its end', false, error.stack ?? String(error));
} finally {
  spawnSync('wineserver', ['-k'], { env });
  rmSync(prefix, { recursive: true, force: true });
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 && passed > 0 ? 0 : 1);
