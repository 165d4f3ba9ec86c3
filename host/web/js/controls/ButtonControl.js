import { Control } from './Control.js';

// A button: sends "button=pressed" once per press.
export class ButtonControl extends Control {
  build() {
    return this.eventButton('button=pressed');
  }

  draw() {
    this.element.textContent = this.properties.text ?? '';
    this.element.disabled = !this.enabled;
  }
}
