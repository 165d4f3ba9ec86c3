import { NameSets } from './NameSets.js';
import { undoBatch, undoText } from './NameSetsPane.js';

// Entries one page of the history holds.
const PAGE = 100;
// How long the history waits after a write before it reads itself again,
// so that a burst of writes costs one request.
const REFRESH_DELAY_MS = 250;

// The audit trail of name writes, newest first: who changed which name,
// from what to what. Filtered by name set (or the titles) and source; it
// reads itself again when a name is written. Any write can be restored
// (its old text written back); the writes of one import or copy show as
// one row that undoes them together. For an admin it also shows the
// account changes instead: who added, removed, re-roled or reset whom,
// which token was made or revoked, by whom and from which address.
export class HistoryPane {
  constructor(root, api, studio) {
    this.api = api;
    this.studio = studio;
    this.sets = new NameSets(studio);
    this.active = false;
    // Whether the account may write names: only then are there restore
    // and undo buttons.
    this.writable = true;
    this.shown = [];
    this.root = root;
    this.kindSelect = root.querySelector('[data-history-kind]');
    this.kindSelect.addEventListener('change', () => this.load(false));
    this.changeRows = root.querySelector('[data-account-changes-rows]');
    this.setSelect = root.querySelector('[data-history-set]');
    this.sourceInput = root.querySelector('[data-history-source]');
    this.rows = root.querySelector('[data-history-rows]');
    this.more = root.querySelector('[data-history-more]');
    this.status = root.querySelector('[data-history-status]');
    // What the last restore or undo did; kept while the list reloads.
    this.result = root.querySelector('[data-history-result]');
    root.querySelector('[data-history-filter]').addEventListener('submit', (event) => {
      event.preventDefault();
      this.load(false);
    });
    this.setSelect.addEventListener('change', () => this.load(false));
    this.more.addEventListener('click', () => this.load(true));
    studio.onChange((change) => {
      if (this.active && (change.type === 'database' || change.type === 'catalog')) {
        clearTimeout(this.refreshTimer);
        this.refreshTimer = setTimeout(() => this.load(false), REFRESH_DELAY_MS);
      }
    });
  }

  setWritable(writable) {
    this.writable = writable;
    if (this.active) {
      this.load(false);
    }
  }

  // Whether the account may read the account changes (an admin).
  setAccountChanges(allowed) {
    this.root.querySelector('[data-history-kind-field]').hidden = !allowed;
    if (!allowed) {
      this.kindSelect.value = 'names';
    }
  }

  showsAccounts() {
    return this.kindSelect.value === 'accounts';
  }

  async activate() {
    if (!this.active) {
      this.active = true;
      await this.sets.loadTitles().catch(() => undefined);
      this.drawSetChoices();
      await this.load(false);
    }
  }

  drawSetChoices() {
    const chosen = this.setSelect.value;
    const options = [new Option('All name sets and titles', 'all')];
    for (const set of NameSets.numbers()) {
      options.push(new Option(this.sets.label(set), String(set)));
    }
    options.push(new Option('Titles of the name sets', 'titles'));
    this.setSelect.replaceChildren(...options);
    this.setSelect.value = [...this.setSelect.options].some((option) => option.value === chosen) ? chosen : 'all';
  }

  // The history query of the filters; null when they name nothing that
  // exists (an unknown device).
  query() {
    const choice = this.setSelect.value;
    const where = choice === 'all' ? {} :
      choice === 'titles' ? this.sets.titleLocation() : this.sets.location(Number(choice));
    if (!where) {
      return null;
    }
    const source = this.sourceInput.value.trim();
    return { device: where.device, database: where.database, index: source === '' ? undefined : Number(source) };
  }

  // Reads the newest page, or with `more` the page after the rows shown.
  // Only the newest of loads that overlap shows its answer.
  async load(more) {
    const generation = this.generation = (this.generation ?? 0) + 1;
    const current = () => generation === this.generation;
    const accounts = this.showsAccounts();
    this.root.querySelector('[data-history-table]').hidden = accounts;
    this.root.querySelector('[data-account-changes-table]').hidden = !accounts;
    for (const field of this.root.querySelectorAll('[data-history-name-filter]')) {
      field.hidden = accounts;
    }
    if (accounts) {
      await this.loadAccountChanges(more, current);
      return;
    }
    const query = this.query();
    if (!query) {
      this.status.textContent = 'That name set lives on a device the host does not have.';
      return;
    }
    const before = more && this.shown.length ? this.shown.at(-1).id : undefined;
    const limit = more ? PAGE : Math.max(PAGE, this.shown.length);
    try {
      const answer = await this.api.history({ ...query, before, limit });
      if (!current()) {
        return;
      }
      this.shown = more ? this.shown.concat(answer.entries) : answer.entries;
      this.more.hidden = answer.entries.length < limit;
      this.status.textContent = this.shown.length ? `${this.shown.length} writes, newest first` : 'No writes match.';
      this.rows.replaceChildren(...this.grouped().flatMap((group) =>
        group.batch ? [this.batchRow(group)] : group.entries.map((entry) => this.row(entry))));
    } catch (error) {
      this.status.textContent = error.message;
    }
  }

  async loadAccountChanges(more, current) {
    const before = more && this.shownChanges?.length ? this.shownChanges.at(-1).id : 0;
    try {
      const { changes } = await this.api.request('GET',
        `/api/account-changes?before=${before}&limit=${PAGE}`);
      if (!current()) {
        return;
      }
      this.shownChanges = more ? this.shownChanges.concat(changes) : changes;
      this.more.hidden = changes.length < PAGE;
      this.status.textContent = this.shownChanges.length ?
        `${this.shownChanges.length} account changes, newest first` : 'No account changes yet.';
      this.changeRows.replaceChildren(...this.shownChanges.map((change) => {
        const row = document.createElement('tr');
        for (const text of [new Date(change.time).toLocaleString(), change.actor, change.address,
          change.action.replace('-', ' '), change.subject, change.detail]) {
          row.insertCell().textContent = text;
        }
        return row;
      }));
    } catch (error) {
      this.status.textContent = error.message;
    }
  }

  row(entry) {
    const row = document.createElement('tr');
    const set = this.sets.setOf(entry.device, entry.database);
    const titles = this.sets.titleLocation();
    const isTitle = titles && entry.device === titles.device && entry.database === titles.database;
    const what = isTitle ? `title of set ${entry.index}` :
      set === null ? `${entry.deviceName} database ${entry.database} entry ${entry.index}` :
        `set ${set}, source ${entry.index}`;
    const cells = [new Date(entry.time).toLocaleString(), entry.who, what, entry.old, entry.new];
    for (const text of cells) {
      row.insertCell().textContent = text;
    }
    const actions = row.insertCell();
    if (this.writable) {
      actions.append(this.button('Restore', `Restore "${entry.old}"`, () => this.restore(entry)));
    }
    return row;
  }

  // The rows shown, consecutive writes of one batch taken together.
  grouped() {
    const groups = [];
    for (const entry of this.shown) {
      const last = groups.at(-1);
      if (entry.batch && last?.batch?.id === entry.batch.id) {
        last.entries.push(entry);
      } else {
        groups.push({ batch: entry.batch, entries: [entry] });
      }
    }
    return groups;
  }

  batchRow(group) {
    const row = document.createElement('tr');
    row.className = 'batch';
    const first = group.entries[0];
    const count = group.batch.size;
    const cells = [new Date(first.time).toLocaleString(), first.who,
      `${group.batch.kind} ${group.batch.id}: ${group.batch.what} (${count} ${count === 1 ? 'name' : 'names'})`, '', ''];
    for (const text of cells) {
      row.insertCell().textContent = text;
    }
    const details = [];
    const show = this.button('Names', 'Show the names', async () => {
      if (details.length) {
        details.splice(0).forEach((detail) => detail.remove());
        return;
      }
      try {
        const { entries } = await this.api.request('GET', `/api/batches/${group.batch.id}`);
        details.push(...entries.map((entry) => this.row(entry)));
        row.after(...details);
      } catch (error) {
        this.status.textContent = error.message;
      }
    });
    const undo = this.button('Undo', `Undo ${group.batch.kind} ${group.batch.id}`, async () => {
      try {
        this.result.textContent = undoText(await undoBatch(this.api, group.batch.id));
      } catch (error) {
        this.result.textContent = error.message;
      }
    });
    row.insertCell().append(...(this.writable ? [show, undo] : [show]));
    return row;
  }

  button(text, label, action) {
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = text;
    button.setAttribute('aria-label', label);
    button.addEventListener('click', action);
    return button;
  }

  async restore(entry) {
    try {
      await this.api.request('POST', `/api/history/${entry.id}/restore`, {});
      this.result.textContent = `Restored "${entry.old}" (history entry ${entry.id}).`;
    } catch (error) {
      this.result.textContent = error.message;
    }
  }
}
