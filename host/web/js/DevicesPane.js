import { NameSets } from './NameSets.js';

// The devices pane: changes made elsewhere. It edits the router's names,
// the names infodriver's database entries and the infodrivers' slots
// directly through the host, as another system in the studio would, so a
// person can watch the panels follow a change they did not make. An entry
// being edited here keeps what the person typed when the device reports a
// change; the row then says what the device now holds. An account that may
// not write to the devices sees what they hold and no control to change it.
export class DevicesPane {
  constructor(root, studio) {
    this.studio = studio;
    this.sets = new NameSets(studio);
    this.active = false;
    this.writable = true;
    this.deviceSelect = root.querySelector('[data-devices-device]');
    this.databaseSelect = root.querySelector('[data-devices-database]');
    this.databaseField = root.querySelector('[data-devices-database-field]');
    this.entries = root.querySelector('[data-devices-entries]');
    this.entriesTable = root.querySelector('[data-devices-entries-table]');
    this.slotSection = root.querySelector('[data-devices-slots]');
    this.slotRows = root.querySelector('[data-devices-slot-rows]');
    this.slotForm = root.querySelector('[data-devices-slot-form]');
    this.status = root.querySelector('[data-devices-status]');
    this.caption = root.querySelector('[data-devices-caption]');
    this.deviceSelect.addEventListener('change', () => this.drawDevice());
    this.databaseSelect.addEventListener('change', () => this.drawDatabase().catch((error) => this.report(error)));
    this.slotForm.addEventListener('submit', (event) => {
      event.preventDefault();
      const form = new FormData(this.slotForm);
      this.writeSlot(Number(form.get('index')), String(form.get('text')));
    });
    studio.onChange((change) => this.changed(change));
  }

  // Whether the person may write names and slots; when not, the pane only
  // shows them.
  setWritable(writable, role) {
    this.writable = writable;
    this.slotForm.hidden = !writable;
    if (!writable) {
      this.caption.textContent = `Read only: a ${role} account cannot write to the devices.`;
    }
  }

  activate() {
    if (!this.active) {
      this.active = true;
      this.drawDevices();
    }
  }

  device() {
    return this.studio.deviceNumbered(Number(this.deviceSelect.value));
  }

  changed(change) {
    if (!this.active) {
      return;
    }
    const device = this.device();
    if (change.type === 'catalog') {
      this.drawDevices();
    } else if (change.type === 'database' && device && change.device === device.number &&
               change.database === Number(this.databaseSelect.value)) {
      this.entryChanged(change.index, change.text);
    } else if (change.type === 'slot' && device && change.device === device.number) {
      this.drawSlot(change.index, change.text);
    }
  }

  drawDevices() {
    const chosen = this.deviceSelect.value;
    this.deviceSelect.replaceChildren(...this.studio.catalog.map((device) =>
      new Option(`${device.number}: ${device.name}`, String(device.number))));
    if (chosen !== '' && this.studio.deviceNumbered(Number(chosen))) {
      this.deviceSelect.value = chosen;
    }
    this.drawDevice();
  }

  drawDevice() {
    const device = this.device();
    if (!device) {
      return;
    }
    const chosen = this.databaseSelect.value;
    this.databaseSelect.replaceChildren(...device.databases.map((database) =>
      new Option(this.databaseLabel(device, database), String(database))));
    if (chosen !== '' && device.databases.includes(Number(chosen))) {
      this.databaseSelect.value = chosen;
    }
    this.databaseField.hidden = device.databases.length === 0;
    this.entriesTable.hidden = device.databases.length === 0;
    this.slotSection.hidden = device.slots === 0;
    this.drawDatabase().catch((error) => this.report(error));
    this.drawSlots().catch((error) => this.report(error));
  }

  report(error) {
    this.status.textContent = error.message;
  }

  databaseLabel(device, database) {
    if (device.titleDatabase && database === device.titleDatabase) {
      return `Database ${database}: titles of the name sets`;
    }
    const set = this.sets.setOf(device.number, database);
    return set === null ? `Database ${database}` : `Database ${database}: name set ${set}`;
  }

  async drawDatabase() {
    const device = this.device();
    this.entries.replaceChildren();
    if (!device || device.databases.length === 0) {
      return;
    }
    const database = Number(this.databaseSelect.value);
    const names = await this.studio.names(device.number, database);
    if (device !== this.device() || database !== Number(this.databaseSelect.value)) {
      return;  // another choice was made while the names loaded
    }
    const rows = [];
    for (let index = 1; index <= device.entries; ++index) {
      rows.push(this.entryRow(device, database, index, names[index] ?? ''));
    }
    this.entries.replaceChildren(...rows);
  }

  entryRow(device, database, index, text) {
    const row = document.createElement('tr');
    row.dataset.entry = String(index);
    const id = `entry-${device.number}-${database}-${index}`;
    const label = document.createElement('label');
    label.htmlFor = id;
    label.textContent = String(index);
    row.insertCell().append(label);
    if (!this.writable) {
      const shown = row.insertCell();
      shown.id = id;
      shown.className = 'entry-text';
      shown.textContent = text;
      return row;
    }
    const form = document.createElement('form');
    const input = document.createElement('input');
    input.id = id;
    input.name = 'text';
    input.value = text;
    input.dataset.stored = text;
    input.autocomplete = 'off';
    const save = document.createElement('button');
    save.type = 'submit';
    save.textContent = 'Write';
    save.disabled = true;
    const note = document.createElement('span');
    note.className = 'entry-note';
    input.addEventListener('input', () => { save.disabled = input.value === input.dataset.stored; });
    form.append(input, save, note);
    form.addEventListener('submit', (event) => {
      event.preventDefault();
      this.write(device.number, database, index, input, note);
    });
    row.insertCell().append(form);
    return row;
  }

  async write(device, database, index, input, note) {
    note.textContent = 'writing…';
    try {
      await this.studio.writeName(device, database, index, input.value);
      note.textContent = '';
    } catch (error) {
      note.textContent = error.message;
    }
  }

  entryChanged(index, text) {
    const row = this.entries.querySelector(`tr[data-entry="${index}"]`);
    if (!row) {
      return;
    }
    const input = row.querySelector('input');
    if (!input) {
      row.querySelector('.entry-text').textContent = text;
      return;
    }
    const note = row.querySelector('.entry-note');
    const editing = input.value !== input.dataset.stored;
    input.dataset.stored = text;
    if (!editing || input.value === text) {
      input.value = text;
      note.textContent = '';
    } else {
      note.textContent = `now "${text}" on the device`;
    }
    row.querySelector('button').disabled = input.value === text;
  }

  async drawSlots() {
    const device = this.device();
    this.slotRows.replaceChildren();
    if (!device || device.slots === 0) {
      return;
    }
    const answer = await this.studio.writtenSlots(device.number);
    if (device !== this.device()) {
      return;
    }
    for (const slot of answer.slots) {
      this.drawSlot(slot.index, slot.text);
    }
  }

  // Shows one slot's text, adding its row in slot order when it is new.
  drawSlot(index, text) {
    let row = this.slotRows.querySelector(`tr[data-slot="${index}"]`);
    if (!row) {
      row = document.createElement('tr');
      row.dataset.slot = String(index);
      row.insertCell().textContent = String(index);
      row.insertCell();
      if (!this.writable) {
        row.insertCell();
        const later = [...this.slotRows.rows].find((other) => Number(other.dataset.slot) > index);
        this.slotRows.insertBefore(row, later ?? null);
        row.cells[1].textContent = text;
        return;
      }
      const edit = document.createElement('button');
      edit.type = 'button';
      edit.textContent = 'Edit';
      edit.addEventListener('click', () => {
        this.slotForm.elements.index.value = String(index);
        this.slotForm.elements.text.value = row.cells[1].textContent;
        this.slotForm.elements.text.focus();
      });
      row.insertCell().append(edit);
      const later = [...this.slotRows.rows].find((other) => Number(other.dataset.slot) > index);
      this.slotRows.insertBefore(row, later ?? null);
    }
    row.cells[1].textContent = text;
  }

  async writeSlot(index, text) {
    const device = this.device();
    this.status.textContent = `writing slot ${index}…`;
    try {
      await this.studio.writeSlot(device.number, index, text);
      this.status.textContent = `slot ${index} written`;
    } catch (error) {
      this.status.textContent = error.message;
    }
  }
}
