// One control of a panel as the page draws it. The host owns the control's
// state: the page draws the properties the host reports (place, text,
// statesheet, enabled, visible and those of the kind) and turns what the
// operator does into the event text the kind sends, which it hands to the
// host. Nothing is changed locally: every change comes back from the host.
//
// A subclass builds its element (build()) and draws the properties of its
// kind (draw()); refresh() draws the ones every control has.
//
// What assistive technology calls a control comes from the layout: its
// "spoken" property, in which {Other} stands for the text of the control
// named Other ("Name set 5: {Names_5}"), or else its text, followed by the
// "spoken" word of the statesheet it wears ("Brightness high, selected").

export class Control {
  // `surface` is the PanelSurface that owns the control; it must outlive it.
  constructor(definition, surface) {
    this.name = definition.name;
    this.kind = definition.kind;
    this.properties = { ...definition.properties };
    this.members = definition.members ?? [];
    this.surface = surface;
    this.element = this.build();
    this.element.classList.add('control', `control-${this.kind}`);
    this.element.dataset.control = this.name;
    this.refresh();
  }

  set(property, value) {
    this.properties[property] = value;
    this.refresh();
  }

  get enabled() {
    return this.properties.enabled === 'true';
  }

  get visible() {
    return this.properties.visible === 'true';
  }

  number(property, fallback) {
    const value = Number.parseInt(this.properties[property], 10);
    return Number.isFinite(value) ? value : fallback;
  }

  refresh() {
    const element = this.element;
    this.surface.place(element, this.properties);
    element.hidden = !this.visible;
    element.dataset.enabled = String(this.enabled);
    element.dataset.statesheet = this.properties.statesheet ?? '';
    const sheet = this.surface.statesheet(this.properties.statesheet);
    element.style.backgroundColor = sheet.background ?? '';
    element.style.color = sheet.foreground ?? '';
    element.style.borderColor = sheet.border ?? '';
    this.draw();
    this.speak();
  }

  // The control's accessible name, or null when the layout gives it none
  // beyond its text.
  spokenName() {
    const template = this.properties.spoken;
    const state = this.surface.statesheet(this.properties.statesheet).spoken;
    if (!template && !state) {
      return null;
    }
    const said = template ? this.fill(template).replace(/[\s:]+$/, '') : this.properties.text ?? '';
    return state ? `${said}, ${state}` : said;
  }

  // The shorter side of the smallest thing a finger presses on the
  // control, in layout units (Infinity when nothing is pressed).
  smallestTarget() {
    return Math.min(this.number('width', 0), this.number('height', 0));
  }

  // Names the element after spokenName(); a kind whose element is a
  // group names the group (ListControl, KeyboardControl override it).
  speak() {
    const name = this.spokenName();
    if (name !== null) {
      this.element.setAttribute('aria-label', name);
    }
  }

  send(event) {
    return this.surface.send(this.name, event);
  }

  // A <button> that sends `event` when pressed (mouse, touch or keyboard).
  // When the layout gives the control an "announce" text, it is read out
  // once the host has taken the press, with {Other} as in "spoken" taken
  // from the panel as it was pressed ("Name committed: {PostEdit}").
  eventButton(event) {
    const button = document.createElement('button');
    button.type = 'button';
    button.addEventListener('click', () => {
      const message = this.fill(this.properties.announce);
      this.send(typeof event === 'function' ? event() : event).then((taken) => {
        if (taken && message) {
          this.surface.announce(message);
        }
      });
    });
    return button;
  }

  // `template` with each {Other} replaced by the text of control Other.
  fill(template) {
    return template?.replace(/\{([^}]+)\}/g, (_, other) => this.surface.textOf(other)) ?? '';
  }
}
