// The host's display output (panelhost --tsl): its receivers, in what state
// and driven by which host (hosts on one database take turns), and, on the
// wall, what each display was last sent. A tile
// whose last-sent text differs from the name it should show is marked, so
// a display that lags behind the devices is seen at once; so is a tile whose
// name some display cannot show exactly (a TSL 3.1 display shows 16 ASCII
// characters, and its bus may not reach the source's address).
// With a router behind the router device (panelhost --router) it also says
// whether the router is reachable, and for targets that follow the router
// lists each display's destination, the source routed to it and the name
// it shows.
// With tally inputs (panelhost --tally-in) each tile shows its source's
// lamps (left, text and right, red, green or amber) as they change, and its
// title names the inputs that lit them; the inputs' counts are listed.

// Changes of the output come in bursts (a whole wall is several packets):
// one reading of the status follows each burst.
const SETTLE_MS = 150;

export class DisplayOutputStatus {
  constructor(root, grid, api, stream) {
    this.root = root;
    this.grid = grid;
    this.api = api;
    this.timer = null;
    this.displays = [];  // what the last reading said each display was sent
    // Read again on every connection, not held for: the reading is no
    // snapshot the changes apply to, and every change reads it again.
    stream.onResync(() => { this.refresh(); });
    stream.on('tsl', (data) => {
      if (data.tallies) {
        this.showLamps(data.tallies);
      }
      this.schedule();
    });
    stream.on('database', () => this.schedule());
    stream.on('slot', () => this.schedule());
    stream.on('router', () => this.schedule());
    stream.on('crosspoint', () => this.schedule());
  }

  schedule() {
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.refresh(), SETTLE_MS);
  }

  async refresh() {
    let status;
    try {
      status = await this.api.displayOutput();
    } catch (error) {
      this.root.textContent = `Display output: ${error.message}`;
      return;
    }
    this.root.dataset.enabled = String(status.enabled);
    const router = this.routerLine(status.router);
    if (!status.enabled) {
      const off = document.createElement('span');
      off.textContent =
        'Display output is off; start panelhost with --tsl udp:HOST:PORT, tcp:HOST:PORT, ' +
        'udp31:HOST:PORT or serial:DEVICE to drive real displays.';
      this.root.replaceChildren(off, ...router);
      return;
    }
    const list = document.createElement('ul');
    for (const receiver of status.receivers) {
      const item = document.createElement('li');
      item.dataset.state = receiver.state;
      item.dataset.driving = String(receiver.driving);
      item.textContent = `${receiver.target}: ${receiver.state}, ${receiver.packetsSent} packets sent` +
        (receiver.packetsDropped ? `, ${receiver.packetsDropped} dropped` : '') +
        (receiver.detail ? ` (${receiver.detail})` : '') + `; ${this.driverText(receiver)}`;
      list.append(item);
    }
    const heading = document.createElement('span');
    heading.textContent = `Display output (TSL UMD): ${status.packets} packets, ` +
      `${status.fullRefreshes} full refreshes`;
    this.root.replaceChildren(heading, list, ...this.tallyInputList(status.tallyInputs), ...router,
      ...this.routedTable(status.routed));
    this.displays = status.displays;
    this.markTiles();
  }

  // The tally inputs and their counts, as nothing or a heading and a list.
  tallyInputList(inputs) {
    if (!inputs || inputs.length === 0) {
      return [];
    }
    const heading = document.createElement('span');
    heading.textContent = 'Tally inputs:';
    const list = document.createElement('ul');
    list.dataset.tallyInputs = '';
    for (const input of inputs) {
      const item = document.createElement('li');
      item.dataset.stale = String(input.stale);
      item.textContent = `${input.input}: ${input.packets} packet${input.packets === 1 ? '' : 's'}` +
        (input.dropped ? `, ${input.dropped} dropped` : '') +
        (input.silentSeconds === null ? ', nothing received yet' : '') +
        (input.stale ? ', stale: its lamps are off' : '');
      list.append(item);
    }
    return [heading, list];
  }

  // Lights the tiles of the given sources ({source, left, text, right,
  // inputs}) at once, before the next reading of the whole status.
  showLamps(sources) {
    for (const lamps of sources) {
      const tile = this.grid.querySelector(`[data-source="${lamps.source}"]`);
      if (tile) {
        this.lightTile(tile, lamps, lamps.inputs);
      }
    }
  }

  lightTile(tile, lamps, inputs) {
    tile.dataset.lampLeft = lamps.left;
    tile.dataset.lampText = lamps.text;
    tile.dataset.lampRight = lamps.right;
    tile.dataset.tallyFrom = (inputs ?? []).join(' ');
  }

  // Who drives a receiver: this host, another host on the same database,
  // or nobody (no host holds it, or this host cannot reach the database).
  driverText(receiver) {
    if (receiver.driving) {
      return 'driven by this host';
    }
    return receiver.driver ? `driven by ${receiver.driver}` : 'driven by nobody';
  }

  // The router's link state, as nothing or one element.
  routerLine(router) {
    if (!router || !router.enabled) {
      return [];
    }
    const line = document.createElement('p');
    line.dataset.router = router.state;
    line.textContent = `Router ${router.router}: ${router.state}` +
      (router.detail ? ` (${router.detail})` : '') +
      (router.state === 'connected' ? '' : '; the last known labels and crosspoints stay in use');
    return [line];
  }

  // The displays that follow the router, as nothing or one table.
  routedTable(routed) {
    if (!routed) {
      return [];
    }
    const table = document.createElement('table');
    table.className = 'routed';
    table.dataset.routed = '';
    const head = table.createTHead().insertRow();
    for (const title of ['Display', 'Destination', 'Routed source', 'Name']) {
      const cell = document.createElement('th');
      cell.textContent = title;
      head.append(cell);
    }
    const body = table.createTBody();
    for (const display of routed) {
      if (!display.sent) {
        continue;
      }
      const row = body.insertRow();
      row.dataset.destination = String(display.destination);
      const cells = [display.index, display.destination, display.source || 'none', display.text];
      for (const value of cells) {
        row.insertCell().textContent = String(value);
      }
    }
    return [table];
  }

  // Marks the wall's tiles from the last reading; the wall calls it again
  // whenever it has drawn its tiles, which may come after the reading.
  markTiles() {
    for (const display of this.displays) {
      const tile = this.grid.querySelector(`[data-source="${display.source}"]`);
      if (!tile) {
        continue;
      }
      const shown = tile.querySelector('.umd-name')?.textContent ?? '';
      tile.dataset.sent = display.sent ? display.text : '';
      tile.dataset.lagging = String(!display.sent || display.text !== shown);
      tile.dataset.inexact = String(display.exact === false);
      if (display.tally) {
        this.lightTile(tile, display.tally, display.tallyFrom);
      }
      const from = display.tallyFrom?.length ? display.tallyFrom.join(', ') : null;
      tile.title = (display.sent
        ? `Display index ${display.index}: last sent "${display.text}", brightness ${display.brightness}`
        : `Display index ${display.index}: nothing sent yet`) +
        (display.shownAs !== undefined ? `; TSL 3.1 displays show "${display.shownAs}"` : '') +
        (display.unsentTo ? `; not sent to ${display.unsentTo.join(', ')} (beyond its 3.1 addresses)` : '') +
        (from ? `; tally left ${display.tally.left}, text ${display.tally.text}, ` +
          `right ${display.tally.right} from ${from}` : '');
    }
  }
}
