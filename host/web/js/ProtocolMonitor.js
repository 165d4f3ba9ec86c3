// The protocol inspector: the host's log as it happens (commands from the
// scripts, answers, hand-backs of answers, notifications to the scripts,
// operator events, host messages, debug output and the host's own reports),
// filtered by kind, panel instance and text, with pause and export as text.

// The kinds of log entry the host writes, in the order they are offered.
const KINDS = ['command', 'answer', 'release', 'notify', 'event', 'message', 'debug', 'tsl', 'info', 'warning',
  'error'];
// Entries kept in the page: as many as the host keeps by default.
const KEPT_ENTRIES = 20000;
// Rows drawn at once; an export holds every matching entry.
const DRAWN_ROWS = 1500;
// Entries one log request asks for.
const LOG_PAGE = 10000;

export class ProtocolMonitor {
  constructor(root, api, stream) {
    this.api = api;
    this.entries = [];
    this.started = false;
    this.paused = false;
    this.heldWhilePaused = 0;
    this.kinds = new Set(KINDS);
    this.offeredKinds = new Set();
    this.arrivedWhileLoading = null;
    this.catchingUp = null;
    this.table = root.querySelector('[data-log-rows]');
    this.scroller = root.querySelector('[data-log-scroller]');
    this.kindBox = root.querySelector('[data-log-kinds]');
    this.instanceSelect = root.querySelector('[data-log-instance]');
    this.textInput = root.querySelector('[data-log-text]');
    this.pauseButton = root.querySelector('[data-log-pause]');
    this.summary = root.querySelector('[data-log-summary]');
    for (const kind of KINDS) {
      this.addKind(kind);
    }
    this.instanceSelect.addEventListener('change', () => this.redraw());
    this.textInput.addEventListener('input', () => this.redraw());
    this.pauseButton.addEventListener('click', () => this.setPaused(!this.paused));
    root.querySelector('[data-log-export]').addEventListener('click', () => this.exportText());
    stream.on('log', (entry) => this.received(entry));
    stream.onResync(() => (this.started ? this.catchUp() : undefined));
  }

  // Loads the log and starts following it; called when the view is first
  // opened.
  activate() {
    if (!this.started) {
      this.started = true;
      this.catchUp().catch((error) => { this.summary.textContent = error.message; });
    }
  }

  // Offers the panel instances in the instance filter.
  setInstances(ids) {
    const chosen = this.instanceSelect.value;
    const options = [['all', 'All'], ['0', 'Host']].concat(ids.map((id) => [String(id), `Instance ${id}`]));
    this.instanceSelect.replaceChildren(...options.map(([value, text]) => new Option(text, value)));
    this.instanceSelect.value = options.some(([value]) => value === chosen) ? chosen : 'all';
  }

  addKind(kind) {
    this.offeredKinds.add(kind);
    const label = document.createElement('label');
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.checked = true;
    box.value = kind;
    box.addEventListener('change', () => {
      if (box.checked) {
        this.kinds.add(kind);
      } else {
        this.kinds.delete(kind);
      }
      this.redraw();
    });
    label.append(box, ` ${kind}`);
    label.className = `log-kind kind-${kind}`;
    this.kindBox.append(label);
  }

  // Reads the entries the page has not seen; after a restart of the host
  // (the last entry seen is not the host's entry of that number) all of them.
  // Entries that arrive meanwhile wait until it is done; a call while one
  // is under way joins it.
  catchUp() {
    this.catchingUp ??= this.catchUpOnce().finally(() => { this.catchingUp = null; });
    return this.catchingUp;
  }

  async catchUpOnce() {
    this.arrivedWhileLoading = [];
    try {
      await this.load();
    } finally {
      const arrived = this.arrivedWhileLoading;
      this.arrivedWhileLoading = null;
      this.redraw();
      arrived.forEach((entry) => this.received(entry));
    }
  }

  async load() {
    const last = this.entries.at(-1);
    if (last) {
      const check = await this.api.log(last.sequence - 1, 1);
      const same = check.entries[0];
      if (!same || same.sequence !== last.sequence || same.time !== last.time) {
        this.entries = [];
      }
    }
    for (;;) {
      const since = this.entries.at(-1)?.sequence ?? 0;
      const page = await this.api.log(since, LOG_PAGE);
      this.store(page.entries);
      if (page.entries.length < LOG_PAGE) {
        break;
      }
    }
  }

  store(entries) {
    for (const entry of entries) {
      if (!this.offeredKinds.has(entry.kind)) {
        this.kinds.add(entry.kind);
        this.addKind(entry.kind);
      }
    }
    this.entries.push(...entries);
    if (this.entries.length > KEPT_ENTRIES) {
      this.entries.splice(0, this.entries.length - KEPT_ENTRIES);
    }
  }

  received(entry) {
    if (this.arrivedWhileLoading) {
      this.arrivedWhileLoading.push(entry);
      return;
    }
    if (!this.started || entry.sequence <= (this.entries.at(-1)?.sequence ?? 0)) {
      return;
    }
    this.store([entry]);
    if (this.paused) {
      this.heldWhilePaused += 1;
      this.drawSummary();
      return;
    }
    if (this.matches(entry)) {
      const following = this.atBottom();
      this.table.append(this.row(entry));
      while (this.table.rows.length > DRAWN_ROWS) {
        this.table.deleteRow(0);
      }
      if (following) {
        this.scroller.scrollTop = this.scroller.scrollHeight;
      }
    }
    this.drawSummary();
  }

  matches(entry) {
    const instance = this.instanceSelect.value;
    const text = this.textInput.value.trim().toLowerCase();
    return this.kinds.has(entry.kind) &&
      (instance === 'all' || String(entry.instance) === instance) &&
      (!text || entry.text.toLowerCase().includes(text));
  }

  atBottom() {
    const scroller = this.scroller;
    return scroller.scrollHeight - scroller.scrollTop - scroller.clientHeight < scroller.clientHeight / 4;
  }

  redraw() {
    const matching = this.entries.filter((entry) => this.matches(entry));
    this.table.replaceChildren(...matching.slice(-DRAWN_ROWS).map((entry) => this.row(entry)));
    this.scroller.scrollTop = this.scroller.scrollHeight;
    this.drawSummary(matching.length);
  }

  drawSummary(matching) {
    const count = matching ?? this.entries.filter((entry) => this.matches(entry)).length;
    const drawn = Math.min(count, DRAWN_ROWS);
    let text = `${count} of ${this.entries.length} entries match`;
    if (drawn < count) {
      text += `; the latest ${drawn} are shown (Export holds them all)`;
    }
    if (this.paused) {
      text += `. Paused: ${this.heldWhilePaused} new entries wait`;
    }
    this.summary.textContent = text;
  }

  row(entry) {
    const row = document.createElement('tr');
    row.className = `kind-${entry.kind}`;
    const cells = [String(entry.sequence), entry.time.slice(11, 23),
      entry.instance === 0 ? 'host' : String(entry.instance), entry.kind, entry.text];
    for (const text of cells) {
      const cell = row.insertCell();
      cell.textContent = text;
    }
    return row;
  }

  setPaused(paused) {
    this.paused = paused;
    this.pauseButton.setAttribute('aria-pressed', String(paused));
    this.pauseButton.textContent = paused ? 'Resume' : 'Pause';
    this.heldWhilePaused = 0;
    if (!paused) {
      this.redraw();
    } else {
      this.drawSummary();
    }
  }

  // Saves every matching entry as a text file, one line each.
  exportText() {
    const lines = this.entries.filter((entry) => this.matches(entry)).map((entry) =>
      `${entry.sequence}\t${entry.time}\t${entry.instance === 0 ? 'host' : `instance ${entry.instance}`}\t${entry.kind}\t${entry.text}`);
    const blob = new Blob([lines.join('\n') + '\n'], { type: 'text/plain' });
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = 'panelhost-log.txt';
    link.click();
    URL.revokeObjectURL(link.href);
  }
}
