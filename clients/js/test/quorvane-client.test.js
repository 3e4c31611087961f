import { test } from 'node:test';
import assert from 'node:assert/strict';

import {
  QuorvaneClient,
  QuorvaneDisconnectedError,
  QuorvaneError,
  QuorvaneTimeoutError,
  base64ToBytes,
  bytesToBase64,
  readFile,
} from '../quorvane-client.js';

// A port as extensions see it: postMessage, disconnect and two events. The test plays the
// host by answering what was posted.
class FakePort {
  constructor() {
    this.sent = [];
    this.messageListeners = [];
    this.disconnectListeners = [];
    this.disconnected = false;
    this.error = null;
    this.onMessage = { addListener: (f) => this.messageListeners.push(f) };
    this.onDisconnect = { addListener: (f) => this.disconnectListeners.push(f) };
  }
  postMessage(message) {
    if (this.disconnected) throw new Error('Attempting to use a disconnected port object');
    // Browsers serialise on post: later changes by the caller must not show.
    this.sent.push(JSON.parse(JSON.stringify(message)));
  }
  disconnect() {
    this.disconnected = true;
  }
  reply(message) {
    for (const f of this.messageListeners) f(message);
  }
  hostExits() {
    this.disconnected = true;
    for (const f of this.disconnectListeners) f(this);
  }
}

function clientWithPorts(options = {}) {
  const ports = [];
  const client = new QuorvaneClient({
    connect: () => {
      const port = new FakePort();
      ports.push(port);
      return port;
    },
    ...options,
  });
  return { client, ports };
}

test('concurrent calls share one port and each promise gets the reply with its own id', async () => {
  const { client, ports } = clientWithPorts();
  const a = client.call('get_version');
  const b = client.call('file_exists', { path: 'C:\\x' });
  const c = client.call('get_display_list', undefined);
  assert.equal(ports.length, 1);
  const sent = ports[0].sent;
  assert.deepEqual(
    sent.map((m) => m.method),
    ['get_version', 'file_exists', 'get_display_list'],
  );
  assert.equal(new Set(sent.map((m) => m.id)).size, 3);
  assert.deepEqual(sent[1].params, { path: 'C:\\x' });
  assert.deepEqual(sent[2].params, {});

  // Out of order on purpose: matching is by id, not by arrival.
  ports[0].reply({ id: sent[2].id, result: [] });
  ports[0].reply({ id: sent[0].id, result: '2.0.7' });
  ports[0].reply({ id: sent[1].id, result: false });
  assert.equal(await a, '2.0.7');
  assert.equal(await b, false);
  assert.deepEqual(await c, []);
  assert.equal(client.pendingCount, 0);
});

test('results of every JSON kind, null and false included, resolve unchanged', async () => {
  const { client, ports } = clientWithPorts();
  const values = [null, false, 0, '', [], { exitCode: null }];
  const calls = values.map(() => client.call('x'));
  ports[0].sent.forEach((m, i) => ports[0].reply({ id: m.id, result: values[i] }));
  assert.deepEqual(await Promise.all(calls), values);
});

test('error replies reject with the host message unchanged and its code', async () => {
  const { client, ports } = clientWithPorts();
  const cases = [
    ["bad_params: missing 'pattern'", 'bad_params'],
    ['capture_failed: no monitors', 'capture_failed'],
    ['Unknown method: nope', null],
    ["Missing string param 'path'", null],
    ['ocr_language_unavailable: no OCR language pack for the request', 'ocr_language_unavailable'],
  ];
  const calls = cases.map(() => client.call('m'));
  ports[0].sent.forEach((m, i) => ports[0].reply({ error: { message: cases[i][0] }, id: m.id }));
  for (let i = 0; i < cases.length; i++) {
    await assert.rejects(calls[i], (e) => {
      assert.ok(e instanceof QuorvaneError);
      assert.equal(e.message, cases[i][0]);
      assert.equal(e.code, cases[i][1]);
      assert.equal(e.method, 'm');
      return true;
    });
  }
});

test('an error reply without a message string is still a rejection, never a result', async () => {
  const { client, ports } = clientWithPorts();
  const call = client.call('m');
  ports[0].reply({ error: 'oops', id: ports[0].sent[0].id });
  await assert.rejects(call, (e) => e instanceof QuorvaneError && e.message.startsWith('malformed error reply'));
});

test('replies for unknown ids and non-object messages are ignored', async () => {
  const { client, ports } = clientWithPorts();
  const call = client.call('get_version');
  const id = ports[0].sent[0].id;
  ports[0].reply({ id: id + 100, result: 'wrong' });
  ports[0].reply({ id: null, error: { message: 'Unknown method: ' } });
  ports[0].reply('garbage');
  ports[0].reply(null);
  ports[0].reply({ id: String(id), result: 'string id is not ours' });
  assert.equal(client.pendingCount, 1);
  ports[0].reply({ id, result: '2.0.7' });
  assert.equal(await call, '2.0.7');
});

test('when the host goes away every waiting call rejects with the browser reason, and the next call reconnects', async () => {
  const reasons = [];
  const { client, ports } = clientWithPorts({
    disconnectReason: () => {
      reasons.push('read');
      return 'Error when communicating with the native messaging host.';
    },
  });
  const a = client.call('read_all_bytes', { path: 'big' });
  const b = client.call('get_version');
  ports[0].hostExits();
  for (const p of [a, b]) {
    await assert.rejects(p, (e) => {
      assert.ok(e instanceof QuorvaneDisconnectedError);
      assert.equal(e.message, 'Error when communicating with the native messaging host.');
      return true;
    });
  }
  assert.equal(client.connected, false);

  const c = client.call('get_version');
  assert.equal(ports.length, 2);
  ports[1].reply({ id: ports[1].sent[0].id, result: '2.0.7' });
  assert.equal(await c, '2.0.7');
  assert.deepEqual(reasons, ['read']);
});

test('the default reason comes from port.error (Firefox) or runtime.lastError (Chromium)', async () => {
  const { client, ports } = clientWithPorts({ disconnectReason: undefined });
  const saved = globalThis.chrome;
  try {
    const a = client.call('x');
    ports[0].error = { message: 'No such native application com.quorvane.host' };
    ports[0].hostExits();
    await assert.rejects(a, { name: 'QuorvaneDisconnectedError', message: 'No such native application com.quorvane.host' });

    globalThis.chrome = { runtime: { lastError: { message: 'Specified native messaging host not found.' } } };
    const b = client.call('x');
    ports[1].hostExits();
    await assert.rejects(b, { message: 'Specified native messaging host not found.' });

    globalThis.chrome = { runtime: {} };
    const c = client.call('x');
    ports[2].hostExits();
    await assert.rejects(c, { message: 'the host closed the connection' });
  } finally {
    globalThis.chrome = saved;
  }
});

test('events of a port that was replaced do not touch the new one', async () => {
  const { client, ports } = clientWithPorts();
  const a = client.call('x');
  client.close();
  await assert.rejects(a, QuorvaneDisconnectedError);
  assert.equal(ports[0].disconnected, true);

  const b = client.call('get_version');
  const idB = ports[1].sent[0].id;
  // The old port reports late: a reply that happens to carry b's id, then its disconnect.
  ports[0].reply({ id: idB, result: 'stale' });
  ports[0].hostExits();
  assert.equal(client.connected, true);
  ports[1].reply({ id: idB, result: '2.0.7' });
  assert.equal(await b, '2.0.7');
});

test('a timed-out call rejects and its late reply is dropped without disturbing others', async (t) => {
  t.mock.timers.enable({ apis: ['setTimeout'] });
  const { client, ports } = clientWithPorts();
  const slow = client.call('wait_for_image', {}, { timeoutMs: 50 });
  const next = client.call('get_version');
  t.mock.timers.tick(50);
  await assert.rejects(slow, (e) => e instanceof QuorvaneTimeoutError && e.method === 'wait_for_image');
  const [s, n] = ports[0].sent;
  ports[0].reply({ id: s.id, result: { found: false } });
  ports[0].reply({ id: n.id, result: '2.0.7' });
  assert.equal(await next, '2.0.7');
  assert.equal(client.pendingCount, 0);
});

test('failures to connect or to post reject the call instead of throwing, and leave nothing pending', async () => {
  const failing = new QuorvaneClient({
    connect: () => {
      throw new Error('runtime.connectNative is not available');
    },
  });
  await assert.rejects(failing.call('get_version'), /connectNative is not available/);

  const { client, ports } = clientWithPorts();
  const first = client.call('a');
  ports[0].disconnected = true; // a dead port whose disconnect event has not arrived yet
  await assert.rejects(client.call('b'), /disconnected port/);
  assert.equal(client.pendingCount, 1);
  ports[0].reply({ id: ports[0].sent[0].id, result: 1 });
  assert.equal(await first, 1);
  assert.equal(client.pendingCount, 0);
  await assert.rejects(client.call(''), TypeError);
});

test('Base64 round trip covers every byte value, all three tail lengths and large arrays', () => {
  for (const n of [0, 1, 2, 3, 4, 5, 256, 100003]) {
    const bytes = new Uint8Array(n);
    for (let i = 0; i < n; i++) bytes[i] = (i * 7 + (i >> 8)) & 255;
    const text = bytesToBase64(bytes);
    assert.equal(text, Buffer.from(bytes).toString('base64'));
    assert.deepEqual(base64ToBytes(text), bytes);
  }
});

test('Base64 decoding refuses what the host would never send', () => {
  for (const bad of ['A', 'AB=', 'A===', 'AB=C', 'ab c', 'AB\u00e9=', 'QR==', 'QUJ=']) {
    assert.throws(() => base64ToBytes(bad), TypeError, bad);
  }
  assert.deepEqual([...base64ToBytes('QQ==')], [65]);
  assert.deepEqual([...base64ToBytes('QUI=')], [65, 66]);
});

// A fake host that serves read_file_range from a byte array in 512 KiB ranges.
function rangeServer(port, file, rangeSize = 524288) {
  port.postMessage = (m) => {
    assert.equal(m.method, 'read_file_range');
    const start = m.params.rangeStart;
    const end = Math.min(file.length, start + rangeSize);
    const chunk = start < file.length ? file.subarray(start, end) : new Uint8Array(0);
    queueMicrotask(() =>
      port.reply({
        id: m.id,
        result: { buffer: bytesToBase64(chunk), rangeEnd: start + chunk.length, rangeStart: start },
      }),
    );
  };
}

test('readFile assembles a large file from ranges and stops at the first empty range', async () => {
  for (const size of [0, 5, 524288, 524288 * 2 + 17]) {
    const file = new Uint8Array(size);
    for (let i = 0; i < size; i++) file[i] = (i * 31) & 255;
    const client = new QuorvaneClient({
      connect: () => {
        const port = new FakePort();
        rangeServer(port, file);
        return port;
      },
    });
    const seen = [];
    const bytes = await readFile(client, 'Z:/big.bin', { onRange: (r) => seen.push(r) });
    assert.deepEqual(bytes, file);
    const expectedRanges = Math.ceil(size / 524288) + 1;
    assert.equal(seen.length, expectedRanges, `size ${size}`);
    assert.equal(seen.at(-1).rangeStart, size);
  }
});

test('readFile rejects a range reply that does not add up instead of returning a corrupt file', async () => {
  const client = new QuorvaneClient({
    connect: () => {
      const port = new FakePort();
      port.postMessage = (m) =>
        queueMicrotask(() =>
          port.reply({ id: m.id, result: { buffer: 'QUJD', rangeEnd: m.params.rangeStart + 5, rangeStart: 0 } }),
        );
      return port;
    },
  });
  await assert.rejects(readFile(client, 'x'), /read_file_range answered 0\.\.5 with 3 bytes/);
});

test('readFile passes host errors through', async () => {
  const client = new QuorvaneClient({
    connect: () => {
      const port = new FakePort();
      port.postMessage = (m) =>
        queueMicrotask(() =>
          port.reply({ error: { message: 'The system cannot find the file specified. (os error 2)' }, id: m.id }),
        );
      return port;
    },
  });
  await assert.rejects(readFile(client, 'missing'), (e) => e instanceof QuorvaneError && /os error 2/.test(e.message));
});
