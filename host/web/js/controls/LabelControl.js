import { Control } from './Control.js';

// A label: shows its text and sends nothing. When the layout gives it an
// "announce" text, a change of its text is read out, {text} standing for
// the new one ("The displays show {text}"); the text it is drawn with
// first is not news.
export class LabelControl extends Control {
  build() {
    const element = document.createElement('div');
    this.textElement = document.createElement('span');
    element.append(this.textElement);
    return element;
  }

  draw() {
    const text = this.properties.text ?? '';
    const news = this.drawn !== undefined && text !== this.drawn && text !== '';
    this.drawn = text;
    this.textElement.textContent = text;
    if (news && this.properties.announce) {
      this.surface.announce(this.properties.announce.replaceAll('{text}', text));
    }
  }

  // A label speaks its text.
  speak() {}

  smallestTarget() {
    return Infinity;
  }
}
