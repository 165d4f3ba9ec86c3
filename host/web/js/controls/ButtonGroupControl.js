import { Control } from './Control.js';

// Digits of a member's number in its property name, "button.NNN".
const MEMBER_DIGITS = 3;
// The gap between members in layout units, as style.css draws it.
const MEMBER_GAP = 4;

// A button group: one button per member, stacked; pressing one sends
// "select=V" with V its value. A member is lit while its "button.NNN"
// property says "pressed". The group is called what its "spoken" property
// says.
export class ButtonGroupControl extends Control {
  build() {
    const element = document.createElement('div');
    element.setAttribute('role', 'group');
    element.setAttribute('aria-label', this.name);
    this.buttons = this.members.map((member) => {
      const button = this.eventButton(`select=${member.value}`);
      button.className = 'group-member';
      button.dataset.value = member.value;
      button.textContent = member.text || member.value;
      element.append(button);
      return button;
    });
    return element;
  }

  draw() {
    this.buttons.forEach((button, position) => {
      const key = `button.${String(position + 1).padStart(MEMBER_DIGITS, '0')}`;
      button.setAttribute('aria-pressed', String(this.properties[key] === 'pressed'));
      button.disabled = !this.enabled;
    });
  }

  // Members share the height, less the gaps between them.
  smallestTarget() {
    const members = Math.max(1, this.members.length);
    return Math.min(this.number('width', 0),
      (this.number('height', 0) - MEMBER_GAP * (members - 1)) / members);
  }

  speak() {
    this.element.setAttribute('aria-label', this.properties.spoken || this.name);
  }
}
