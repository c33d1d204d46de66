// The page's end of the engine: one WebSocket, one engine behind it.
//
// The engine answers requests one at a time and in order, so replies come
// back in the order the requests went out; each request gets its own id and
// the progress events of a request (which carry its id) go to its onEvent.

export class EngineError extends Error {}

export class Engine {
  // url: the WebSocket URL. onClose(reason) is called once when the socket ends.
  constructor(url, onClose = () => {}) {
    this.socket = new WebSocket(url);
    this.nextId = 1;
    this.pending = new Map();
    this.closed = false;
    this.opened = new Promise((resolve, reject) => {
      this.socket.addEventListener('open', resolve, { once: true });
      this.socket.addEventListener('error', () => reject(new EngineError('Could not connect to the server')), { once: true });
    });
    this.socket.addEventListener('message', (message) => this.receive(message.data));
    this.socket.addEventListener('close', (event) => {
      this.closed = true;
      const reason = event.reason || 'Connection to the engine closed';
      for (const { reject } of this.pending.values()) reject(new EngineError(reason));
      this.pending.clear();
      onClose(reason);
    });
  }

  // Sends one request; resolves to its result, rejects with the engine's error text.
  async request(command, args = {}, onEvent = () => {}) {
    await this.opened;
    if (this.closed) throw new EngineError('Connection to the engine closed');
    const id = this.nextId++;
    const reply = new Promise((resolve, reject) => this.pending.set(id, { resolve, reject, onEvent }));
    this.socket.send(JSON.stringify({ request: id, command, args }));
    return reply;
  }

  receive(text) {
    const line = JSON.parse(text);
    if (line.event !== undefined) {
      this.pending.get(line.request)?.onEvent(line);
      return;
    }
    // A reply without an id answers a line the engine could not decode: the oldest one.
    const id = line.request ?? this.pending.keys().next().value;
    const waiting = this.pending.get(id);
    if (!waiting) return;
    this.pending.delete(id);
    if ('result' in line) waiting.resolve(line.result);
    else waiting.reject(new EngineError(line.error));
  }

  // Ends the engine (the server stops it when the socket closes).
  close() {
    this.socket.close(1000, 'closed by the page');
  }
}

// Runs one request at a time for a view that may be asked again before the
// last answer came (a search box): only the latest call's answer is delivered,
// and calls made while one is in flight collapse into one.
export class LatestOnly {
  constructor(run) {
    this.run = run;
    this.busy = false;
    this.queued = null;
  }

  call(...args) {
    this.queued = args;
    if (!this.busy) this.drain();
  }

  async drain() {
    this.busy = true;
    while (this.queued) {
      const args = this.queued;
      this.queued = null;
      try {
        await this.run(...args, () => this.queued === null);
      } catch (error) {
        console.error(error);
      }
    }
    this.busy = false;
  }
}
