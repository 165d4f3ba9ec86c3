import { AccountsPane } from './AccountsPane.js';
import { announce } from './Announcer.js';
import { ChangeStream } from './ChangeStream.js';
import { DevicesPane } from './DevicesPane.js';
import { DisplayOutputStatus } from './DisplayOutputStatus.js';
import { DisplayWall } from './DisplayWall.js';
import { HistoryPane } from './HistoryPane.js';
import { HostApi, toLoginPage } from './HostApi.js';
import { NameSetsPane } from './NameSetsPane.js';
import { PanelView } from './PanelView.js';
import { PasswordDialog } from './PasswordDialog.js';
import { ProtocolMonitor } from './ProtocolMonitor.js';
import { mayAdminister, mayOperate, mayWriteDevices } from './Roles.js';
import { Studio } from './Studio.js';

const VIEWS = ['panel', 'displays', 'protocol', 'devices', 'history', 'namesets', 'accounts'];
const STATUS_TEXT = { connecting: 'connecting…', live: 'live', lost: 'connection lost, retrying…' };

// The page: which panel instance it shows (?instance=N, the first one when
// not given), which view is open (#panel, #displays, #protocol, #devices,
// #history, #namesets, and #accounts for admins), who is logged in (the
// login page when nobody is), and the wiring of the views to the host's API
// and stream. The views offer only what the account's role may do; the
// host refuses anything else anyway. The stream's start message says who
// the page is logged in as and what the panels show, so the first view
// needs no request of its own; whenever the stream connects again (the host
// ends an account's streams when its rights change) the page reloads when
// the role is not the one it was drawn for. A stream refused for want of a
// session leads to the login page. An account without a password (the
// first start's) is asked for one, and a banner says so on every view
// until it has one.
export class App {
  constructor(document) {
    this.document = document;
    const requested = new URLSearchParams(document.location.search).get('instance');
    this.instanceId = requested === null ? null : Number(requested);
    this.api = new HostApi();
    this.stream = new ChangeStream('/api/stream', window.earlyStream);
    this.studio = new Studio(this.api, this.stream);
    const view = (name) => document.getElementById(`view-${name}`);
    this.views = {
      panel: new PanelView(view('panel').querySelector('[data-panel-view]'), this.api, this.studio),
      displays: new DisplayWall(view('displays'), this.studio),
      protocol: new ProtocolMonitor(view('protocol'), this.api, this.stream),
      devices: new DevicesPane(view('devices'), this.studio),
      history: new HistoryPane(view('history'), this.api, this.studio),
    };
    this.passwordDialog = new PasswordDialog(document.querySelector('[data-password-dialog]'),
      this.api);
    this.views.accounts = new AccountsPane(view('accounts'), this.api, this.passwordDialog);
    this.views.namesets = new NameSetsPane(view('namesets'), this.api, this.studio,
      (device, database, index) => this.openEntry(device, database, index));
    this.displayOutput = new DisplayOutputStatus(view('displays').querySelector('[data-tsl]'),
      view('displays').querySelector('[data-wall-grid]'), this.api, this.stream);
    this.views.displays.onDrawn(() => this.displayOutput.markTiles());
    this.instanceNav = document.querySelector('[data-instances]');
    this.statusText = document.querySelector('[data-connection-text]');
    this.userText = document.querySelector('[data-user]');
    this.logoutButton = document.querySelector('[data-logout]');
    this.logoutEverywhereButton = document.querySelector('[data-logout-everywhere]');
    this.passwordButton = document.querySelector('[data-change-password]');
    this.noPasswordBanner = document.querySelector('[data-no-password]');
  }

  // Follows the stream; the views are drawn on its first start message.
  start() {
    this.stream.onResync((start, resumed) => this.started(start, resumed));
    this.stream.on('instance', () => this.loadInstances());
    this.stream.on('control', (change) => this.forInstance(change, 'applyControl'));
    this.stream.on('panel', (change) => this.forInstance(change, 'applyPanel'));
    this.stream.onStatus((status, detail) => this.showStatus(status, detail));
    this.stream.start();
  }

  // The first start message draws the page for its session; a later one
  // (a reconnection) reloads it when the account or its role changed, and
  // one that only confirms what the page shows (`resumed`) draws nothing.
  started(start, resumed) {
    const first = !this.session;
    if (first) {
      this.applyRole(start.session);
      window.addEventListener('hashchange', () => this.route());
      this.document.addEventListener('keydown', (event) => this.physicalKey(event));
      this.route();
    } else if (!this.sameSession(start.session)) {
      window.location.reload();
    }
    if (!resumed) {
      this.showInstances(start.panels.instances);
    }
    if (first && this.noPasswordBanner.hidden === false) {
      this.changePassword();
    }
  }

  applyRole(session) {
    const { user, role, token } = session;
    this.session = session;
    this.userText.textContent = `${token ? 'token ' : ''}${user} (${role})`;
    for (const button of [this.logoutButton, this.logoutEverywhereButton, this.passwordButton]) {
      button.hidden = token;
    }
    this.logoutButton.addEventListener('click', () => this.logout('/api/logout'));
    this.logoutEverywhereButton.addEventListener('click', () => this.logout('/api/logout/everywhere'));
    this.passwordButton.addEventListener('click', () => this.changePassword());
    this.document.querySelector('[data-set-first-password]')
      .addEventListener('click', () => this.changePassword());
    this.document.querySelector('[data-view-link="accounts"]').hidden = !mayAdminister(role);
    this.views.panel.setOperable(mayOperate(role), role);
    this.views.devices.setWritable(mayWriteDevices(role), role);
    this.views.namesets.setWritable(mayWriteDevices(role), role);
    this.views.history.setWritable(mayWriteDevices(role));
    this.views.history.setAccountChanges(mayAdminister(role));
    this.showPasswordState();
  }

  showPasswordState() {
    const none = !this.session.token && this.session.hasPassword === false;
    this.noPasswordBanner.hidden = !none;
  }

  async changePassword() {
    const saved = await this.passwordDialog.changeOwn(this.session.hasPassword !== false);
    if (saved) {
      this.session.hasPassword = true;
      this.showPasswordState();
    }
  }

  sameSession(now) {
    return now.user === this.session.user && now.role === this.session.role;
  }

  // Asks who the page is: an ended session goes to the login page
  // (HostApi), a changed account or role reloads the page.
  async checkSession() {
    const now = await this.api.session();
    if (this.session && !this.sameSession(now)) {
      window.location.reload();
    }
  }

  async logout(path) {
    try {
      await this.api.request('POST', path, {});
    } finally {
      toLoginPage();
    }
  }

  showStatus(status, detail) {
    if (status === 'lost') {
      // A stream refused for a session that has ended: asking who the page
      // is leads to the login page then.
      this.checkSession().catch(() => undefined);
    }
    this.statusText.textContent = detail ? `${STATUS_TEXT[status]} (${detail})` : STATUS_TEXT[status];
    const was = this.document.body.dataset.connection;
    if (status === 'lost' && was !== 'lost') {
      announce('The host is disconnected: the panels show nothing new until it is back.');
    } else if (status === 'live' && was === 'lost') {
      announce('The host is connected again.');
    }
    this.document.body.dataset.connection = status;
  }

  forInstance(change, method) {
    if (change.instance === this.instanceId) {
      this.views.panel[method](change);
    }
  }

  async loadInstances() {
    const { instances } = await this.api.panels();
    this.showInstances(instances);
  }

  // Draws the instance navigation and the panel view from `instances` (as
  // GET /api/panels answers them).
  showInstances(instances) {
    const ids = instances.map((instance) => instance.instance);
    if (this.instanceId === null && ids.length) {
      this.instanceId = ids[0];
    }
    this.drawInstanceNav(ids);
    this.views.protocol.setInstances(ids);
    const mine = instances.find((instance) => instance.instance === this.instanceId);
    this.document.title = `Panel ${this.instanceId} · panelhost`;
    if (mine) {
      this.views.panel.show(mine);
    } else {
      this.views.panel.showMissing(this.instanceId);
    }
  }

  drawInstanceNav(ids) {
    this.instanceNav.replaceChildren(...ids.map((id) => {
      const link = this.document.createElement('a');
      link.href = `?instance=${id}#panel`;
      link.textContent = `Panel ${id}`;
      if (id === this.instanceId) {
        link.setAttribute('aria-current', 'page');
      }
      return link;
    }));
  }

  route() {
    const requested = this.document.location.hash.slice(1);
    const allowed = VIEWS.includes(requested) &&
      (requested !== 'accounts' || mayAdminister(this.session.role));
    const name = allowed ? requested : 'panel';
    this.view = name;
    for (const other of VIEWS) {
      this.document.getElementById(`view-${other}`).hidden = other !== name;
      const tab = this.document.querySelector(`[data-view-link="${other}"]`);
      if (other === name) {
        tab.setAttribute('aria-current', 'page');
      } else {
        tab.removeAttribute('aria-current');
      }
    }
    this.views[name].activate?.();
  }

  // Shows one name in the devices view, ready to edit.
  openEntry(device, database, index) {
    this.document.location.hash = '#devices';
    this.views.devices.open(device, database, index);
  }

  // The physical keyboard types into the panel's keyboard while that is
  // enabled, unless the person is typing into a field of the page; Enter
  // and Space on a focused button or link (an on-screen key too) press it,
  // so that every control works from the keyboard alone.
  physicalKey(event) {
    const target = event.target;
    const typingElsewhere = target instanceof HTMLElement &&
      (target.isContentEditable || ['INPUT', 'TEXTAREA', 'SELECT'].includes(target.tagName));
    const pressing = (event.key === 'Enter' || event.key === ' ') && target instanceof HTMLElement &&
      target.matches('button:enabled, a[href], summary');
    if (this.view !== 'panel' || typingElsewhere || pressing) {
      return;
    }
    const keyboard = this.views.panel.operable ? this.views.panel.activeKeyboard() : null;
    if (keyboard && keyboard.typePhysical(event)) {
      event.preventDefault();
    }
  }
}
