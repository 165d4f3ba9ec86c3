// Every view of the page checked by axe-core in Chromium against the WCAG
// 2.1 A and AA rules: the login page, both panels (the editor with its
// on-screen keyboard in use) and every view of the bar, as an admin sees
// them, in the dark and the light theme (as the system prefers). A serious or critical violation fails, and so does any other one
// not listed in docs/web-front-end.md with its reason.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { AxeBuilder } from '@axe-core/playwright';
import {
  BrowserHarness, HOST_URL, TALLY, api, control, showSelector, waitForAttribute, waitForPanel,
} from './BrowserHarness.js';

// The tally infodriver's slot of the displays' brightness: at its highest
// the wall's names are drawn at full contrast (a dimmed wall is a picture
// of dimmed displays).
const BRIGHTNESS_SLOT = 211;
const BRIGHTEST = '3';

const WCAG_21_A_AA = ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'];
const BLOCKING = new Set(['serious', 'critical']);
// Rules of lesser impact the page is known to break, each with its reason
// in docs/web-front-end.md. Empty: any violation is new.
const KNOWN = new Set([]);

async function violations(page) {
  const { violations: found } = await new AxeBuilder({ page }).withTags(WCAG_21_A_AA).analyze();
  return found.map((violation) => ({
    rule: violation.id,
    impact: violation.impact,
    help: violation.help,
    where: violation.nodes.slice(0, 3).map((node) => node.target.join(' ')),
  }));
}

async function assertAccessible(page, view) {
  const found = await violations(page);
  const failing = found.filter((v) => BLOCKING.has(v.impact) || !KNOWN.has(v.rule));
  assert.deepEqual(failing, [], `${view}: ${JSON.stringify(failing, null, 1)}`);
}

for (const theme of ['dark', 'light']) {
  describe(`axe-core on every view, ${theme}`, () => {
    let harness;
    let page;

    before(async () => {
      harness = await BrowserHarness.launch();
      page = await harness.open('/?instance=2#panel');
      await page.emulateMedia({ colorScheme: theme });
      await page.waitForSelector(`html[data-theme="${theme}"]`);
    });

    after(async () => {
      await harness.close();
      assert.deepEqual(harness.errors, []);
    });

    it('the login page', async () => {
      const login = await harness.context.newPage();
      await login.emulateMedia({ colorScheme: theme });
      await login.goto(`${HOST_URL}/login`);
      await login.waitForSelector(`html[data-theme="${theme}"]`);
      await login.getByRole('button', { name: 'Log in' }).waitFor();
      await assertAccessible(login, 'login');
      await login.close();
    });

    it('the selector panel, with a set chosen', async () => {
      await showSelector(page);
      await assertAccessible(page, 'selector');
      await control(page, '1', 'Select_4').click();
      await waitForAttribute(page, '1', 'Confirm', 'data-enabled', 'true');
      await assertAccessible(page, 'selector with a choice');
      await control(page, '1', 'Cancel').click();
      await waitForAttribute(page, '1', 'Confirm', 'data-enabled', 'false');
    });

    it('the editor panel, with the on-screen keyboard in use', async () => {
      await control(page, '1', 'Name_Editor').click();
      await waitForPanel(page, '2');
      await control(page, '2', 'NameSet_4').click();
      await waitForAttribute(page, '2', 'NameSet_4', 'data-statesheet', 'ZRSourceSelected');
      await control(page, '2', 'SrcName').locator('[data-row="2"]').click();
      await waitForAttribute(page, '2', 'KB_1', 'data-enabled', 'true');
      await assertAccessible(page, 'editor');
      await control(page, '2', 'KB_1').locator('[data-key="return"]').click();
      await waitForAttribute(page, '2', 'Cancel', 'data-enabled', 'true');
      await control(page, '2', 'Cancel').click();
      await waitForAttribute(page, '2', 'KB_1', 'data-enabled', 'false');
      await showSelector(page);
    });

    for (const [view, ready] of [
      ['displays', '.umd-name'],
      ['protocol', '[data-log-rows] tr'],
      ['devices', '[data-devices-entries] tr'],
      ['history', '[data-history-status]:not(:empty)'],
      ['namesets', '[data-import-set] option'],
      ['accounts', '[data-accounts-rows] tr'],
    ]) {
      it(`the ${view} view`, async () => {
        await api('PUT', `/api/devices/${TALLY}/slots/${BRIGHTNESS_SLOT}`, { text: BRIGHTEST });
        await page.goto(`${HOST_URL}/?instance=2#${view}`);
        await page.waitForSelector('body[data-connection="live"]');
        await page.locator(`#view-${view} ${ready}`).first().waitFor({ state: 'attached' });
        await BrowserHarness.screenshot(page, `axe-${view}-${theme}`);
        await assertAccessible(page, view);
      });
    }

    it('the password dialog', async () => {
      await page.getByRole('button', { name: 'Change password' }).click();
      await page.getByRole('dialog').waitFor();
      await assertAccessible(page, 'password dialog');
      await page.getByRole('button', { name: 'Cancel' }).click();
    });
  });
}
