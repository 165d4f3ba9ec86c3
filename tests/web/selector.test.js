// The selector panel in the browser: choosing the name set the displays
// show, its confirm window, the brightness, and the wall of displays that
// follows the tally infodriver.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import {
  BrowserHarness, NAMES_DRIVER, TIMER_WAIT_MS, TITLES, api, control, nameOf, showSelector, slotOf,
  waitForAttribute, waitForText,
} from './BrowserHarness.js';

describe('the selector panel', () => {
  let harness;
  let panel;
  let wall;

  before(async () => {
    harness = await BrowserHarness.launch();
    panel = await harness.open('/?instance=1#panel');
    wall = await harness.open('/?instance=1#displays');
    await showSelector(panel);
  });

  after(async () => {
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('draws the layout: titles from the names infodriver, "Confirm" disabled and inert', async () => {
    assert.equal(await control(panel, '1', 'Names_3').textContent(), await nameOf(TITLES, 3));
    assert.equal(await control(panel, '1', 'Confirm').getAttribute('data-enabled'), 'false');
    assert.equal(await control(panel, '1', 'Confirm').isDisabled(), true);
    assert.equal(await panel.locator('[data-panel="2"]').isVisible(), false);
    await BrowserHarness.screenshot(panel, 'selector-panel');
  });

  it('choosing set 3 and confirming shows its title in "Current" and its names on the wall', async () => {
    await control(panel, '1', 'Select_3').click();
    await waitForAttribute(panel, '1', 'Select_3', 'data-statesheet', 'ZRSourceSelected');
    await waitForAttribute(panel, '1', 'Confirm', 'data-enabled', 'true');
    await control(panel, '1', 'Confirm').click();

    await waitForText(panel, '1', 'Current', await nameOf(TITLES, 3));
    await waitForAttribute(panel, '1', 'Confirm', 'data-enabled', 'false');
    await waitForAttribute(panel, '1', 'Select_3', 'data-statesheet', 'ZRSourceDeselected');
    assert.equal(await slotOf(212), '3');

    await wall.waitForSelector('#view-displays[data-nameset="3"]');
    const set3 = await api('GET', `/api/devices/${NAMES_DRIVER}/databases/3`);
    const shown = await wall.locator('.umd-name').allTextContents();
    assert.deepEqual(shown, set3.entries.map((entry) => entry.text));
    await BrowserHarness.screenshot(wall, 'displays-set-3');
  });

  it('a choice left unconfirmed lapses: "Confirm" greys out and the displays keep their set', async () => {
    const before = await slotOf(212);
    await control(panel, '1', 'Select_6').click();
    await waitForAttribute(panel, '1', 'Confirm', 'data-enabled', 'true');
    assert.equal(await control(panel, '1', 'Confirm').isEnabled(), true);

    await waitForAttribute(panel, '1', 'Confirm', 'data-enabled', 'false', TIMER_WAIT_MS);
    assert.equal(await control(panel, '1', 'Confirm').isDisabled(), true);
    await waitForAttribute(panel, '1', 'Select_6', 'data-statesheet', 'ZRSourceDeselected');
    assert.equal(await slotOf(212), before);
  });

  it('a brightness button lights once the tally infodriver reports the level, and the wall dims', async () => {
    await control(panel, '1', 'UMDBright_1').click();
    await waitForAttribute(panel, '1', 'UMDBright_1', 'data-statesheet', 'ZRSourceSelected');
    await wall.waitForSelector('#view-displays[data-brightness="1"]');
    await control(panel, '1', 'UMDBright_3').click();
    await waitForAttribute(panel, '1', 'UMDBright_3', 'data-statesheet', 'ZRSourceSelected');
    await waitForAttribute(panel, '1', 'UMDBright_1', 'data-statesheet', 'ZRSourceDeselected');
    await wall.waitForSelector('#view-displays[data-brightness="3"]');
    assert.equal(await slotOf(211), '3');
  });

  it('a slot written elsewhere moves the wall and "Current" alike', async () => {
    await api('PUT', '/api/devices/57/slots/212', { text: '0' });
    await waitForText(panel, '1', 'Current', 'Matrix Names');
    await wall.waitForSelector('#view-displays[data-nameset="0"]');
    const router = await api('GET', '/api/devices/1/databases/0');
    assert.equal(await wall.locator('[data-source="128"] .umd-name').textContent(), router.entries[127].text);
  });
});

describe('the selector panel without a mouse', () => {
  let harness;

  before(async () => {
    harness = await BrowserHarness.launch({ touch: true });
  });

  after(async () => {
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('answers taps on a touch screen', async () => {
    const page = await harness.open('/?instance=2');
    await showSelector(page);
    await control(page, '1', 'Select_2').tap();
    await waitForAttribute(page, '1', 'Confirm', 'data-enabled', 'true');
    await control(page, '1', 'Cancel').tap();
    await waitForAttribute(page, '1', 'Confirm', 'data-enabled', 'false');
    await waitForAttribute(page, '1', 'Select_2', 'data-statesheet', 'ZRSourceDeselected');
  });

  it('is worked from the keyboard: Enter chooses set 9, Tab reaches "Confirm", Space confirms', async () => {
    const page = await harness.open('/?instance=2');
    await control(page, '1', 'Select_9').focus();
    await page.keyboard.press('Enter');
    await waitForAttribute(page, '1', 'Confirm', 'data-enabled', 'true');
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.dataset.control), 'Confirm');
    await page.keyboard.press('Space');
    await waitForText(page, '1', 'Current', 'MV Input Names');
    assert.equal(await slotOf(212), '9');
  });
});
