import { ButtonControl } from './controls/ButtonControl.js';
import { ButtonGroupControl } from './controls/ButtonGroupControl.js';
import { KeyboardControl } from './controls/KeyboardControl.js';
import { LabelControl } from './controls/LabelControl.js';
import { ListControl } from './controls/ListControl.js';

const CONTROL_CLASSES = new Map([
  ['button', ButtonControl],
  ['label', LabelControl],
  ['list', ListControl],
  ['buttongroup', ButtonGroupControl],
  ['keyboard', KeyboardControl],
]);

// Text size of a control, in layout units: a share of its height, within
// the bounds of a readable caption.
const TEXT_SHARE_OF_HEIGHT = 0.42;
const LARGEST_TEXT = 22;
const SMALLEST_TEXT = 11;

// The least side of a touch target, in CSS pixels, and what the borders
// drawn in pixels rather than layout units take from it.
const TOUCH_TARGET_PX = 44;
const BORDERS_PX = 2;

// One loaded panel of a panel instance, drawn from its layout: the controls
// at their layout places on a surface of the layout's proportions that
// scales with the width the page gives it, the statesheets as styles.
export class PanelSurface {
  // `panel` is the panel as GET /api/panels shows it. `host.send(panel,
  // control, event)` delivers an operator event; `host.captions(device,
  // database, onLoaded)` gives a caption database or undefined (and calls
  // onLoaded once it has loaded); `host.announce(text)` reads a change out.
  constructor(panel, host) {
    this.id = panel.panel;
    this.width = panel.width;
    this.height = panel.height;
    this.statesheets = panel.statesheets ?? {};
    this.host = host;
    this.element = document.createElement('section');
    this.element.className = 'panel';
    this.element.dataset.panel = this.id;
    this.element.setAttribute('aria-label', panel.title || `Panel ${this.id}`);
    this.element.style.setProperty('--aspect', `${this.width} / ${this.height}`);
    this.element.style.setProperty('--panel-width', String(this.width));
    this.surface = document.createElement('div');
    this.surface.className = 'panel-surface';
    this.surface.style.backgroundColor = panel.style?.background ?? '';
    this.element.append(this.surface);
    this.controls = new Map();
    for (const definition of panel.controls) {
      const Kind = CONTROL_CLASSES.get(definition.kind) ?? LabelControl;
      const control = new Kind(definition, this);
      this.controls.set(definition.name, control);
      this.surface.append(control.element);
    }
    this.speak();
    this.setShown(panel.shown);
    // On a touch screen the panel is drawn no narrower than makes its
    // smallest target a finger's size; a panel wider than the screen then
    // pans within its own region, never the page.
    const smallest = Math.min(...[...this.controls.values()].map((control) => control.smallestTarget()));
    if (Number.isFinite(smallest) && smallest > 0) {
      this.element.style.setProperty('--touch-width', `${(this.width * (TOUCH_TARGET_PX + BORDERS_PX)) / smallest}px`);
    }
  }

  // Names every control again: a name may quote another control's text.
  speak() {
    for (const control of this.controls.values()) {
      control.speak();
    }
  }

  textOf(control) {
    return this.controls.get(control)?.properties.text ?? '';
  }

  announce(text) {
    this.host.announce(text);
  }

  setShown(shown) {
    this.shown = shown;
    this.element.hidden = !shown;
  }

  apply(control, property, value) {
    this.controls.get(control)?.set(property, value);
    if (property === 'text') {
      this.speak();
    }
  }

  statesheet(name) {
    return (name && this.statesheets[name]) || {};
  }

  // Puts `element` where the properties x, y, width and height say, in
  // shares of the panel, with a text size to match its height.
  place(element, properties) {
    const share = (value, whole) => `${(100 * (Number(value) || 0)) / whole}%`;
    element.style.left = share(properties.x, this.width);
    element.style.top = share(properties.y, this.height);
    element.style.width = share(properties.width, this.width);
    element.style.height = share(properties.height, this.height);
    const text = Math.min(LARGEST_TEXT,
      Math.max(SMALLEST_TEXT, Math.round((Number(properties.height) || 0) * TEXT_SHARE_OF_HEIGHT)));
    element.style.setProperty('--text', String(text));
  }

  send(control, event) {
    return this.host.send(this.id, control, event);
  }

  captions(device, database, onLoaded) {
    return device ? this.host.captions(device, Number(database) || 0, onLoaded) : undefined;
  }

  // Redraws the lists captioned from a database that changed.
  captionsChanged() {
    for (const control of this.controls.values()) {
      if (control instanceof ListControl && control.properties.captionDevice) {
        control.refresh();
      }
    }
  }

  // The keyboard the physical keyboard types into: one that is shown and
  // enabled on a shown panel, if any.
  activeKeyboard() {
    if (!this.shown) {
      return null;
    }
    for (const control of this.controls.values()) {
      if (control instanceof KeyboardControl && control.enabled && control.visible) {
        return control;
      }
    }
    return null;
  }
}
