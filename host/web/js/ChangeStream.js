// The host's stream of changes (GET /api/stream) with a consistent start.
// After every connection, and every reconnection, the snapshot loaders run
// first; the changes that arrive meanwhile are held and applied after them,
// in order. Every change carries an absolute value (a property's new value,
// an entry's new text), so applying one that a snapshot already holds does
// no harm, and nothing that happened while the page was away is missed.

const CHANGE_TYPES = ['control', 'panel', 'instance', 'slot', 'database', 'log', 'tsl', 'router',
  'crosspoint'];
// How long to wait before reconnecting when the browser has given up.
const RECONNECT_DELAY_MS = 2000;

export class ChangeStream {
  constructor(url) {
    this.url = url;
    this.handlers = new Map(CHANGE_TYPES.map((type) => [type, []]));
    this.loaders = [];
    this.statusListeners = [];
    this.held = null;
    this.generation = 0;
  }

  // `handler(data)` runs for every change of `type`.
  on(type, handler) {
    this.handlers.get(type).push(handler);
  }

  // `loader()` returns a promise that loads a snapshot; it runs on every
  // (re)connection.
  onResync(loader) {
    this.loaders.push(loader);
  }

  // `listener(status, detail)`: status is "connecting", "live" or "lost".
  onStatus(listener) {
    this.statusListeners.push(listener);
  }

  start() {
    this.setStatus('connecting');
    const source = new EventSource(this.url);
    this.source = source;
    for (const type of CHANGE_TYPES) {
      source.addEventListener(type, (message) => this.receive(type, JSON.parse(message.data)));
    }
    source.onopen = () => this.resync();
    source.onerror = () => {
      this.setStatus('lost');
      if (source.readyState === EventSource.CLOSED) {
        setTimeout(() => this.start(), RECONNECT_DELAY_MS);
      }
    };
  }

  receive(type, data) {
    if (this.held) {
      this.held.push([type, data]);
    } else {
      this.dispatch(type, data);
    }
  }

  dispatch(type, data) {
    for (const handler of this.handlers.get(type)) {
      handler(data);
    }
  }

  async resync() {
    const generation = ++this.generation;
    this.held = [];
    this.setStatus('connecting');
    const results = await Promise.allSettled(this.loaders.map((loader) => loader()));
    if (generation !== this.generation) {
      return;  // a newer connection took over and loads its own snapshot
    }
    const held = this.held;
    this.held = null;
    for (const [type, data] of held) {
      this.dispatch(type, data);
    }
    const failed = results.find((result) => result.status === 'rejected');
    this.setStatus(failed ? 'lost' : 'live', failed ? failed.reason.message : '');
  }

  setStatus(status, detail = '') {
    for (const listener of this.statusListeners) {
      listener(status, detail);
    }
  }
}
