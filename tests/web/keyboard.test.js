// The panels worked with the keyboard alone, as an operator without a
// mouse or a screen reader user does: every control reached with Tab and
// Shift-Tab and pressed with Enter or Space, the name typed on the physical
// keyboard, each control called what it does, and what matters read out
// through the page's live region.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import {
  BrowserHarness, TITLES, control, nameOf, showSelector, slotOf, waitForAttribute, waitForPanel,
  waitForText,
} from './BrowserHarness.js';

// More presses of Tab than the page has stops: a control not reached by
// then is not reachable.
const MOST_TABS = 200;

// Presses `key` (Tab or Shift+Tab) until `target` has the focus, and checks
// that the browser draws a focus ring around it.
async function tabTo(page, target, key = 'Tab') {
  for (let presses = 0; presses < MOST_TABS; ++presses) {
    if (await target.evaluate((element) => element === document.activeElement)) {
      const ring = await target.evaluate((element) =>
        element.matches(':focus-visible') && getComputedStyle(element).outlineStyle !== 'none');
      assert.ok(ring, 'the focused control shows it');
      return;
    }
    await page.keyboard.press(key);
  }
  assert.fail(`${await target.evaluate((element) => element.outerHTML.slice(0, 80))} not reached with ${key}`);
}

async function waitForAnnouncement(page, text) {
  await page.waitForFunction((expected) =>
    document.querySelector('[data-announce]').textContent === expected, text);
}

describe('the panels from the keyboard alone', () => {
  let harness;
  let page;

  before(async () => {
    harness = await BrowserHarness.launch();
    page = await harness.open('/?instance=1#panel');
    await showSelector(page);
  });

  after(async () => {
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('names each control after what it does, with its state', async () => {
    const title = await nameOf(TITLES, 5);
    assert.equal(await page.getByRole('button', { name: `Name set 5: ${title}`, exact: true }).count(), 1);
    const high = control(page, '1', 'UMDBright_3');
    await tabTo(page, high);
    await page.keyboard.press('Space');
    await waitForAttribute(page, '1', 'UMDBright_3', 'data-statesheet', 'ZRSourceSelected');
    assert.equal(await high.getAttribute('aria-label'), 'Brightness high, selected');
    assert.equal(await control(page, '1', 'UMDBright_1').getAttribute('aria-label'), 'Brightness low');
  });

  it('edits name 17 of set 3, writes it with Update, goes back and puts set 3 on air', async () => {
    await page.locator('body').focus();
    await tabTo(page, control(page, '1', 'Name_Editor'));
    await page.keyboard.press('Enter');
    await waitForPanel(page, '2');

    await tabTo(page, control(page, '2', 'NameSet_3'));
    await page.keyboard.press('Space');
    await waitForAttribute(page, '2', 'NameSet_3', 'data-statesheet', 'ZRSourceSelected');
    await tabTo(page, control(page, '2', 'SrcGroup').locator('[data-value="2"]'));
    await page.keyboard.press('Enter');
    await page.waitForSelector('[data-control="SrcName"][data-page="2"]');
    const row = control(page, '2', 'SrcName').locator('[data-row="17"]');
    await tabTo(page, row);
    await page.keyboard.press('Enter');
    await waitForAttribute(page, '2', 'KB_1', 'data-enabled', 'true');
    await waitForText(page, '2', 'PreEdit', await nameOf(3, 17));

    // The on-screen keys from the keyboard: Clear pressed with Enter, a
    // digit with Space; the letters typed on the physical keyboard.
    const keys = control(page, '2', 'KB_1');
    await tabTo(page, keys.locator('[data-key="clear"]'));
    await page.keyboard.press('Enter');
    await waitForText(page, '2', 'KB_1', '');
    await page.keyboard.type('Desk');
    await waitForText(page, '2', 'KB_1', 'Desk');
    await tabTo(page, keys.locator('[data-key="7"]'), 'Shift+Tab');
    await page.keyboard.press('Space');
    await waitForText(page, '2', 'KB_1', 'Desk7');
    await tabTo(page, keys.locator('.kb-text'), 'Shift+Tab');
    await page.keyboard.press('Enter');
    await waitForText(page, '2', 'PostEdit', 'Desk7');
    await waitForAttribute(page, '2', 'Update', 'data-enabled', 'true');

    await tabTo(page, control(page, '2', 'Update'));
    await page.keyboard.press('Enter');
    await waitForAnnouncement(page, 'Name committed: Desk7');
    assert.equal(await nameOf(3, 17), 'Desk7');

    await tabTo(page, control(page, '2', 'Nameset_Select'), 'Shift+Tab');
    await page.keyboard.press('Enter');
    await waitForPanel(page, '1');
    await tabTo(page, control(page, '1', 'Select_3'));
    await page.keyboard.press('Enter');
    await waitForAttribute(page, '1', 'Confirm', 'data-enabled', 'true');
    await tabTo(page, control(page, '1', 'Confirm'));
    await page.keyboard.press('Space');
    const title = await nameOf(TITLES, 3);
    await waitForText(page, '1', 'Current', title);
    await waitForAnnouncement(page, `On air: ${title}`);
    assert.equal(await slotOf(212), '3');
  });
});
