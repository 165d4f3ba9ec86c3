import { Control } from './Control.js';

// A label: shows its text and sends nothing.
export class LabelControl extends Control {
  build() {
    const element = document.createElement('div');
    this.textElement = document.createElement('span');
    element.append(this.textElement);
    return element;
  }

  draw() {
    this.textElement.textContent = this.properties.text ?? '';
  }
}
