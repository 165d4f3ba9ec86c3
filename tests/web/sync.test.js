// Several operators: every page of a panel instance draws the same panel
// as it changes, and each panel instance has a page of its own.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { BrowserHarness, control, showSelector, waitForAttribute, waitForPanel } from './BrowserHarness.js';

describe('several pages', () => {
  let harness;

  before(async () => {
    harness = await BrowserHarness.launch();
  });

  after(async () => {
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('two pages of one panel instance stay in sync, whichever page the operator uses', async () => {
    const first = await harness.open('/?instance=1');
    const second = await harness.open('/?instance=1');
    await showSelector(first);
    await control(first, '1', 'Select_7').click();
    for (const page of [first, second]) {
      await waitForAttribute(page, '1', 'Select_7', 'data-statesheet', 'ZRSourceSelected');
      await waitForAttribute(page, '1', 'Confirm', 'data-enabled', 'true');
    }
    await control(second, '1', 'Cancel').click();
    for (const page of [first, second]) {
      await waitForAttribute(page, '1', 'Select_7', 'data-statesheet', 'ZRSourceDeselected');
      await waitForAttribute(page, '1', 'Confirm', 'data-enabled', 'false');
    }
    await first.close();
    await second.close();
  });

  it('each panel instance has its own page, and switching panels follows "PR"/"PS"', async () => {
    const one = await harness.open('/?instance=1');
    const two = await harness.open('/?instance=2');
    const twoAgain = await harness.open('/?instance=2#panel');
    await showSelector(two);
    await control(two, '1', 'Name_Editor').click();
    await waitForPanel(two, '2');
    await waitForPanel(twoAgain, '2');
    assert.equal(await twoAgain.locator('[data-panel="1"]').isVisible(), false);
    assert.equal(await one.locator('[data-panel="1"]').isVisible(), true);
    assert.equal(await one.locator('[data-panel="2"]').isVisible(), false);
    await BrowserHarness.screenshot(twoAgain, 'editor-panel');

    await control(twoAgain, '2', 'Nameset_Select').click();
    await waitForPanel(two, '1');
    assert.equal(await two.locator('[data-panel="2"]').isVisible(), false);
    assert.equal(await two.locator('nav[aria-label="Panel instances"] [aria-current="page"]').textContent(), 'Panel 2');
  });

  it('a page asking for an instance the host does not run says so', async () => {
    const page = await harness.open('/?instance=9');
    assert.equal(await page.locator('.panel-empty').textContent(), 'There is no panel instance 9.');
  });
});
