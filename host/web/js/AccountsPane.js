import { ROLES } from './Roles.js';

// Shows a time the host sent (UTC, ISO 8601) in the browser's own way.
const when = (time) => (time ? new Date(time).toLocaleString() : 'never');

// The admin's view of the accounts and API tokens: every account with its
// role, whether it has a password, when it was made and last logged in;
// adding one (the initial password typed twice), giving one a new password
// (which ends its sessions) or another role (effective at its next
// request), seeing and ending its sessions, removing it. The host keeps
// the last admin and says why; the view shows what it says. Tokens are
// listed, made (the token shown once, with a copy button, and never
// again) and revoked.
export class AccountsPane {
  constructor(root, api, passwordDialog) {
    this.root = root;
    this.api = api;
    this.passwordDialog = passwordDialog;
    this.active = false;
    this.status = root.querySelector('[data-accounts-status]');
    this.accountRows = root.querySelector('[data-accounts-rows]');
    this.tokenRows = root.querySelector('[data-tokens-rows]');
    this.sessions = root.querySelector('[data-sessions]');
    this.sessionRows = root.querySelector('[data-sessions-rows]');
    this.sessionsHeading = root.querySelector('[data-sessions-heading]');
    this.newToken = root.querySelector('[data-new-token]');
    this.newTokenText = root.querySelector('[data-new-token-text]');
    this.newTokenStatus = root.querySelector('[data-new-token-status]');
    this.addForm = root.querySelector('[data-add-account]');
    this.addForm.addEventListener('submit', (event) => {
      event.preventDefault();
      this.addAccount();
    });
    this.tokenForm = root.querySelector('[data-create-token]');
    this.tokenForm.addEventListener('submit', (event) => {
      event.preventDefault();
      this.createToken();
    });
    root.querySelector('[data-new-token-copy]').addEventListener('click', () => this.copyToken());
    root.querySelector('[data-new-token-done]').addEventListener('click', () => this.forgetToken());
    root.querySelector('[data-sessions-close]').addEventListener('click', () => {
      this.sessions.hidden = true;
      this.sessionsOf = null;
    });
    root.querySelector('[data-sessions-end-all]').addEventListener('click', () =>
      this.act(`DELETE`, `/api/accounts/${encodeURIComponent(this.sessionsOf)}/sessions`, undefined,
        (answer) => `Ended ${answer.ended} session(s) of ${this.sessionsOf}.`));
  }

  async activate() {
    this.active = true;
    await this.load();
  }

  async load() {
    try {
      const [{ accounts }, { tokens }] = await Promise.all([
        this.api.request('GET', '/api/accounts'), this.api.request('GET', '/api/tokens')]);
      this.accountRows.replaceChildren(...accounts.map((account) => this.accountRow(account)));
      this.tokenRows.replaceChildren(...tokens.map((token) => this.tokenRow(token)));
      if (this.sessionsOf) {
        await this.showSessions(this.sessionsOf);
      }
    } catch (error) {
      this.status.textContent = error.message;
    }
  }

  // Runs one change; says what it did (or the host's refusal) and reads
  // the lists again. Every change carries a JSON body, as the host
  // requires of a request that changes something.
  async act(method, path, body, done) {
    try {
      const answer = await this.api.request(method, path, body ?? {});
      this.status.textContent = done(answer);
    } catch (error) {
      this.status.textContent = error.message;
    }
    await this.load();
  }

  accountRow(account) {
    const row = document.createElement('tr');
    row.dataset.account = account.name;
    const path = `/api/accounts/${encodeURIComponent(account.name)}`;
    row.insertCell().textContent = account.name;
    const role = document.createElement('select');
    role.setAttribute('aria-label', `Role of ${account.name}`);
    role.append(...ROLES.map((name) => new Option(name, name, false, name === account.role)));
    role.addEventListener('change', () => this.act('PUT', path, { role: role.value },
      () => `${account.name} is now ${role.value}, from its next request on.`));
    row.insertCell().append(role);
    row.insertCell().textContent = account.hasPassword ? 'set' : 'none';
    row.insertCell().textContent = when(account.created);
    row.insertCell().textContent = when(account.lastLogin);
    const actions = document.createElement('div');
    actions.className = 'actions';
    row.insertCell().append(actions);
    actions.append(
      this.button('Set password', `Set a new password for ${account.name}`, async () => {
        const password = await this.passwordDialog.askNew(
          `New password for ${account.name}`,
          `Setting it ends every session of ${account.name}.`);
        if (password) {
          await this.act('PUT', path, { password },
            () => `New password set for ${account.name}; its sessions ended.`);
        }
      }),
      this.button('Sessions', `Sessions of ${account.name}`, () => this.showSessions(account.name)),
      this.button('Remove', `Remove ${account.name}`, () => {
        if (window.confirm(`Remove the account ${account.name} and end its sessions?`)) {
          this.act('DELETE', path, undefined, () => `Removed ${account.name}.`);
        }
      }));
    return row;
  }

  async showSessions(name) {
    try {
      const { sessions } = await this.api.request('GET',
        `/api/accounts/${encodeURIComponent(name)}/sessions`);
      this.sessionsOf = name;
      this.sessionsHeading.textContent = `Sessions of ${name}`;
      this.sessionRows.replaceChildren(...sessions.map((session) => {
        const row = document.createElement('tr');
        for (const text of [when(session.created), when(session.lastUsed), session.address || '—']) {
          row.insertCell().textContent = text;
        }
        row.insertCell().append(this.button('End', `End the session from ${session.address}`, () =>
          this.act('DELETE', `/api/accounts/${encodeURIComponent(name)}/sessions/${session.id}`,
            undefined, () => `Ended a session of ${name}.`)));
        return row;
      }));
      if (!sessions.length) {
        const row = this.sessionRows.insertRow();
        const cell = row.insertCell();
        cell.colSpan = 4;
        cell.textContent = `${name} has no open session.`;
      }
      this.sessions.hidden = false;
    } catch (error) {
      this.status.textContent = error.message;
    }
  }

  tokenRow(token) {
    const row = document.createElement('tr');
    row.dataset.token = token.name;
    for (const text of [token.name, token.role, when(token.created), when(token.lastUsed)]) {
      row.insertCell().textContent = text;
    }
    row.insertCell().append(this.button('Revoke', `Revoke ${token.name}`, () => {
      if (window.confirm(`Revoke the token ${token.name}? Whatever uses it is refused at once.`)) {
        this.act('DELETE', `/api/tokens/${encodeURIComponent(token.name)}`, undefined,
          () => `Revoked ${token.name}.`);
      }
    }));
    return row;
  }

  async addAccount() {
    const fields = new FormData(this.addForm);
    if (fields.get('password') !== fields.get('repeat')) {
      this.status.textContent = 'The two passwords differ; type the same one twice.';
      return;
    }
    const name = fields.get('name');
    try {
      await this.api.request('POST', '/api/accounts',
        { name, role: fields.get('role'), password: fields.get('password') });
      this.addForm.reset();
      this.status.textContent = `Added ${name} as ${fields.get('role')}.`;
    } catch (error) {
      this.status.textContent = error.message;
    }
    await this.load();
  }

  async createToken() {
    const fields = new FormData(this.tokenForm);
    const body = { role: fields.get('role') };
    if (fields.get('name')) {
      body.name = fields.get('name');
    }
    try {
      const created = await this.api.request('POST', '/api/tokens', body);
      this.tokenForm.reset();
      this.root.querySelector('[data-new-token-name]').textContent = created.name;
      this.newTokenText.value = created.token;
      this.newTokenStatus.textContent = '';
      this.newToken.hidden = false;
      this.status.textContent = `Created the token ${created.name} (${created.role}).`;
    } catch (error) {
      this.status.textContent = error.message;
    }
    await this.load();
  }

  async copyToken() {
    try {
      await navigator.clipboard.writeText(this.newTokenText.value);
      this.newTokenStatus.textContent = 'Copied.';
    } catch {
      // Without the clipboard (a page not served from loopback or over
      // HTTPS), the token is selected for the person to copy.
      this.newTokenText.select();
      this.newTokenStatus.textContent = 'Selected: copy it with the keyboard.';
    }
  }

  // The token leaves the page: it is never shown again.
  forgetToken() {
    this.newTokenText.value = '';
    this.newToken.hidden = true;
  }

  button(text, label, action) {
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = text;
    button.setAttribute('aria-label', label);
    button.addEventListener('click', action);
    return button;
  }
}
