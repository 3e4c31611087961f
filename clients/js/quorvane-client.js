// Client for the Quorvane host, for browser extensions (Chrome, Edge, Chromium, Brave,
// Firefox). One native-messaging port carries every request; each call gets its own
// promise, matched to its reply by the request id.
//
//   import { QuorvaneClient } from './quorvane-client.js';
//   const host = new QuorvaneClient();
//   const version = await host.call('get_version');
//
// The extension needs the "nativeMessaging" permission, and its id must be listed in the
// host's manifest (allowed_origins / allowed_extensions) by the installer.

export const HOST_NAME = 'com.quorvane.host';

// Chromium-based browsers drop the connection when a single message from the host is
// larger than this; read large files with readFile() instead of read_all_bytes.
export const MAX_HOST_MESSAGE_BYTES = 1024 * 1024;

// A reply that carried an error. `message` is the host's text unchanged; `code` is its
// leading lower-case code ("bad_params", "capture_failed", ...) or null for messages
// without one ("Unknown method: …", "Missing string param 'path'").
export class QuorvaneError extends Error {
  constructor(message, { method = null, id = null } = {}) {
    super(message);
    this.name = 'QuorvaneError';
    this.code = errorCode(message);
    this.method = method;
    this.id = id;
  }
}

// The port closed (host exited, could not be started, or the browser refused a message)
// while the request was waiting. `message` is the browser's reason when it gave one.
export class QuorvaneDisconnectedError extends Error {
  constructor(message, { method = null, id = null } = {}) {
    super(message);
    this.name = 'QuorvaneDisconnectedError';
    this.method = method;
    this.id = id;
  }
}

export class QuorvaneTimeoutError extends Error {
  constructor(message, { method = null, id = null } = {}) {
    super(message);
    this.name = 'QuorvaneTimeoutError';
    this.method = method;
    this.id = id;
  }
}

export function errorCode(message) {
  const match = /^([a-z][a-z_]*): /.exec(typeof message === 'string' ? message : '');
  return match ? match[1] : null;
}

function extensionApi() {
  // Firefox offers `browser` (and `chrome`); Chromium-based browsers only `chrome`.
  return globalThis.browser?.runtime ? globalThis.browser : globalThis.chrome;
}

function defaultConnect() {
  const api = extensionApi();
  if (!api?.runtime?.connectNative) {
    throw new Error('runtime.connectNative is not available: is the "nativeMessaging" permission declared?');
  }
  return api.runtime.connectNative(HOST_NAME);
}

// Firefox puts the reason on the port; Chromium in runtime.lastError, which has to be
// read inside the onDisconnect listener or the browser logs it as unchecked.
function defaultDisconnectReason(port) {
  if (port?.error?.message) return port.error.message;
  return globalThis.chrome?.runtime?.lastError?.message ?? null;
}

export class QuorvaneClient {
  #connect;
  #disconnectReason;
  #port = null;
  #nextId = 1;
  #pending = new Map();

  // options.connect: () => Port, to reach another host or a test double.
  // options.disconnectReason: (port) => string|null, read when the port closes.
  constructor({ connect = defaultConnect, disconnectReason = defaultDisconnectReason } = {}) {
    this.#connect = connect;
    this.#disconnectReason = disconnectReason;
  }

  get connected() {
    return this.#port !== null;
  }

  get pendingCount() {
    return this.#pending.size;
  }

  // Sends one request; resolves with its `result`, rejects with QuorvaneError for an error
  // reply, QuorvaneDisconnectedError when the port closes first, QuorvaneTimeoutError when
  // options.timeoutMs passes. The host answers one request at a time in order, so a slow
  // method (wait_for_image, run_process with waitForExit) delays the calls behind it.
  call(method, params = {}, { timeoutMs = 0 } = {}) {
    return new Promise((resolve, reject) => {
      if (typeof method !== 'string' || method === '') {
        reject(new TypeError('method must be a non-empty string'));
        return;
      }
      let port;
      try {
        port = this.#ensurePort();
      } catch (error) {
        reject(error);
        return;
      }
      const id = this.#nextId++;
      const entry = { resolve, reject, method, timer: null };
      this.#pending.set(id, entry);
      if (timeoutMs > 0) {
        entry.timer = setTimeout(() => {
          // A late reply for this id finds no entry and is dropped.
          this.#pending.delete(id);
          reject(new QuorvaneTimeoutError(`${method} got no reply within ${timeoutMs} ms`, { method, id }));
        }, timeoutMs);
      }
      try {
        port.postMessage({ id, method, params });
      } catch (error) {
        this.#settle(id);
        reject(error);
      }
    });
  }

  // Closes the port (the host then sees end of input and exits). Waiting calls are
  // rejected; the next call opens a new port and so starts a new host process.
  close() {
    const port = this.#port;
    if (!port) return;
    this.#port = null;
    this.#rejectAll(port, 'the client closed the connection');
    try {
      port.disconnect();
    } catch {
      // Already gone: nothing to release.
    }
  }

  #ensurePort() {
    if (this.#port) return this.#port;
    const port = this.#connect();
    port.onMessage.addListener((reply) => this.#onMessage(port, reply));
    port.onDisconnect.addListener(() => this.#onDisconnect(port));
    this.#port = port;
    return port;
  }

  #settle(id) {
    const entry = this.#pending.get(id);
    if (!entry) return null;
    this.#pending.delete(id);
    if (entry.timer !== null) clearTimeout(entry.timer);
    return entry;
  }

  #onMessage(port, reply) {
    if (port !== this.#port) return;
    if (reply === null || typeof reply !== 'object' || !Number.isInteger(reply.id)) return;
    const entry = this.#settle(reply.id);
    if (!entry) return;
    if (Object.hasOwn(reply, 'error')) {
      const message =
        typeof reply.error?.message === 'string' ? reply.error.message : `malformed error reply: ${JSON.stringify(reply)}`;
      entry.reject(new QuorvaneError(message, { method: entry.method, id: reply.id }));
    } else {
      entry.resolve(reply.result);
    }
  }

  #onDisconnect(port) {
    const reason = this.#disconnectReason(port);
    if (port !== this.#port) return;
    this.#port = null;
    this.#rejectAll(port, reason ?? 'the host closed the connection');
  }

  #rejectAll(port, reason) {
    const ids = [...this.#pending.keys()];
    for (const id of ids) {
      const entry = this.#settle(id);
      entry.reject(new QuorvaneDisconnectedError(reason, { method: entry.method, id }));
    }
  }
}

// Reads a whole file of any size in ranges of at most 512 KiB (read_file_range), so no
// single reply comes near the browser's 1 MB limit. Stops when a range comes back empty.
// onRange({rangeStart, rangeEnd}) is called after each range.
export async function readFile(client, path, { onRange = null } = {}) {
  const parts = [];
  let total = 0;
  let start = 0;
  for (;;) {
    const range = await client.call('read_file_range', { path, rangeStart: start });
    const bytes = base64ToBytes(range.buffer);
    if (range.rangeStart !== start || range.rangeEnd !== start + bytes.length) {
      throw new QuorvaneError(
        `read_file_range answered ${range.rangeStart}..${range.rangeEnd} with ${bytes.length} bytes for offset ${start}`,
        { method: 'read_file_range' },
      );
    }
    if (onRange) onRange({ rangeStart: range.rangeStart, rangeEnd: range.rangeEnd });
    if (bytes.length === 0) break;
    parts.push(bytes);
    total += bytes.length;
    start = range.rangeEnd;
  }
  const out = new Uint8Array(total);
  let at = 0;
  for (const part of parts) {
    out.set(part, at);
    at += part.length;
  }
  return out;
}

const ALPHABET = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/';
const DECODE = new Int16Array(128).fill(-1);
for (let i = 0; i < ALPHABET.length; i++) DECODE[ALPHABET.charCodeAt(i)] = i;

// Standard alphabet with padding, as the host writes and expects it.
export function bytesToBase64(bytes) {
  let out = '';
  let i = 0;
  for (; i + 2 < bytes.length; i += 3) {
    const n = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += ALPHABET[n >> 18] + ALPHABET[(n >> 12) & 63] + ALPHABET[(n >> 6) & 63] + ALPHABET[n & 63];
  }
  const rest = bytes.length - i;
  if (rest === 1) {
    const n = bytes[i] << 16;
    out += ALPHABET[n >> 18] + ALPHABET[(n >> 12) & 63] + '==';
  } else if (rest === 2) {
    const n = (bytes[i] << 16) | (bytes[i + 1] << 8);
    out += ALPHABET[n >> 18] + ALPHABET[(n >> 12) & 63] + ALPHABET[(n >> 6) & 63] + '=';
  }
  return out;
}

// Accepts only canonical Base64 (what the host sends); throws on anything else rather
// than returning silently damaged bytes.
export function base64ToBytes(text) {
  if (typeof text !== 'string' || text.length % 4 !== 0) throw new TypeError('not canonical Base64: bad length');
  const padding = text.endsWith('==') ? 2 : text.endsWith('=') ? 1 : 0;
  const out = new Uint8Array((text.length / 4) * 3 - padding);
  const symbol = (k) => {
    const c = text.charCodeAt(k);
    const v = c < 128 ? DECODE[c] : -1;
    if (v < 0) throw new TypeError(`not canonical Base64: invalid symbol at offset ${k}`);
    return v;
  };
  let o = 0;
  const full = text.length - (padding ? 4 : 0);
  for (let k = 0; k < full; k += 4) {
    const n = (symbol(k) << 18) | (symbol(k + 1) << 12) | (symbol(k + 2) << 6) | symbol(k + 3);
    out[o++] = n >> 16;
    out[o++] = (n >> 8) & 255;
    out[o++] = n & 255;
  }
  if (padding) {
    const k = full;
    const a = symbol(k);
    const b = symbol(k + 1);
    if (padding === 2) {
      if (b & 15) throw new TypeError('not canonical Base64: unused bits set');
      out[o++] = (a << 2) | (b >> 4);
    } else {
      const c = symbol(k + 2);
      if (c & 3) throw new TypeError('not canonical Base64: unused bits set');
      out[o++] = (a << 2) | (b >> 4);
      out[o++] = ((b & 15) << 4) | (c >> 2);
    }
  }
  return out;
}
