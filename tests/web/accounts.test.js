// Administration in the page: the first start through its one-time link to
// a password, an admin managing accounts, roles and tokens in the Accounts
// view (and the history of those changes), and what the view and its API
// refuse to everyone else.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { after, before, describe, it } from 'node:test';
import {
  ACCOUNTS, ADMIN, BrowserHarness, HOST_URL, api, control, showSelector, waitForAttribute,
} from './BrowserHarness.js';

const FIRST_URL = process.env.PANELHOST_FIRST_URL?.replace(/\/$/, '');
const FIRST_LINK = process.env.PANELHOST_FIRST_LINK;
const FIRST_CONSOLE = process.env.PANELHOST_FIRST_CONSOLE;
// How long a page that lost its event stream may take to connect again and
// reload: the browser's own retry comes within a few seconds.
const RELOAD_WAIT_MS = 20000;

// The Accounts view's row of the account `name`.
const accountRow = (page, name) => page.locator(`[data-accounts-rows] tr[data-account="${name}"]`);

// The status line of the Accounts view once it says `text`.
const accountsSay = (page, text) =>
  page.locator('[data-accounts-status]', { hasText: text }).waitFor();

// What a request with the bearer `token` gets from the host: its status.
const statusWithToken = async (token) =>
  (await fetch(`${HOST_URL}/api/panels`, { headers: { Authorization: `Bearer ${token}` } })).status;

describe('the first start', () => {
  let harness;

  before(async () => {
    harness = await BrowserHarness.launch({ user: null, url: FIRST_URL });
  });

  after(async () => {
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('goes from the one-time link to a password, and the banner goes once it is set', async () => {
    const page = await harness.context.newPage();
    page.on('pageerror', (error) => harness.errors.push(error.message));
    await page.goto(FIRST_LINK);
    await page.waitForSelector('body[data-connection="live"]');
    await page.locator('[data-no-password]').waitFor();
    const dialog = page.getByRole('dialog', { name: 'Set a password' });
    await dialog.waitFor();
    assert.equal(await dialog.getByLabel('Current password').isVisible(), false);
    await BrowserHarness.screenshot(page, 'first-start-password');

    await dialog.getByLabel('New password', { exact: true }).fill('first start password');
    await dialog.getByLabel('New password again').fill('first start pasword');
    await dialog.getByRole('button', { name: 'Save password' }).click();
    await dialog.getByText('The two new passwords differ').waitFor();
    await dialog.getByLabel('New password again').fill('first start password');
    await dialog.getByRole('button', { name: 'Save password' }).click();
    await page.locator('[data-no-password]').waitFor({ state: 'hidden' });

    // Every other view has no banner either, and the console said so.
    await page.goto(`${FIRST_URL}/#devices`);
    await page.waitForSelector('body[data-connection="live"]');
    assert.equal(await page.locator('[data-no-password]').isVisible(), false);
    assert.match(readFileSync(FIRST_CONSOLE, 'utf8'), /admin has the first password/);

    // The link is used up; the password logs in.
    await page.getByRole('button', { name: 'Log out', exact: true }).click();
    await page.waitForURL(/\/login$/);
    await page.goto(FIRST_LINK);
    await page.waitForURL(/\/login#link-used$/);
    await harness.logIn('admin', 'first start password');
  });
});

describe('an admin manages the accounts in the page', () => {
  const harnesses = [];
  let admin;

  const launch = async (user, password) => {
    const harness = await BrowserHarness.launch({ user: null });
    harnesses.push(harness);
    await harness.logIn(user, password);
    return harness;
  };

  before(async () => {
    admin = await (await launch(ADMIN)).open('/?instance=1#accounts');
    admin.on('dialog', (dialog) => dialog.accept());
    await accountRow(admin, ADMIN).waitFor();
  });

  after(async () => {
    for (const harness of harnesses) {
      await harness.close();
    }
    assert.deepEqual(harnesses.flatMap((harness) => harness.errors), []);
  });

  it('adds an operator, who operates but cannot edit names until made an engineer, without a new login', async () => {
    await admin.getByLabel('Account name').fill('olive');
    await admin.getByLabel('Account role').selectOption('operator');
    await admin.getByLabel('Initial password', { exact: true }).fill('olive password');
    await admin.getByLabel('Initial password again').fill('olive password');
    await admin.getByRole('button', { name: 'Add account' }).click();
    await accountsSay(admin, 'Added olive as operator.');
    await accountRow(admin, 'olive').waitFor();

    const operator = await (await launch('olive', 'olive password')).open('/?instance=1');
    await showSelector(operator);
    await control(operator, '1', 'UMDBright_2').click();
    await waitForAttribute(operator, '1', 'UMDBright_2', 'data-statesheet', 'ZRSourceSelected');
    await operator.goto(`${HOST_URL}/?instance=1#devices`);
    await operator.waitForSelector('[data-devices-entries] tr');
    assert.equal(await operator.locator('[data-devices-entries] input').count(), 0);
    assert.equal(await operator.locator('[data-view-link="accounts"]').isVisible(), false);

    await accountRow(admin, 'olive').getByLabel('Role of olive').selectOption('engineer');
    await accountsSay(admin, 'olive is now engineer');
    // The host ends olive's event stream; the page reconnects, finds the
    // new role and reloads with it.
    await operator.waitForSelector('[data-devices-entries] input', { timeout: RELOAD_WAIT_MS });
    assert.equal(await operator.locator('[data-user]').textContent(), 'olive (engineer)');

    // The history tells who did it, from where.
    await admin.goto(`${HOST_URL}/?instance=1#history`);
    await admin.locator('[data-history-kind]').selectOption('accounts');
    const changes = admin.locator('[data-account-changes-rows]');
    await changes.locator('tr', { hasText: 'from operator to engineer' }).waitFor();
    const added = await changes.locator('tr', { hasText: 'account added' }).first().innerText();
    assert.match(added, /ada\s+127\.0\.0\.1\s+account added\s+olive\s+as operator, with a password/);
    assert.doesNotMatch(await changes.innerText(), /olive password/);
    await BrowserHarness.screenshot(admin, 'account-history');
  });

  it('keeps the last admin, and says why', async () => {
    await admin.goto(`${HOST_URL}/?instance=1#accounts`);
    await accountRow(admin, ADMIN).getByRole('button', { name: `Remove ${ADMIN}` }).click();
    await accountsSay(admin, 'is the last admin account and is kept');
    await accountRow(admin, ADMIN).getByLabel(`Role of ${ADMIN}`).selectOption('engineer');
    await accountsSay(admin, 'stays an admin');
    assert.equal(await accountRow(admin, ADMIN).getByLabel(`Role of ${ADMIN}`).inputValue(), 'admin');
    const { accounts } = await api('GET', '/api/accounts');
    assert.equal(accounts.find((account) => account.name === ADMIN).role, 'admin');
  });

  it('shows a new token once, with a copy button; it works until revoked', async () => {
    await admin.context().grantPermissions(['clipboard-read', 'clipboard-write'], { origin: HOST_URL });
    await admin.goto(`${HOST_URL}/?instance=1#accounts`);
    await admin.getByLabel('Token name').fill('wall-script');
    await admin.getByLabel('Token role').selectOption('viewer');
    await admin.getByRole('button', { name: 'Create token' }).click();
    const shown = admin.getByLabel('New token');
    await shown.waitFor();
    const token = await shown.inputValue();
    assert.match(token, /^pht_/);
    await admin.getByRole('button', { name: 'Copy', exact: true }).click();
    await admin.locator('[data-new-token-status]', { hasText: 'Copied.' }).waitFor();
    assert.equal(await admin.evaluate(() => navigator.clipboard.readText()), token);
    await BrowserHarness.screenshot(admin, 'accounts-new-token');

    assert.equal(await statusWithToken(token), 200);
    await admin.getByRole('button', { name: 'Done' }).click();
    await admin.reload();
    await admin.locator('[data-tokens-rows] tr[data-token="wall-script"]').waitFor();
    assert.equal(await admin.content().then((html) => html.includes(token)), false);
    const { tokens } = await api('GET', '/api/tokens');
    assert.ok(tokens.find((listed) => listed.name === 'wall-script').lastUsed, 'its use is listed');

    await admin.getByRole('button', { name: 'Revoke wall-script' }).click();
    await accountsSay(admin, 'Revoked wall-script.');
    assert.equal(await statusWithToken(token), 401);
  });

  it('changes its own password and logs out everywhere', async () => {
    const page = await (await launch('olive', 'olive password')).open('/?instance=1');
    const other = await (await launch('olive', 'olive password')).open('/?instance=1');
    await page.getByRole('button', { name: 'Change password' }).click();
    const dialog = page.getByRole('dialog', { name: 'Change password' });
    await dialog.getByLabel('Current password').fill('not olive password');
    await dialog.getByLabel('New password', { exact: true }).fill('olive new password');
    await dialog.getByLabel('New password again').fill('olive new password');
    await dialog.getByRole('button', { name: 'Save password' }).click();
    await dialog.getByText('the old password is wrong').waitFor();
    await dialog.getByLabel('Current password').fill('olive password');
    await dialog.getByRole('button', { name: 'Save password' }).click();
    await dialog.waitFor({ state: 'hidden' });
    // The other session ended; this one stays.
    await other.waitForURL(/\/login$/, { timeout: RELOAD_WAIT_MS });
    await page.reload();
    await page.waitForSelector('body[data-connection="live"]');

    await page.getByRole('button', { name: 'Log out everywhere' }).click();
    await page.waitForURL(/\/login$/);
    const { sessions } = await api('GET', '/api/accounts/olive/sessions');
    assert.deepEqual(sessions, []);
  });
});

describe('everyone but an admin', () => {
  let harness;

  before(async () => {
    harness = await BrowserHarness.launch({ user: ACCOUNTS.viewer });
  });

  after(async () => {
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('sees no Accounts view and is refused its API', async () => {
    const page = await harness.open('/?instance=1#accounts');
    assert.equal(await page.locator('[data-view-link="accounts"]').isVisible(), false);
    assert.equal(await page.locator('#view-accounts').isVisible(), false);
    assert.equal(await page.locator('[data-history-kind]').isVisible(), false);
    const statuses = await page.evaluate(async () => Promise.all(
      ['/api/accounts', '/api/tokens', '/api/account-changes', '/api/accounts/vera/sessions']
        .map((path) => fetch(path).then((answer) => answer.status))));
    assert.deepEqual(statuses, [403, 403, 403, 403]);
  });
});
