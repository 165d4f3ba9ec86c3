import { announce } from './Announcer.js';
import { PanelSurface } from './PanelSurface.js';

// How long a refused operator event stays reported.
const NOTICE_MS = 5000;

// The panels of one panel instance: each loaded panel drawn, the ones the
// instance shows visible. It follows the instance's changes from the event
// stream and hands the operator's events to the host.
export class PanelView {
  // `root` is the element to draw into; `api`, `studio` must outlive the view.
  constructor(root, api, studio) {
    this.root = root;
    this.api = api;
    this.studio = studio;
    this.instanceId = null;
    this.surfaces = new Map();
    this.held = null;
    this.operable = true;
    this.stage = document.createElement('div');
    this.stage.className = 'panel-stage';
    this.empty = document.createElement('p');
    this.empty.className = 'panel-empty';
    this.notice = document.createElement('p');
    this.notice.className = 'panel-notice';
    this.notice.setAttribute('role', 'status');
    root.append(this.notice, this.stage, this.empty);
    studio.onChange((change) => {
      if (change.type !== 'slot') {
        for (const surface of this.surfaces.values()) {
          surface.captionsChanged();
        }
      }
    });
  }

  // Whether the person may operate the panels; when not, the panels are
  // shown but take no touch, click or key, and a line says why.
  setOperable(operable, role) {
    this.operable = operable;
    this.stage.inert = !operable;
    this.stage.classList.toggle('view-only', !operable);
    if (!operable) {
      const why = document.createElement('p');
      why.className = 'caption';
      why.dataset.viewOnly = '';
      why.textContent = `View only: a ${role} account cannot operate the panels.`;
      this.root.prepend(why);
    }
  }

  // Draws `instance` (as GET /api/panels shows one) from scratch.
  show(instance) {
    this.instanceId = instance.instance;
    this.surfaces.clear();
    this.stage.replaceChildren();
    for (const panel of instance.panels) {
      const surface = new PanelSurface(panel, {
        send: (panelId, control, event) => this.send(panelId, control, event),
        captions: (device, database, onLoaded) => this.captions(device, database, onLoaded),
        announce,
      });
      this.surfaces.set(panel.panel, surface);
      this.stage.append(surface.element);
    }
    this.showEmptyState();
  }

  // Shows that there is no such instance.
  showMissing(id) {
    this.instanceId = id;
    this.surfaces.clear();
    this.stage.replaceChildren();
    this.empty.textContent = `There is no panel instance ${id}.`;
    this.empty.hidden = false;
  }

  showEmptyState() {
    const anyShown = [...this.surfaces.values()].some((surface) => surface.shown);
    this.empty.hidden = anyShown;
    this.empty.textContent = anyShown ? '' : `Panel instance ${this.instanceId} shows no panel.`;
  }

  // Loads the instance again, holding its changes until it is drawn.
  async reload() {
    this.held = [];
    try {
      this.show(await this.api.instance(this.instanceId));
    } finally {
      const held = this.held;
      this.held = null;
      for (const [method, change] of held) {
        this[method](change);
      }
    }
  }

  // A property change of a control of this instance.
  applyControl(change) {
    if (this.held) {
      this.held.push(['applyControl', change]);
      return;
    }
    this.surfaces.get(change.panel)?.apply(change.control, change.property, change.value);
  }

  // A panel of this instance loaded, shown or removed.
  applyPanel(change) {
    if (this.held) {
      this.held.push(['applyPanel', change]);
      return;
    }
    const surface = this.surfaces.get(change.panel);
    if (change.state === 'loaded' || !surface) {
      this.reload().catch((error) => this.report(error.message));
      return;
    }
    surface.setShown(change.state === 'shown');
    this.showEmptyState();
  }

  // Hands an operator event to the host; resolves to whether it took it.
  send(panelId, control, event) {
    if (!this.operable) {
      return Promise.resolve(false);
    }
    return this.api.sendEvent(this.instanceId, panelId, control, event).then(() => true, (error) => {
      this.report(`${control}: ${error.message}`);
      return false;
    });
  }

  captions(deviceName, database, onLoaded) {
    const device = this.studio.deviceNamed(deviceName);
    if (!device) {
      return undefined;
    }
    const names = this.studio.loadedNames(device.number, database);
    if (!names) {
      this.studio.names(device.number, database).then(onLoaded, () => undefined);
    }
    return names;
  }

  report(message) {
    this.notice.textContent = message;
    clearTimeout(this.noticeTimer);
    this.noticeTimer = setTimeout(() => { this.notice.textContent = ''; }, NOTICE_MS);
  }

  activeKeyboard() {
    for (const surface of this.surfaces.values()) {
      const keyboard = surface.activeKeyboard();
      if (keyboard) {
        return keyboard;
      }
    }
    return null;
  }
}
