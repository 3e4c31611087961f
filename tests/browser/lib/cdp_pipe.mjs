// Chrome DevTools Protocol over --remote-debugging-pipe: the browser reads commands from
// its fd 3 and writes replies and events to fd 4, each message a JSON text ended by NUL.
// No socket and no port: nothing else on the machine can reach this browser.
import { spawn } from 'node:child_process';

export class PipeBrowser {
  constructor(executable, args, { env = process.env, onStderrLine = () => {} } = {}) {
    this.process = spawn(executable, ['--remote-debugging-pipe', ...args], {
      stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'],
      env,
    });
    this.exited = new Promise((resolve) => this.process.on('exit', (code, signal) => resolve({ code, signal })));
    this.nextId = 1;
    this.pending = new Map();
    this.eventWaiters = [];
    let err = '';
    this.process.stderr.setEncoding('utf8');
    this.process.stderr.on('data', (chunk) => {
      err += chunk;
      let i;
      while ((i = err.indexOf('\n')) >= 0) {
        onStderrLine(err.slice(0, i));
        err = err.slice(i + 1);
      }
    });
    let inbox = Buffer.alloc(0);
    this.process.stdio[4].on('data', (chunk) => {
      inbox = Buffer.concat([inbox, chunk]);
      let end;
      while ((end = inbox.indexOf(0)) >= 0) {
        const message = JSON.parse(inbox.subarray(0, end).toString('utf8'));
        inbox = inbox.subarray(end + 1);
        this.#dispatch(message);
      }
    });
    this.process.on('exit', () => {
      for (const { reject } of this.pending.values()) reject(new Error('the browser exited'));
      this.pending.clear();
    });
  }

  #dispatch(message) {
    if (message.id !== undefined && this.pending.has(message.id)) {
      const { resolve, reject, method } = this.pending.get(message.id);
      this.pending.delete(message.id);
      if (message.error) reject(new Error(`${method}: ${message.error.message}`));
      else resolve(message.result);
      return;
    }
    this.eventWaiters = this.eventWaiters.filter((w) => !w(message));
  }

  send(method, params = {}, sessionId = undefined) {
    return new Promise((resolve, reject) => {
      const id = this.nextId++;
      this.pending.set(id, { resolve, reject, method });
      const message = { id, method, params };
      if (sessionId) message.sessionId = sessionId;
      this.process.stdio[3].write(JSON.stringify(message) + '\0');
    });
  }

  async close(timeoutMs = 10000) {
    if (this.process.exitCode !== null || this.process.signalCode !== null) return this.exited;
    this.send('Browser.close').catch(() => {});
    const timer = setTimeout(() => this.process.kill('SIGKILL'), timeoutMs);
    const status = await this.exited;
    clearTimeout(timer);
    return status;
  }
}

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Attaches to the extension's service worker and waits until its script has defined
// `globalName` (the target shows up before the script has run).
export async function attachToWorker(browser, urlPrefix, globalName, timeoutMs = 30000) {
  const deadline = Date.now() + timeoutMs;
  let target;
  while (!target) {
    const { targetInfos } = await browser.send('Target.getTargets');
    target = targetInfos.find((t) => t.type === 'service_worker' && t.url.startsWith(urlPrefix));
    if (!target) {
      if (Date.now() > deadline) {
        throw new Error(`no service worker at ${urlPrefix}; targets: ${targetInfos.map((t) => t.url).join(', ')}`);
      }
      await sleep(100);
    }
  }
  const { sessionId } = await browser.send('Target.attachToTarget', { targetId: target.targetId, flatten: true });
  for (;;) {
    const { result } = await browser.send(
      'Runtime.evaluate',
      { expression: `typeof globalThis.${globalName}`, returnByValue: true },
      sessionId,
    );
    if (result.value === 'function') return sessionId;
    if (Date.now() > deadline) throw new Error(`${globalName} never appeared in the service worker`);
    await sleep(100);
  }
}

// Evaluates an expression that yields a promise, in the attached target, and returns its
// value; an exception inside becomes a thrown Error with the page's description.
export async function evaluate(browser, sessionId, expression) {
  const reply = await browser.send(
    'Runtime.evaluate',
    { expression, awaitPromise: true, returnByValue: true },
    sessionId,
  );
  if (reply.exceptionDetails) {
    throw new Error(reply.exceptionDetails.exception?.description ?? reply.exceptionDetails.text);
  }
  return reply.result.value;
}
