import { Control } from './Control.js';

// A list of "items" rows shown "pageSize" at a time, the page its "page"
// property names; choosing row N sends "select=N" and the host marks it as
// "index". Rows are captioned with the entries of the database that
// "captionDevice" and "captionDatabase" name, when the layout gives them.
// The list is called what its "spoken" property says and each row after
// its "rowSpoken" word, number and caption ("Source 17: Cam 17").
export class ListControl extends Control {
  build() {
    const element = document.createElement('div');
    element.setAttribute('role', 'group');
    element.setAttribute('aria-label', this.name);
    this.rows = [];
    return element;
  }

  draw() {
    const items = Math.max(0, this.number('items', 0));
    const pageSize = Math.max(1, this.number('pageSize', 1));
    const pages = Math.max(1, Math.ceil(items / pageSize));
    const page = Math.min(Math.max(1, this.number('page', 1)), pages);
    const chosen = this.number('index', 0);
    const captions = this.surface.captions(this.properties.captionDevice,
      this.properties.captionDatabase, () => this.refresh());
    this.ensureRows(pageSize);
    this.element.dataset.page = String(page);
    this.rows.forEach((row, position) => {
      const item = (page - 1) * pageSize + position + 1;
      row.button.hidden = item > items;
      row.button.dataset.row = String(item);
      row.button.setAttribute('aria-pressed', String(item === chosen));
      row.button.disabled = !this.enabled;
      row.number.textContent = String(item);
      row.caption.textContent = captions ? captions[item] ?? '' : '';
      const said = [this.properties.rowSpoken, String(item)].filter(Boolean).join(' ');
      row.button.setAttribute('aria-label',
        row.caption.textContent ? `${said}: ${row.caption.textContent}` : said);
    });
  }

  smallestTarget() {
    return Math.min(this.number('width', 0), this.number('height', 0) / Math.max(1, this.number('pageSize', 1)));
  }

  speak() {
    this.element.setAttribute('aria-label', this.properties.spoken || this.name);
  }

  ensureRows(pageSize) {
    if (this.rows.length === pageSize) {
      return;
    }
    this.element.replaceChildren();
    this.rows = [...Array(pageSize).keys()].map(() => {
      const row = { number: document.createElement('span'), caption: document.createElement('span') };
      row.button = this.eventButton(() => `select=${row.button.dataset.row}`);
      row.button.className = 'list-row';
      row.number.className = 'row-number';
      row.caption.className = 'row-caption';
      row.button.append(row.number, row.caption);
      row.button.style.height = `${100 / pageSize}%`;
      this.element.append(row.button);
      return row;
    });
  }
}
