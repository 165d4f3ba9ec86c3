// The editor panel in the browser: a name typed on the on-screen keyboard,
// cut to 16 characters and written with "Update"; the take prompt that
// flashes and lapses without writing; and a change made in the devices
// pane reaching an open edit.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import {
  ADMIN, BrowserHarness, NAMES_DRIVER, TIMER_WAIT_MS, api, control, nameOf, waitForAttribute, waitForPanel,
  waitForText,
} from './BrowserHarness.js';

// Twenty characters typed on the on-screen keys; the panel keeps sixteen.
const TYPED = 'abcdefghij0123456789';
const KEPT = TYPED.slice(0, 16);

async function history(database, index) {
  return (await api('GET', `/api/history?device=${NAMES_DRIVER}&database=${database}&index=${index}`)).entries;
}

describe('the editor panel', () => {
  let harness;
  let page;

  // Opens the editor on `set`, with the list at the page of `source`.
  async function openEditor(set, source) {
    if (!(await page.locator('[data-panel="2"]').isVisible())) {
      await control(page, '1', 'Name_Editor').click();
      await waitForPanel(page, '2');
    }
    await control(page, '2', `NameSet_${set}`).click();
    await waitForAttribute(page, '2', `NameSet_${set}`, 'data-statesheet', 'ZRSourceSelected');
    const listPage = String(Math.ceil(source / 16));
    await control(page, '2', 'SrcGroup').locator(`[data-value="${listPage}"]`).click();
    await page.waitForSelector(`[data-control="SrcName"][data-page="${listPage}"]`);
  }

  // Starts the edit of `source` and waits until the keyboard holds its name.
  async function editSource(set, source) {
    await control(page, '2', 'SrcName').locator(`[data-row="${source}"]`).click();
    await waitForAttribute(page, '2', 'KB_1', 'data-enabled', 'true');
    await waitForText(page, '2', 'PreEdit', await nameOf(set, source));
  }

  async function pressKey(key) {
    await control(page, '2', 'KB_1').locator(`[data-key="${key}"]`).click();
  }

  before(async () => {
    harness = await BrowserHarness.launch();
    page = await harness.open('/?instance=1#panel');
  });

  after(async () => {
    if (await control(page, '2', 'Nameset_Select').isEnabled()) {
      await control(page, '2', 'Nameset_Select').click();
      await waitForPanel(page, '1');
    }
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('source 37 of set 5 typed with 20 characters keeps 16, and Update writes them', async () => {
    await openEditor(5, 37);
    await editSource(5, 37);
    assert.equal(await control(page, '2', 'LongName').isVisible(), true);
    assert.equal(await control(page, '2', 'Nameset_id').textContent(), '5');
    assert.equal(await control(page, '2', 'SrcName').locator('[data-row="37"]').isDisabled(), true);

    await pressKey('clear');
    await waitForText(page, '2', 'KB_1', '');
    for (const key of TYPED) {
      await pressKey(key);
    }
    await waitForText(page, '2', 'KB_1', KEPT);
    await BrowserHarness.screenshot(page, 'editor-panel-typing');
    await pressKey('return');
    await waitForText(page, '2', 'PostEdit', KEPT);
    await waitForAttribute(page, '2', 'Update', 'data-enabled', 'true');
    await control(page, '2', 'Update').click();

    await waitForAttribute(page, '2', 'PostEdit', 'hidden', '');
    assert.equal(await nameOf(5, 37), KEPT);
    const [latest] = await history(5, 37);
    assert.equal(latest.new, KEPT);
    // The operator who pressed Update, on the instance that wrote.
    assert.equal(latest.who, `${ADMIN} (127.0.0.1) on panel instance 1`);
  });

  it('the written name is on the wall when set 5 is shown, also after a reload', async () => {
    await control(page, '2', 'Nameset_Select').click();
    await waitForPanel(page, '1');
    await control(page, '1', 'Select_5').click();
    await waitForAttribute(page, '1', 'Confirm', 'data-enabled', 'true');
    await control(page, '1', 'Confirm').click();

    const wall = await harness.open('/?instance=1#displays');
    await wall.waitForSelector('#view-displays[data-nameset="5"]');
    assert.equal(await wall.locator('[data-source="37"] .umd-name').textContent(), KEPT);
    await wall.reload();
    await wall.waitForSelector('#view-displays[data-nameset="5"]');
    assert.equal(await wall.locator('[data-source="37"] .umd-name').textContent(), KEPT);
    await BrowserHarness.screenshot(wall, 'displays-set-5');
    await wall.close();
  });

  it('the take prompt flashes, then lapses and writes nothing', async () => {
    const before = await nameOf(5, 38);
    const writes = (await history(5, 38)).length;
    await openEditor(5, 38);
    await editSource(5, 38);
    await pressKey('x');
    await pressKey('return');
    await waitForAttribute(page, '2', 'Update', 'data-enabled', 'true');
    await BrowserHarness.screenshot(page, 'editor-panel-take-prompt');

    // Each statesheet "Update" takes while the prompt runs, in order.
    await page.evaluate(() => {
      const update = document.querySelector('[data-panel="2"] [data-control="Update"]');
      window.updateSheets = [update.dataset.statesheet];
      new MutationObserver(() => {
        if (window.updateSheets.at(-1) !== update.dataset.statesheet) {
          window.updateSheets.push(update.dataset.statesheet);
        }
      }).observe(update, { attributeFilter: ['data-statesheet'] });
    });
    await waitForAttribute(page, '2', 'Update', 'data-enabled', 'false', TIMER_WAIT_MS);

    const sheets = await page.evaluate(() => window.updateSheets);
    assert.ok(sheets.length >= 3, `"Update" flashed: ${sheets.join(', ')}`);
    sheets.forEach((sheet, i) => {
      assert.ok(sheet === 'ZR_TakeLow' || sheet === 'ZR_TakeHigh', sheet);
      assert.notEqual(sheet, sheets[i - 1]);
    });
    assert.equal(await control(page, '2', 'PreEdit').isVisible(), false);
    assert.equal(await control(page, '2', 'KB_1').getAttribute('data-enabled'), 'false');
    assert.equal(await nameOf(5, 38), before);
    assert.equal((await history(5, 38)).length, writes);
  });

  it('a name changed in the devices pane reaches the open edit\'s "PreEdit" and keyboard', async () => {
    await openEditor(5, 40);
    await editSource(5, 40);
    const devices = await harness.open('/?instance=1#devices');
    await devices.selectOption('[data-devices-device]', String(NAMES_DRIVER));
    await devices.selectOption('[data-devices-database]', '5');
    const entry = devices.locator('tr[data-entry="40"]');
    await entry.locator('input').fill('Guest Cam');
    await entry.getByRole('button', { name: 'Write' }).click();

    await waitForText(page, '2', 'PreEdit', 'Guest Cam');
    await waitForText(page, '2', 'KB_1', 'Guest Cam');
    assert.equal(await nameOf(5, 40), 'Guest Cam');
    const [latest] = await history(5, 40);
    assert.equal(latest.who, `${ADMIN} (127.0.0.1)`);
    await devices.close();

    await pressKey('return');
    await waitForAttribute(page, '2', 'Cancel', 'data-enabled', 'true');
    await control(page, '2', 'Cancel').click();
    await waitForAttribute(page, '2', 'KB_1', 'data-enabled', 'false');
    assert.equal(await control(page, '2', 'PreEdit').isVisible(), false);
  });

  it('the physical keyboard types into the on-screen one while it is enabled', async () => {
    await openEditor(2, 1);
    await editSource(2, 1);
    await pressKey('clear');
    await waitForText(page, '2', 'KB_1', '');
    await page.keyboard.type('Cam 1.A=B');
    await waitForText(page, '2', 'KB_1', 'Cam 1.A=B');
    await page.keyboard.press('Backspace');
    await waitForText(page, '2', 'KB_1', 'Cam 1.A=');
    await page.keyboard.press('Enter');
    await waitForText(page, '2', 'PostEdit', 'Cam 1.A=');
    await control(page, '2', 'Cancel').click();
    await waitForAttribute(page, '2', 'KB_1', 'data-enabled', 'false');
    await page.keyboard.type('z');
    assert.equal(await control(page, '2', 'KB_1').locator('.kb-text').textContent(), '');
  });
});
