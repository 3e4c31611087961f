// Firefox's remote debugging protocol, just enough to install a temporary add-on, as the
// about:debugging page does. Firefox listens with --start-debugger-server on a Unix
// socket (a path, not a port: nothing else on the machine can reach it without the file).
// Packets are "<byte length>:<JSON text>" in both directions; every request goes to an
// actor and its reply comes back from that actor, in order.
import { connect } from 'node:net';

export class FirefoxRdp {
  static async connect(socketPath, { timeoutMs = 30000 } = {}) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
      try {
        const rdp = await new Promise((resolve, reject) => {
          const socket = connect(socketPath);
          socket.once('connect', () => resolve(new FirefoxRdp(socket)));
          socket.once('error', reject);
        });
        await rdp.#next(() => true);  // the root actor's greeting
        return rdp;
      } catch (error) {
        // The browser creates the socket some time after it starts.
        if (Date.now() > deadline) throw new Error(`no debugger server on ${socketPath}: ${error.message}`);
        await new Promise((r) => setTimeout(r, 250));
      }
    }
  }

  constructor(socket) {
    this.socket = socket;
    this.inbox = Buffer.alloc(0);
    this.packets = [];
    this.waiters = [];
    this.closed = null;
    socket.on('data', (chunk) => {
      this.inbox = Buffer.concat([this.inbox, chunk]);
      try {
        this.#parse();
      } catch (error) {
        this.#fail(error);
        socket.destroy();
      }
    });
    socket.on('close', () => this.#fail(new Error('the debugger connection closed')));
    socket.on('error', () => {});
  }

  #fail(error) {
    this.closed ??= error;
    for (const w of this.waiters.splice(0)) w.reject(this.closed);
  }

  #parse() {
    for (;;) {
      const colon = this.inbox.indexOf(0x3a);
      if (colon < 0) return;
      const header = this.inbox.subarray(0, colon).toString('latin1');
      if (!/^\d+$/.test(header)) throw new Error(`unexpected debugger packet header ${JSON.stringify(header.slice(0, 40))}`);
      const length = Number(header);
      if (this.inbox.length < colon + 1 + length) return;
      const packet = JSON.parse(this.inbox.subarray(colon + 1, colon + 1 + length).toString('utf8'));
      this.inbox = this.inbox.subarray(colon + 1 + length);
      const i = this.waiters.findIndex((w) => w.accept(packet));
      if (i >= 0) this.waiters.splice(i, 1)[0].resolve(packet);
      else this.packets.push(packet);
    }
  }

  #next(accept) {
    const i = this.packets.findIndex(accept);
    if (i >= 0) return Promise.resolve(this.packets.splice(i, 1)[0]);
    if (this.closed) return Promise.reject(this.closed);
    return new Promise((resolve, reject) => this.waiters.push({ accept, resolve, reject }));
  }

  // Sends one request and resolves with its reply; an error reply rejects.
  async request(to, type, fields = {}) {
    const body = Buffer.from(JSON.stringify({ to, type, ...fields }), 'utf8');
    this.socket.write(Buffer.concat([Buffer.from(`${body.length}:`, 'latin1'), body]));
    // Replies carry no "type"; events from the same actor do, and are left aside.
    const reply = await this.#next((p) => p.from === to && (p.type === undefined || p.error !== undefined));
    if (reply.error) throw new Error(`${type} on ${to}: ${reply.error}${reply.message ? `: ${reply.message}` : ''}`);
    return reply;
  }

  // Installs the unpacked add-on in `folder` until the browser ends; returns its id.
  async installTemporaryAddon(folder) {
    const root = await this.request('root', 'getRoot');
    if (!root.addonsActor) throw new Error(`the root actor offers no add-on installer: ${JSON.stringify(root)}`);
    const reply = await this.request(root.addonsActor, 'installTemporaryAddon', { addonPath: folder, openDevTools: false });
    return reply.addon?.id;
  }

  close() {
    this.socket.destroy();
  }
}
