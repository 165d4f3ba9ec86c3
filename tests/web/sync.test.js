// Several operators: every page of a panel instance draws the same panel
// as it changes, and each panel instance has a page of its own; a page
// that loads while the names change comes up with the names as they are.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { setTimeout as sleep } from 'node:timers/promises';
import {
  BrowserHarness, HOST_URL, api, control, showSelector, waitForAttribute, waitForPanel,
} from './BrowserHarness.js';

// The router's names, which the editor panel's source list shows as
// captions (the layout's captionDevice and captionDatabase).
const ROUTER_NAMES = '/api/devices/1/databases/0';
// A slow network, so that the page takes long enough to load for many
// writes to land while it does.
const SLOW_NETWORK = { offline: false, latency: 150, downloadThroughput: -1, uploadThroughput: -1 };
// How long a write waits for the next.
const WRITE_EVERY_MS = 10;

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

  it('comes up live with the names as they are when they change while it loads', async () => {
    // A row of the page of the list the instance shows now.
    const editor = (await api('GET', '/api/panels/1')).panels.find((panel) => panel.panel === '2');
    const list = editor.controls.find((found) => found.name === 'SrcName').properties;
    const row = (Number(list.page ?? 1) - 1) * Number(list.pageSize) + 3;
    const original = (await api('GET', `${ROUTER_NAMES}/${row}`)).text;
    const page = await harness.context.newPage();
    page.on('pageerror', (error) => harness.errors.push(error.message));
    const cdp = await harness.context.newCDPSession(page);
    await cdp.send('Network.enable');
    await cdp.send('Network.emulateNetworkConditions', SLOW_NETWORK);
    let live = false;
    const loaded = page.goto(`${HOST_URL}/?instance=1`)
      .then(() => page.waitForSelector('body[data-connection="live"]'))
      .then(() => { live = true; });
    // Writes until the page is live: whichever of them its stream's start
    // message holds and whichever follow on the stream, it ends with the last.
    let written = 0;
    do {
      await api('PUT', `${ROUTER_NAMES}/${row}`, { text: `Load ${++written}` });
      await sleep(WRITE_EVERY_MS);
    } while (!live);
    await loaded;
    const last = `Load ${written}`;
    assert.ok(written > 5, `only ${written} writes while the page loaded`);
    const caption = page.locator(`[data-panel="2"] [data-control="SrcName"] [data-row="${row}"]`);
    await page.waitForFunction(([element, text]) => element.getAttribute('aria-label').endsWith(`: ${text}`),
      [await caption.elementHandle(), last]);
    await api('PUT', `${ROUTER_NAMES}/${row}`, { text: original });
    await page.close();
  });
});
