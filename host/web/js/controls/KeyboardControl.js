import { Control } from './Control.js';

// The characters a keyboard sends under a name of their own, because the
// event text reserves them, and the keys that type nothing.
const NAMED_CHARACTERS = new Map([[' ', 'space'], ['.', 'period'], ['=', 'equals']]);
const BACKSPACE = 'backspace';
const RETURN = 'return';
// The printable characters a key may send as itself.
const FIRST_PRINTABLE = '!';
const LAST_PRINTABLE = '~';

// The on-screen keys, row by row. A one-character key types itself (letters
// in upper case while Shift or Caps is on); the others are named.
const ROWS = [
  ['1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '-', BACKSPACE],
  ['q', 'w', 'e', 'r', 't', 'y', 'u', 'i', 'o', 'p', '(', ')'],
  ['a', 's', 'd', 'f', 'g', 'h', 'j', 'k', 'l', "'", '&', RETURN],
  ['shift', 'z', 'x', 'c', 'v', 'b', 'n', 'm', ',', '.', '/', '+'],
  ['caps', 'clear', ' ', '=', '#', ':'],
];
const CAPTIONS = new Map([
  [BACKSPACE, '⌫'], [RETURN, 'Return'], ['shift', '⇧ Shift'], ['caps', 'Caps'],
  ['clear', 'Clear'], [' ', 'Space'],
]);
const SPOKEN = new Map([[BACKSPACE, 'Backspace'], [RETURN, 'Return (end typing)']]);
// Keys wider than one: Return, Shift, Caps, Clear and the space bar.
const WIDTHS = new Map([[RETURN, 2], ['shift', 1.5], ['caps', 1.5], ['clear', 1.5], [' ', 5]]);
// The keyboard's padding, the gaps between its keys and the share of a row
// its typed text takes, in layout units as style.css draws them.
const PADDING = 4;
const GAP = 4;
const TEXT_ROWS = 1.1;

// The on-screen keyboard: shows its "text" and sends "key.K" for each key
// (see the host's control events). Shift and Caps are the keyboard's own
// state in the page; they only decide the case of the letters sent. While
// the keyboard is enabled the physical keyboard types into it as well.
export class KeyboardControl extends Control {
  // The event text of one typed character, or null for a character the
  // keyboard cannot send.
  static eventFor(character) {
    if (NAMED_CHARACTERS.has(character)) {
      return `key.${NAMED_CHARACTERS.get(character)}`;
    }
    const printable = character.length === 1 && character >= FIRST_PRINTABLE && character <= LAST_PRINTABLE;
    return printable ? `key.${character}` : null;
  }

  build() {
    this.shift = false;
    this.caps = false;
    const element = document.createElement('div');
    element.setAttribute('role', 'group');
    // The typed text takes the focus when typing starts, so that the
    // physical keyboard's Enter and Space type there too.
    this.display = document.createElement('div');
    this.display.className = 'kb-text';
    this.display.tabIndex = 0;
    this.display.setAttribute('role', 'textbox');
    this.display.setAttribute('aria-readonly', 'true');
    this.display.setAttribute('aria-label', 'Typed text');
    element.append(this.display);
    this.keys = [];
    for (const row of ROWS) {
      const line = document.createElement('div');
      line.className = 'kb-row';
      for (const key of row) {
        line.append(this.keyButton(key));
      }
      element.append(line);
    }
    return element;
  }

  keyButton(key) {
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'kb-key';
    button.dataset.key = key;
    button.style.flexGrow = String(WIDTHS.get(key) ?? 1);
    if (SPOKEN.has(key)) {
      button.setAttribute('aria-label', SPOKEN.get(key));
    }
    // A key pressed with the mouse or a finger leaves the focus where it
    // was, as a keyboard does; one reached with Tab takes Enter and Space.
    button.addEventListener('mousedown', (event) => event.preventDefault());
    button.addEventListener('click', () => this.press(key));
    this.keys.push(button);
    return button;
  }

  press(key) {
    if (key === 'shift' || key === 'caps') {
      this[key] = !this[key];
      this.draw();
    } else if (key === 'clear') {
      for (let left = [...(this.properties.text ?? '')].length; left > 0; --left) {
        this.send(`key.${BACKSPACE}`);
      }
    } else if (key === BACKSPACE || key === RETURN) {
      this.send(`key.${key}`);
    } else {
      this.send(KeyboardControl.eventFor(this.upper() ? key.toUpperCase() : key));
      if (this.shift) {
        this.shift = false;
        this.draw();
      }
    }
  }

  upper() {
    return this.shift !== this.caps;
  }

  // Types what a physical key stands for; false when the key means nothing
  // to the keyboard (it is then left to the browser).
  typePhysical(event) {
    if (event.ctrlKey || event.metaKey || event.altKey) {
      return false;
    }
    if (event.key === 'Enter' || event.key === 'Backspace') {
      this.send(`key.${event.key === 'Enter' ? RETURN : BACKSPACE}`);
      return true;
    }
    const typed = KeyboardControl.eventFor(event.key);
    if (typed) {
      this.send(typed);
    }
    return typed !== null;
  }

  draw() {
    const starting = this.enabled && this.wasEnabled === false;
    this.wasEnabled = this.enabled;
    this.display.textContent = this.properties.text ?? '';
    for (const button of this.keys) {
      const key = button.dataset.key;
      const caption = CAPTIONS.get(key) ?? (this.upper() ? key.toUpperCase() : key);
      button.textContent = caption;
      button.disabled = !this.enabled;
      if (key === 'shift' || key === 'caps') {
        button.setAttribute('aria-pressed', String(this[key]));
      }
    }
    const focus = document.activeElement;
    if (starting && (!focus || focus === document.body || focus.disabled)) {
      this.display.focus();
    }
  }

  // A key of the fullest row: the keys share the width and the rows the
  // height, less padding and gaps.
  smallestTarget() {
    const keys = Math.max(...ROWS.map((row) => row.length));
    const across = (this.number('width', 0) - 2 * PADDING - GAP * (keys - 1)) / keys;
    const down = (this.number('height', 0) - 2 * PADDING - GAP * ROWS.length) / (ROWS.length + TEXT_ROWS);
    return Math.min(across, down);
  }

  speak() {
    this.element.setAttribute('aria-label', this.properties.spoken || `${this.name} (on-screen keyboard)`);
  }
}
