// The login page: a name and a password sent to the host, which answers
// with a session cookie the page itself never sees; then the panels. It
// also says why a one-time login link did not work (#link-used).

const LINK_USED = 'link-used';

export class LoginForm {
  constructor(document) {
    this.document = document;
    this.form = document.querySelector('[data-login-form]');
    this.notice = document.querySelector('[data-login-notice]');
  }

  start() {
    if (this.document.location.hash.slice(1) === LINK_USED) {
      this.notice.textContent = 'That login link was used before or has expired. ' +
        'Log in with a password, or restart panelhost for a new link.';
    }
    this.form.addEventListener('submit', (event) => {
      event.preventDefault();
      this.submit();
    });
  }

  async submit() {
    const fields = new FormData(this.form);
    const button = this.form.querySelector('button');
    button.disabled = true;
    this.notice.textContent = 'logging in…';
    try {
      const response = await fetch('/api/login', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ name: fields.get('name'), password: fields.get('password') }),
        cache: 'no-store',
      });
      if (response.ok) {
        window.location.assign('/');
        return;
      }
      const answer = await response.json().catch(() => null);
      this.notice.textContent = answer?.error ?? `the host answered ${response.status}`;
    } catch (error) {
      this.notice.textContent = `the host cannot be reached (${error.message})`;
    } finally {
      button.disabled = false;
    }
  }
}
