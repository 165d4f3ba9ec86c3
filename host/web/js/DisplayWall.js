import { BRIGHTNESS_LEVELS, BRIGHTNESS_SLOT, NAMESET_SLOT, NameSets, ROUTER } from './NameSets.js';

// The studio's wall of under-monitor displays: one display per router
// source, each showing the source's name in the name set that the tally
// infodriver's slot 212 selects, at the brightness its slot 211 sets. It
// draws the devices as they are; nothing here depends on a panel.
export class DisplayWall {
  constructor(root, studio) {
    this.root = root;
    this.studio = studio;
    this.sets = new NameSets(studio);
    this.active = false;
    this.caption = root.querySelector('[data-wall-caption]');
    this.grid = root.querySelector('[data-wall-grid]');
    this.tiles = [];
    this.drawnListeners = [];
    studio.onChange((change) => this.changed(change));
  }

  // `listener()` is called each time the tiles have been drawn anew.
  onDrawn(listener) {
    this.drawnListeners.push(listener);
  }

  drawn() {
    for (const listener of this.drawnListeners) {
      listener();
    }
  }

  // Starts drawing; called when the view is first opened.
  activate() {
    if (!this.active) {
      this.active = true;
      this.redraw();
    }
  }

  changed(change) {
    if (!this.active) {
      return;
    }
    const tally = this.sets.tallyDevice();
    const slotOfWall = change.type === 'slot' && change.device === tally &&
      (change.index === NAMESET_SLOT || change.index === BRIGHTNESS_SLOT);
    const shown = this.location();
    const namesOfWall = change.type === 'database' && shown &&
      change.device === shown.device && change.database === shown.database;
    const titles = this.sets.titleLocation();
    const titleOfWall = change.type === 'database' && titles &&
      change.device === titles.device && change.database === titles.database &&
      change.index === this.shownSet();
    if (change.type === 'catalog' || slotOfWall || titleOfWall) {
      this.redraw();
    } else if (namesOfWall) {
      this.drawTile(change.index, change.text);
    }
  }

  // The name set slot 212 selects, or null when it holds no set number.
  shownSet() {
    const tally = this.sets.tallyDevice();
    const text = tally === null ? undefined : this.studio.slot(tally, NAMESET_SLOT);
    const set = /^\d+$/.test(text ?? '') ? Number(text) : NaN;
    return NameSets.numbers().includes(set) ? set : null;
  }

  location() {
    const set = this.shownSet();
    return set === null ? null : this.sets.location(set);
  }

  redraw() {
    this.update().catch((error) => { this.caption.textContent = error.message; });
  }

  async update() {
    const tally = this.sets.tallyDevice();
    const router = this.studio.deviceNamed(ROUTER);
    if (tally === null || !router) {
      this.caption.textContent = 'The tally infodriver or the router is not configured.';
      return;
    }
    this.ensureTiles(router.entries);
    await Promise.all([this.studio.watchSlot(tally, NAMESET_SLOT),
      this.studio.watchSlot(tally, BRIGHTNESS_SLOT), this.sets.loadTitles()]);
    this.drawBrightness(this.studio.slot(tally, BRIGHTNESS_SLOT));
    const set = this.shownSet();
    const where = this.location();
    if (!where) {
      this.caption.textContent =
        `Slot ${NAMESET_SLOT} holds "${this.studio.slot(tally, NAMESET_SLOT)}", which is no name set.`;
      this.tiles.forEach((tile, index) => this.drawTile(index + 1, ''));
      this.root.dataset.nameset = '';
      this.drawn();
      return;
    }
    const names = await this.studio.names(where.device, where.database);
    if (set !== this.shownSet()) {
      return;  // the choice changed while the names loaded; that update draws
    }
    this.caption.textContent = `${this.sets.label(set)}, brightness ${this.brightness}`;
    this.tiles.forEach((tile, index) => this.drawTile(index + 1, names[index + 1] ?? ''));
    this.root.dataset.nameset = String(set);
    this.drawn();
  }

  ensureTiles(count) {
    if (this.tiles.length === count) {
      return;
    }
    this.grid.replaceChildren();
    this.tiles = [...Array(count).keys()].map((index) => {
      const tile = document.createElement('li');
      tile.className = 'umd';
      tile.dataset.source = String(index + 1);
      const number = document.createElement('span');
      number.className = 'umd-number';
      number.textContent = String(index + 1);
      const name = document.createElement('span');
      name.className = 'umd-name';
      tile.append(number, name);
      this.grid.append(tile);
      return tile;
    });
  }

  drawTile(source, text) {
    const tile = this.tiles[source - 1];
    if (tile) {
      tile.querySelector('.umd-name').textContent = text;
    }
  }

  drawBrightness(text) {
    const level = /^\d+$/.test(text ?? '') ? Number(text) : NaN;
    const known = level >= 1 && level <= BRIGHTNESS_LEVELS;
    this.root.dataset.brightness = known ? String(level) : '';
    this.brightness = known ? `${level} of ${BRIGHTNESS_LEVELS}` : `unknown (slot ${BRIGHTNESS_SLOT}: "${text ?? ''}")`;
  }
}
