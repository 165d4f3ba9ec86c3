// The page on every screen it is used on: a workstation monitor, a touch
// panel, a tablet and a phone. No view scrolls sideways; on the touch
// screens every panel control is at least 44 by 44 CSS pixels, and a set
// change and a name edit are tapped through, with screenshots of each size
// kept under build/web-screenshots/.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import {
  BrowserHarness, TITLES, control, nameOf, showSelector, slotOf, waitForAttribute, waitForPanel, waitForText,
} from './BrowserHarness.js';

const SCREENS = [
  { name: 'monitor', width: 1920, height: 1080, touch: false },
  { name: 'touch-panel', width: 1024, height: 768, touch: true },
  { name: 'tablet', width: 768, height: 1024, touch: true },
  { name: 'phone', width: 390, height: 844, touch: true },
];
const VIEWS = ['panel', 'displays', 'protocol', 'devices', 'history', 'namesets', 'accounts'];
// The least size of a touch target, in CSS pixels.
const TOUCH_TARGET = 44;

// Whether the page is wider than the window, and the panel controls smaller
// than a finger.
async function measure(page) {
  return page.evaluate(() => ({
    overflow: document.documentElement.scrollWidth - window.innerWidth,
    beyond: [...document.querySelectorAll('body *')]
      .filter((element) => element.getBoundingClientRect().right > window.innerWidth + 1 &&
        element.checkVisibility() && !element.closest('.panel-stage'))
      .slice(0, 4).map((element) => `${element.tagName}.${element.className}`),
    small: [...document.querySelectorAll('.panel:not([hidden]) button:not([hidden])')]
      .map((button) => button.getBoundingClientRect())
      .filter((box) => box.width > 0 && box.height > 0)
      .map((box) => Math.min(box.width, box.height))
      .reduce((least, side) => Math.min(least, side), Infinity),
  }));
}

for (const screen of SCREENS) {
  describe(`the page at ${screen.width}×${screen.height}${screen.touch ? ' with touch' : ''}`, () => {
    let harness;
    let page;

    before(async () => {
      harness = await BrowserHarness.launch({ touch: screen.touch });
      page = await harness.open('/?instance=2#panel');
      await page.setViewportSize({ width: screen.width, height: screen.height });
      await showSelector(page);
    });

    after(async () => {
      await harness.close();
      assert.deepEqual(harness.errors, []);
    });

    it('no view scrolls sideways', async () => {
      for (const view of VIEWS) {
        await page.evaluate((hash) => { window.location.hash = hash; }, view);
        await page.locator(`#view-${view}`).waitFor({ state: 'visible' });
        const { overflow, beyond } = await measure(page);
        assert.ok(overflow <= 0, `${view} is ${overflow} px wider than the window: ${beyond.join(', ')}`);
      }
      await page.evaluate(() => { window.location.hash = 'panel'; });
    });

    if (!screen.touch) {
      return;
    }

    it('every panel control is big enough for a finger', async () => {
      const { small } = await measure(page);
      assert.ok(small >= TOUCH_TARGET, `the smallest selector control is ${small} px`);
    });

    it('a set change and a name edit are tapped through', async () => {
      await page.evaluate(() => { window.location.hash = 'panel'; });
      await waitForPanel(page, '1');
      await control(page, '1', 'Select_7').tap();
      await waitForAttribute(page, '1', 'Confirm', 'data-enabled', 'true');
      await BrowserHarness.screenshot(page, `${screen.name}-selector`, { fullPage: false });
      await control(page, '1', 'Confirm').tap();
      await waitForText(page, '1', 'Current', await nameOf(TITLES, 7));
      assert.equal(await slotOf(212), '7');

      await control(page, '1', 'Name_Editor').tap();
      await waitForPanel(page, '2');
      await control(page, '2', 'NameSet_7').tap();
      await waitForAttribute(page, '2', 'NameSet_7', 'data-statesheet', 'ZRSourceSelected');
      const { small } = await measure(page);
      assert.ok(small >= TOUCH_TARGET, `the smallest editor control is ${small} px`);
      await control(page, '2', 'SrcGroup').locator('[data-value="1"]').tap();
      await page.waitForSelector('[data-panel="2"] [data-control="SrcName"][data-page="1"]');
      await control(page, '2', 'SrcName').locator('[data-row="5"]').tap();
      await waitForAttribute(page, '2', 'KB_1', 'data-enabled', 'true');
      const keys = control(page, '2', 'KB_1');
      await keys.locator('[data-key="clear"]').tap();
      await waitForText(page, '2', 'KB_1', '');
      for (const key of `${screen.name.slice(0, 5)}`) {
        await keys.locator(`[data-key="${key}"]`).tap();
      }
      await keys.locator('[data-key="return"]').tap();
      await waitForAttribute(page, '2', 'Update', 'data-enabled', 'true');
      await BrowserHarness.screenshot(page, `${screen.name}-editor`, { fullPage: false });
      await control(page, '2', 'Update').tap();
      await waitForAttribute(page, '2', 'PostEdit', 'hidden', '');
      assert.equal(await nameOf(7, 5), screen.name.slice(0, 5));
      await control(page, '2', 'Nameset_Select').tap();
      await waitForPanel(page, '1');
    });
  });
}
