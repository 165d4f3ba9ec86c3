// The host's stream of changes (GET /api/stream) with a consistent start.
// The stream's first message on every connection ("start") holds what the
// first view shows, taken by the host at the moment the stream joined its
// broadcast, so the changes after it follow with none missed. On it the
// snapshot loaders run, each given that message: what it holds they take
// at once, the rest they read from the API; the changes that arrive
// meanwhile are held and applied after them, in order. Every change
// carries an absolute value (a property's new value, an entry's new text),
// so applying one that a snapshot already holds does no harm, and nothing
// that happened while the page was away is missed.
//
// The page's own answer may bring that state already (the early stream's
// `state`): the loaders draw from it at once, while the stream, asked to
// start from it, is on its way. Its start then says {session, same} when
// the state is still the host's, and the loaders run again "resumed": the
// views show the state already, and only what they read from the API
// besides (before the stream joined, so possibly older) is read again.
// Otherwise the start brings the new state and everything is drawn anew.

const CHANGE_TYPES = ['control', 'panel', 'instance', 'slot', 'database', 'log', 'tsl', 'router',
  'crosspoint'];
// How long to wait before reconnecting when the browser has given up.
const RECONNECT_DELAY_MS = 2000;

export class ChangeStream {
  // `early` (may be null): a stream opened before the modules loaded, as
  // index.html's inline script leaves it: {source, types, events, stop()},
  // the events of `types` that came so far kept in `events`.
  constructor(url, early) {
    this.url = url;
    this.early = early ?? null;
    this.handlers = new Map(CHANGE_TYPES.map((type) => [type, []]));
    this.loaders = [];
    this.statusListeners = [];
    this.held = null;
    this.generation = 0;
    this.embedded = null;  // the state the page's answer brought, until the stream starts
    this.drawing = null;  // the loaders drawing it
  }

  // `handler(data)` runs for every change of `type`.
  on(type, handler) {
    this.handlers.get(type).push(handler);
  }

  // `loader(start, resumed)` takes the state of the start message and
  // returns a promise (or nothing) for what it loads besides; it runs on
  // every (re)connection, in the order of the calls. `resumed`: the views
  // show this state already; read again only what is not in it.
  onResync(loader) {
    this.loaders.push(loader);
  }

  // `listener(status, detail)`: status is "connecting", "live" or "lost".
  onStatus(listener) {
    this.statusListeners.push(listener);
  }

  start() {
    this.setStatus('connecting');
    const early = this.early;
    this.early = null;
    const source = early ? early.source : new EventSource(this.url);
    this.source = source;
    const listeners = {
      start: (message) => this.started(source, JSON.parse(message.data)),
      error: () => this.failed(source),
    };
    for (const type of CHANGE_TYPES) {
      listeners[type] = (message) => this.receive(type, JSON.parse(message.data));
    }
    for (const [type, listener] of Object.entries(listeners)) {
      source.addEventListener(type, listener);
    }
    if (early) {
      const missing = Object.keys(listeners).filter((type) => !early.types.includes(type));
      if (missing.length) {
        throw new Error(`the early event stream does not keep ${missing.join(', ')}`);
      }
      early.stop();
      if (early.state) {
        this.embedded = early.state;
        this.drawing = Promise.allSettled(this.loaders.map(async (loader) => loader(early.state,
          false)));
      }
      for (const event of early.events) {
        listeners[event.type](event);
      }
    }
  }

  failed(source) {
    this.setStatus('lost');
    if (source.readyState === EventSource.CLOSED) {
      setTimeout(() => this.start(), RECONNECT_DELAY_MS);
    }
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

  // The stream's first message: the page's own state confirmed, or a state
  // to draw anew. A confirmation of a state the page does not hold (it
  // cannot be asked for) is not trusted: the stream starts again afresh.
  started(source, start) {
    const embedded = this.embedded;
    this.embedded = null;
    if (start.same === undefined) {
      this.resync(start, false);
    } else if (embedded && start.same === embedded.state) {
      this.resync({ ...embedded, session: start.session }, true);
    } else {
      source.close();
      this.start();
    }
  }

  async resync(start, resumed) {
    const generation = ++this.generation;
    this.held = [];
    this.setStatus('connecting');
    // The page's own state is drawn first, when it brought one.
    const drawing = this.drawing;
    this.drawing = null;
    await drawing;
    const results = await Promise.allSettled(this.loaders.map(async (loader) => loader(start,
      resumed)));
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
