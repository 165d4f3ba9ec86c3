// One control of a panel as the page draws it. The host owns the control's
// state: the page draws the properties the host reports (place, text,
// statesheet, enabled, visible and those of the kind) and turns what the
// operator does into the event text the kind sends, which it hands to the
// host. Nothing is changed locally: every change comes back from the host.
//
// A subclass builds its element (build()) and draws the properties of its
// kind (draw()); refresh() draws the ones every control has.

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
  }

  send(event) {
    return this.surface.send(this.name, event);
  }

  // A <button> that sends `event` when pressed (mouse, touch or keyboard).
  eventButton(event) {
    const button = document.createElement('button');
    button.type = 'button';
    button.addEventListener('click', () => this.send(typeof event === 'function' ? event() : event));
    return button;
  }
}
