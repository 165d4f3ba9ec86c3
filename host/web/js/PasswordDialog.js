// The one dialog that asks for a password typed twice: the logged-in
// account's own change (its current password first, unless it has none,
// as after the first start's one-time link), and a new password an admin
// sets for another account. The two entries must match before anything is
// sent; what the host answers is shown in the dialog.
export class PasswordDialog {
  constructor(dialog, api) {
    this.dialog = dialog;
    this.api = api;
    this.form = dialog.querySelector('[data-password-form]');
    this.heading = dialog.querySelector('[data-password-heading]');
    this.intro = dialog.querySelector('[data-password-intro]');
    this.oldField = dialog.querySelector('[data-password-old-field]');
    this.status = dialog.querySelector('[data-password-status]');
    this.submit = null;
    this.form.addEventListener('submit', (event) => {
      event.preventDefault();
      this.save();
    });
    dialog.querySelector('[data-password-cancel]').addEventListener('click', () => this.close(null));
    dialog.addEventListener('cancel', () => this.finish?.(null));
  }

  // Opens the dialog; `submit(fields)` sends what was typed and resolves
  // to the result the dialog hands back, or throws the host's refusal.
  open(heading, intro, askOld, submit) {
    this.finish?.(null);
    this.form.reset();
    this.heading.textContent = heading;
    this.intro.textContent = intro;
    this.oldField.hidden = !askOld;
    this.oldField.querySelector('input').required = askOld;
    this.status.textContent = '';
    this.submit = submit;
    this.dialog.showModal();
    return new Promise((resolve) => {
      this.finish = resolve;
    });
  }

  close(result) {
    const finish = this.finish;
    this.finish = null;
    this.dialog.close();
    finish?.(result);
  }

  async save() {
    const fields = new FormData(this.form);
    if (fields.get('password') !== fields.get('repeat')) {
      this.status.textContent = 'The two new passwords differ; type the same one twice.';
      return;
    }
    try {
      this.close(await this.submit(fields));
    } catch (error) {
      this.status.textContent = error.message;
    }
  }

  // The account's own new password, saved at the host; true once saved.
  changeOwn(hasPassword) {
    return this.open(hasPassword ? 'Change password' : 'Set a password',
      hasPassword ? 'Your other sessions end; this one stays open.' :
        'This account has none yet. Once it has one, it logs in with it, and the host may serve beyond loopback.',
      hasPassword,
      async (fields) => {
        const body = { password: fields.get('password') };
        if (hasPassword) {
          body.oldPassword = fields.get('oldPassword');
        }
        await this.api.request('PUT', '/api/session/password', body);
        return true;
      });
  }

  // A new password for another account, typed twice; null when cancelled.
  askNew(heading, intro) {
    return this.open(heading, intro, false, async (fields) => fields.get('password'));
  }
}
