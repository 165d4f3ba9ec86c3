import { NameSets } from './NameSets.js';

const RESULT_TEXT = { new: 'new', changed: 'changed', unchanged: 'unchanged', wrong: 'wrong' };

// Bulk work on the name sets: import a CSV file into a set after a preview
// of every line (nothing is written while a line is wrong), export a set
// as CSV, copy one set onto another after a preview, compare two sets
// side by side, and find a text in every set, title and router name. Every
// write goes through the host as one batch that the history shows as one
// step and can undo.
export class NameSetsPane {
  // `openEntry(device, database, index)` shows one entry (a found name).
  constructor(root, api, studio, openEntry) {
    this.api = api;
    this.studio = studio;
    this.sets = new NameSets(studio);
    this.openEntry = openEntry;
    this.active = false;
    this.importCsv = null;
    const $ = (selector) => root.querySelector(selector);
    this.access = $('[data-namesets-access]');
    this.importSet = $('[data-import-set]');
    this.importFile = $('[data-import-file]');
    this.importApply = $('[data-import-apply]');
    this.importUndo = $('[data-import-undo]');
    this.importStatus = $('[data-import-status]');
    this.importPreview = $('[data-import-preview]');
    this.importRows = $('[data-import-rows]');
    this.exportLink = $('[data-export-link]');
    this.copyFrom = $('[data-copy-from]');
    this.copyTo = $('[data-copy-to]');
    this.copyTitle = $('[data-copy-title]');
    this.copyApply = $('[data-copy-apply]');
    this.copyStatus = $('[data-copy-status]');
    this.copyTable = $('[data-copy-table]');
    this.copyRows = $('[data-copy-rows]');
    this.compareLeft = $('[data-compare-left]');
    this.compareRight = $('[data-compare-right]');
    this.compareStatus = $('[data-compare-status]');
    this.compareTable = $('[data-compare-table]');
    this.compareRows = $('[data-compare-rows]');
    this.compareHeads = [$('[data-compare-left-head]'), $('[data-compare-right-head]')];
    this.findText = $('[data-find-text]');
    this.findStatus = $('[data-find-status]');
    this.findHits = $('[data-find-hits]');

    this.importFile.addEventListener('change', () => this.readFile());
    this.importSet.addEventListener('change', () => { this.drawExportLink(); this.previewImport(); });
    this.importApply.addEventListener('click', () => this.applyImport());
    this.importUndo.addEventListener('click', () => this.undoImport());
    for (const changed of [this.copyFrom, this.copyTo, this.copyTitle]) {
      changed.addEventListener('change', () => this.forgetCopy());
    }
    $('[data-copy-preview]').addEventListener('click', () => this.copy(false));
    this.copyApply.addEventListener('click', () => this.copy(true));
    $('[data-compare-run]').addEventListener('click', () => this.compare());
    $('[data-find-form]').addEventListener('submit', (event) => {
      event.preventDefault();
      this.find();
    });
    studio.onChange((change) => {
      if (this.active && change.type === 'catalog') {
        this.sets.loadTitles().catch(() => undefined).then(() => this.drawChoices());
      }
    });
  }

  async activate() {
    if (!this.active) {
      this.active = true;
      await this.sets.loadTitles().catch(() => undefined);
      this.drawChoices();
    }
  }

  // Fills every set choice, keeping what was chosen: the user sets as
  // targets of writes, every set (the router's names too) to read from.
  drawChoices() {
    const choices = (userOnly) => NameSets.numbers()
      .filter((set) => !userOnly || NameSets.isUserSet(set))
      .map((set) => ({ set, where: this.sets.location(set) }))
      .filter(({ where }) => where)
      .map(({ set, where }) => new Option(this.sets.label(set), `${where.device}:${where.database}`));
    const fill = (select, userOnly, fallback) => {
      const chosen = select.value;
      select.replaceChildren(...choices(userOnly));
      const keep = [...select.options].some((option) => option.value === chosen);
      select.selectedIndex = keep ? [...select.options].findIndex((option) => option.value === chosen) :
        Math.min(fallback, select.options.length - 1);
    };
    fill(this.importSet, true, 0);
    fill(this.copyFrom, false, 1);
    fill(this.copyTo, true, 1);
    fill(this.compareLeft, false, 1);
    fill(this.compareRight, false, 0);
    this.drawExportLink();
  }

  static where(select) {
    const [device, database] = select.value.split(':').map(Number);
    return { device, database };
  }

  static label(select) {
    return select.selectedOptions[0]?.textContent ?? '';
  }

  drawExportLink() {
    const { device, database } = NameSetsPane.where(this.importSet);
    this.exportLink.href = `/api/devices/${device}/databases/${database}/csv`;
  }

  async readFile() {
    const file = this.importFile.files[0];
    if (!file) {
      return;
    }
    this.importCsv = { name: file.name, text: await file.text() };
    // Emptied, so that choosing the same file again once it is corrected
    // reads it again; the status names the file read.
    this.importFile.value = '';
    await this.previewImport();
  }

  // An account that may not write names gets the previews, exports,
  // comparisons and finds, but no apply.
  setWritable(writable, role) {
    this.importApply.hidden = !writable;
    this.copyApply.hidden = !writable;
    this.access.hidden = writable;
    this.access.textContent = writable ? '' :
      `Read only: a ${role} account can preview, export, compare and find, but not write names.`;
  }

  importPath(suffix) {
    const { device, database } = NameSetsPane.where(this.importSet);
    return `/api/devices/${device}/databases/${database}/import${suffix}`;
  }

  async previewImport() {
    this.importApply.disabled = true;
    this.importUndo.hidden = true;
    if (!this.importCsv) {
      this.importPreview.hidden = true;
      return;
    }
    this.importStatus.textContent = 'reading the file…';
    try {
      const answer = await this.api.request('POST', this.importPath('/preview'), { csv: this.importCsv.text });
      this.drawImport(answer);
      const { counts } = answer;
      this.importApply.disabled = counts.wrong > 0 || counts.new + counts.changed === 0;
      this.importStatus.textContent = `${this.importCsv.name}: ` + (counts.wrong > 0 ?
        `${counts.wrong} wrong lines: correct the file and choose it again; nothing will be written.` :
        `${counts.new} new, ${counts.changed} changed, ${counts.unchanged} unchanged.`);
    } catch (error) {
      this.importStatus.textContent = error.message;
    }
  }

  drawImport(answer) {
    this.importRows.replaceChildren(...answer.lines.map((line) => {
      const row = document.createElement('tr');
      row.dataset.status = line.status;
      const wrong = line.status === 'wrong';
      const cells = [String(line.line), wrong ? '' : String(line.source),
        wrong ? `${RESULT_TEXT.wrong}: ${line.reason}` : RESULT_TEXT[line.status],
        wrong ? '' : line.old, wrong ? line.text : line.new];
      for (const text of cells) {
        row.insertCell().textContent = text;
      }
      return row;
    }));
    this.importPreview.hidden = false;
  }

  async applyImport() {
    this.importApply.disabled = true;
    this.importStatus.textContent = 'writing…';
    try {
      const answer = await this.api.request('POST', this.importPath(''),
        { csv: this.importCsv.text, file: this.importCsv.name });
      this.drawImport(answer);
      this.lastImport = answer.batch;
      this.importUndo.hidden = !answer.batch;
      this.importStatus.textContent = answer.batch ?
        `Imported: ${answer.counts.new + answer.counts.changed} names written as import ${answer.batch.id}.` :
        'Nothing to write: the set already holds these names.';
    } catch (error) {
      this.importStatus.textContent = error.message;
    }
  }

  async undoImport() {
    this.importUndo.hidden = true;
    try {
      const answer = await undoBatch(this.api, this.lastImport.id);
      this.importStatus.textContent = undoText(answer);
    } catch (error) {
      this.importStatus.textContent = error.message;
    }
  }

  forgetCopy() {
    this.copyApply.disabled = true;
    this.copyTable.hidden = true;
    this.copyStatus.textContent = '';
  }

  async copy(apply) {
    const { device, database } = NameSetsPane.where(this.copyTo);
    const body = { from: NameSetsPane.where(this.copyFrom), title: this.copyTitle.checked };
    this.copyApply.disabled = true;
    try {
      const answer = await this.api.request('POST',
        `/api/devices/${device}/databases/${database}/copy${apply ? '' : '/preview'}`,
        body);
      const changes = answer.lines.filter((line) => line.status !== 'unchanged');
      const rows = changes.map((line) => [String(line.source), line.old, line.new]);
      if (answer.title && answer.title.status !== 'unchanged') {
        rows.push(['Title', answer.title.old, answer.title.new]);
      }
      this.copyRows.replaceChildren(...rows.map((cells) => {
        const row = document.createElement('tr');
        for (const text of cells) {
          row.insertCell().textContent = text;
        }
        return row;
      }));
      this.copyTable.hidden = rows.length === 0;
      const what = `${NameSetsPane.label(this.copyFrom)} onto ${NameSetsPane.label(this.copyTo)}`;
      if (apply) {
        this.copyStatus.textContent = answer.batch ? `Copied ${what}: ${rows.length} names written.` : 'Nothing to copy.';
      } else {
        this.copyStatus.textContent = rows.length ? `Copying ${what} changes ${rows.length} names:` :
          `${what}: the sets already agree.`;
        this.copyApply.disabled = rows.length === 0;
      }
    } catch (error) {
      this.copyStatus.textContent = error.message;
    }
  }

  async compare() {
    const left = NameSetsPane.where(this.compareLeft);
    const right = NameSetsPane.where(this.compareRight);
    try {
      const answer = await this.api.request('GET',
        `/api/compare?left=${left.device}:${left.database}&right=${right.device}:${right.database}`);
      this.compareHeads[0].textContent = NameSetsPane.label(this.compareLeft);
      this.compareHeads[1].textContent = NameSetsPane.label(this.compareRight);
      this.compareRows.replaceChildren(...answer.rows.map((entry) => {
        const row = document.createElement('tr');
        row.dataset.differs = String(!entry.same);
        for (const text of [String(entry.index), entry.left, entry.right]) {
          row.insertCell().textContent = text;
        }
        return row;
      }));
      this.compareTable.hidden = false;
      this.compareStatus.textContent = answer.differences ?
        `${answer.differences} sources differ (marked).` : 'The sets agree on every source.';
    } catch (error) {
      this.compareStatus.textContent = error.message;
    }
  }

  async find() {
    const text = this.findText.value;
    try {
      const answer = await this.api.request('GET', `/api/find?${new URLSearchParams({ text })}`);
      this.findHits.replaceChildren(...answer.hits.map((hit) => {
        const item = document.createElement('li');
        const open = document.createElement('button');
        open.type = 'button';
        open.textContent = `${this.hitPlace(hit)}: ${hit.text}`;
        open.addEventListener('click', () => this.openEntry(hit.device, hit.database, hit.index));
        item.append(open);
        return item;
      }));
      this.findStatus.textContent = answer.hits.length === 0 ? `"${text}" is in no set.` :
        `${answer.hits.length}${answer.more ? ' (and more)' : ''} names hold "${text}":`;
    } catch (error) {
      this.findStatus.textContent = error.message;
    }
  }

  hitPlace(hit) {
    if (hit.title) {
      return `Title of set ${hit.index}`;
    }
    const set = this.sets.setOf(hit.device, hit.database);
    return set === null ? `${hit.deviceName} database ${hit.database}, entry ${hit.index}` :
      `${this.sets.label(set)}, source ${hit.index}`;
  }
}

// Undoes a batch of writes (an import, a copy); shared with the history.
export function undoBatch(api, id) {
  return api.request('POST', `/api/batches/${id}/undo`, {});
}

// What an undo did, in words: the names put back and those left alone.
export function undoText(answer) {
  const left = answer.skipped.map((entry) => `source ${entry.index} (${entry.reason})`);
  return `Undone: ${answer.restored} names put back.` +
    (left.length ? ` Left alone, changed since: ${left.join('; ')}.` : '');
}
