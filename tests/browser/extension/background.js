// Test extension for the browser end-to-end test. The driver copies the extension client
// (quorvane-client.js) beside this file, loads the extension into Chromium and calls
// runSequence() through the DevTools protocol. Every step goes through the real
// native-messaging port; the result is a transcript that the driver checks.
import { QuorvaneClient, bytesToBase64, base64ToBytes, readFile } from './quorvane-client.js';

async function sha256(bytes) {
  const digest = await crypto.subtle.digest('SHA-256', bytes);
  return [...new Uint8Array(digest)].map((b) => b.toString(16).padStart(2, '0')).join('');
}

function shorten(value, limit = 160) {
  const text = JSON.stringify(value, (key, v) => (typeof v === 'string' && v.length > 80 ? `${v.slice(0, 40)}…(${v.length} chars)` : v));
  return text.length > limit ? `${text.slice(0, limit)}…` : text;
}

function describeError(error) {
  return { name: error.name, message: error.message, code: error.code ?? null, id: error.id ?? null };
}

// Every byte value, several times over, so the file round trip would show any byte the
// path through the browser, Wine and the host might alter.
function allByteValues(repeats) {
  const bytes = new Uint8Array(256 * repeats);
  for (let i = 0; i < bytes.length; i++) bytes[i] = (i * 167 + (i >> 8)) & 255;
  return bytes;
}

const TEXT_SAMPLE = 'line one\r\nline two\nno terminator \u001a \u00e9\u20ac\u{1F600} "quoted" \\ back / slash\t';

globalThis.runSequence = async function runSequence(plan) {
  const transcript = [];
  let client = new QuorvaneClient();

  async function step(name, method, params, { keep = (r) => r } = {}) {
    const started = performance.now();
    const entry = { name, method, request: shorten(params) };
    try {
      const result = await client.call(method, params);
      entry.ok = true;
      entry.result = keep(result);
      entry.reply = shorten(result);
    } catch (error) {
      entry.ok = false;
      entry.error = describeError(error);
    }
    entry.ms = Math.round(performance.now() - started);
    transcript.push(entry);
    return entry;
  }

  await step('version', 'get_version', {});
  await step('displays', 'get_display_list', {});
  await step('capture', 'capture_desktop', { path: plan.capturePath });
  await step('search on the Xvfb root', 'search_desktop', {
    pattern: { data: plan.patternPng },
    options: { minSimilarity: 0.95 },
  });

  const bytes = allByteValues(64);
  await step('write bytes', 'write_all_bytes', { path: plan.bytesPath, content: bytesToBase64(bytes) });
  const readBack = await step('read bytes back', 'read_all_bytes', { path: plan.bytesPath }, {
    keep: (r) => ({ errorCode: r.errorCode, length: base64ToBytes(r.content).length, sha256: null, content: r.content }),
  });
  if (readBack.ok) {
    const back = base64ToBytes(readBack.result.content);
    readBack.result.sha256 = await sha256(back);
    readBack.result.identical = back.length === bytes.length && back.every((b, i) => b === bytes[i]);
    delete readBack.result.content;
  }
  await step('write text', 'write_all_text', { path: plan.textPath, content: TEXT_SAMPLE });
  const text = await step('read text back', 'read_all_text', { path: plan.textPath });
  if (text.ok) text.result.identical = text.result.content === TEXT_SAMPLE;
  await step('file size', 'get_file_size', { path: plan.bytesPath });
  await step('delete text file', 'delete_file', { path: plan.textPath });

  await step('error: missing file', 'read_file_range', { path: plan.missingPath, rangeStart: 0 });
  await step('error: bad parameters', 'search_image', { pattern: { data: plan.patternPng } });
  await step('error: unknown method', 'get_versions', {});

  // Below the browser's 1 MB limit for one message from the host: a 700,000-byte file
  // comes back whole.
  await step('read_all_bytes under 1 MB', 'read_all_bytes', { path: plan.smallPath }, {
    keep: (r) => ({ errorCode: r.errorCode, replyChars: r.content.length }),
  });

  // Above it: the browser drops the connection instead of delivering the reply, and every
  // request still waiting on that port fails with it.
  const tooBig = client.call('read_all_bytes', { path: plan.bigPath });
  const behind = client.call('get_version');
  const [bigOutcome, behindOutcome] = await Promise.allSettled([tooBig, behind]);
  transcript.push({
    name: 'read_all_bytes over 1 MB',
    method: 'read_all_bytes',
    request: shorten({ path: plan.bigPath }),
    ok: bigOutcome.status === 'fulfilled',
    error: bigOutcome.status === 'rejected' ? describeError(bigOutcome.reason) : null,
    behind: behindOutcome.status === 'rejected' ? describeError(behindOutcome.reason) : { result: behindOutcome.value },
    connectedAfter: client.connected,
  });

  // The next call opens a new port (a new host process); the same file arrives whole
  // through ranged reads.
  await step('new port after the drop', 'get_version', {});
  const ranges = [];
  const started = performance.now();
  try {
    const whole = await readFile(client, plan.bigPath, { onRange: (r) => ranges.push(r) });
    transcript.push({
      name: 'ranged read of the same file',
      method: 'read_file_range',
      request: shorten({ path: plan.bigPath }),
      ok: true,
      result: { length: whole.length, sha256: await sha256(whole), ranges },
      ms: Math.round(performance.now() - started),
    });
  } catch (error) {
    transcript.push({ name: 'ranged read of the same file', method: 'read_file_range', ok: false, error: describeError(error) });
  }

  client.close();
  client = null;
  return transcript;
};
