// The host's display output (panelhost --tsl): which receivers it drives and
// in what state, and, on the wall, what each display was last sent. A tile
// whose last-sent text differs from the name it should show is marked, so
// a display that lags behind the devices is seen at once; so is a tile whose
// name some display cannot show exactly (a TSL 3.1 display shows 16 ASCII
// characters, and its bus may not reach the source's address).

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
    stream.onResync(() => this.refresh());
    stream.on('tsl', () => this.schedule());
    stream.on('database', () => this.schedule());
    stream.on('slot', () => this.schedule());
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
    if (!status.enabled) {
      this.root.textContent =
        'Display output is off; start panelhost with --tsl udp:HOST:PORT, tcp:HOST:PORT, ' +
        'udp31:HOST:PORT or serial:DEVICE to drive real displays.';
      return;
    }
    const list = document.createElement('ul');
    for (const receiver of status.receivers) {
      const item = document.createElement('li');
      item.dataset.state = receiver.state;
      item.textContent = `${receiver.target}: ${receiver.state}, ${receiver.packetsSent} packets sent` +
        (receiver.packetsDropped ? `, ${receiver.packetsDropped} dropped` : '') +
        (receiver.detail ? ` (${receiver.detail})` : '');
      list.append(item);
    }
    const heading = document.createElement('span');
    heading.textContent = `Display output (TSL UMD): ${status.packets} packets, ` +
      `${status.fullRefreshes} full refreshes`;
    this.root.replaceChildren(heading, list);
    this.displays = status.displays;
    this.markTiles();
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
      tile.title = (display.sent
        ? `Display index ${display.index}: last sent "${display.text}", brightness ${display.brightness}`
        : `Display index ${display.index}: nothing sent yet`) +
        (display.shownAs !== undefined ? `; TSL 3.1 displays show "${display.shownAs}"` : '') +
        (display.unsentTo ? `; not sent to ${display.unsentTo.join(', ')} (beyond its 3.1 addresses)` : '');
    }
  }
}
