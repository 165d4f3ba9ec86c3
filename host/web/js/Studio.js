// What the page knows of the simulated devices: their catalog, the name
// databases and infodriver slots that some view asked for (and those the
// stream's start message brings), kept current from the event stream. A table asked for while a write is under way is
// never left older than the write: changes that arrive while it loads are
// applied after it.

export class Studio {
  constructor(api, stream) {
    this.api = api;
    this.catalog = [];
    this.tables = new Map();  // "device/database" -> {names, pending, loaded}
    this.slotValues = new Map();  // "device/index" -> text
    this.listeners = [];
    stream.onResync((start, resumed) => this.reload(start, resumed));
    stream.on('database', (change) => this.databaseChanged(change));
    stream.on('slot', (change) => this.slotChanged(change));
  }

  // `listener(change)` hears {type: "catalog"}, {type: "database", device,
  // database, index, text} and {type: "slot", device, index, text}.
  onChange(listener) {
    this.listeners.push(listener);
  }

  notify(change) {
    for (const listener of this.listeners) {
      listener(change);
    }
  }

  // Takes the catalog and the name databases of the stream's start
  // message at once, then reads again the other tables and slots in use.
  // `resumed`: the start's tables are those held already; only the others
  // are read again, and the views hear of it only when there were any.
  async reload(start, resumed) {
    this.catalog = start.devices.devices;
    const tables = [...this.tables.keys()];
    const fromStart = new Set(start.names.map((answer) => `${answer.device}/${answer.database}`));
    if (resumed) {
      tables.filter((key) => !fromStart.has(key)).forEach((key) => this.tables.delete(key));
    } else {
      this.tables.clear();
      for (const answer of start.names) {
        const names = namesOf(answer);
        this.tables.set(`${answer.device}/${answer.database}`,
          { names, pending: null, loaded: Promise.resolve(names) });
      }
    }
    const others = tables.filter((key) => !fromStart.has(key));
    await Promise.all(others.map((key) => this.names(...key.split('/').map(Number))));
    const slots = [...this.slotValues.keys()].map((key) => key.split('/').map(Number));
    await Promise.all(slots.map(([device, index]) => this.loadSlot(device, index, true)));
    if (!resumed || others.length > 0 || slots.length > 0) {
      this.notify({ type: 'catalog' });
    }
  }

  deviceNamed(name) {
    return this.catalog.find((device) => device.name === name);
  }

  deviceNumbered(number) {
    return this.catalog.find((device) => device.number === number);
  }

  // The names of one database, entry n at position n (position 0 unused);
  // loads the table on first use.
  names(device, database) {
    const key = `${device}/${database}`;
    let table = this.tables.get(key);
    if (!table) {
      table = { names: null, pending: [] };
      table.loaded = this.api.database(device, database).then((answer) => {
        const names = namesOf(answer);
        for (const change of table.pending) {
          names[change.index] = change.text;
        }
        table.names = names;
        table.pending = null;
        return names;
      }, (error) => {
        this.tables.delete(key);
        throw error;
      });
      this.tables.set(key, table);
    }
    return table.loaded;
  }

  // The names of a table already loaded, or undefined.
  loadedNames(device, database) {
    const table = this.tables.get(`${device}/${database}`);
    return table ? table.names ?? undefined : undefined;
  }

  databaseChanged(change) {
    const table = this.tables.get(`${change.device}/${change.database}`);
    if (table && table.names) {
      table.names[change.index] = change.text;
    } else if (table) {
      table.pending.push(change);
    }
    this.notify({ type: 'database', ...change });
  }

  // The text of one slot: from the stream once watched, loaded on first use.
  async watchSlot(device, index) {
    const key = `${device}/${index}`;
    if (!this.slotValues.has(key)) {
      this.slotValues.set(key, undefined);
      await this.loadSlot(device, index, false);
    }
    return this.slotValues.get(key);
  }

  slot(device, index) {
    return this.slotValues.get(`${device}/${index}`);
  }

  // Stores the slot's text as the host has it; unless `replace`, a text
  // the stream brought in the meantime is newer and stays.
  async loadSlot(device, index, replace) {
    const answer = await this.api.slot(device, index);
    const key = `${device}/${index}`;
    if (replace || this.slotValues.get(key) === undefined) {
      this.slotValues.set(key, answer.text);
    }
  }

  slotChanged(change) {
    this.slotValues.set(`${change.device}/${change.index}`, change.text);
    this.notify({ type: 'slot', ...change });
  }

  // The slots of an infodriver that hold a text, as the host has them now.
  writtenSlots(device) {
    return this.api.slots(device);
  }

  // Writes that the devices pane makes; the stream reports their effect.
  writeName(device, database, index, text) {
    return this.api.writeName(device, database, index, text);
  }

  writeSlot(device, index, text) {
    return this.api.writeSlot(device, index, text);
  }
}

// The names of a database as GET /api/devices/{n}/databases/{n} answers
// them, entry n at position n (position 0 unused).
function namesOf(answer) {
  const names = [''];
  for (const entry of answer.entries) {
    names[entry.index] = entry.text;
  }
  return names;
}
