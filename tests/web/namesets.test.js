// Bulk work on the name sets from the page: CSV import with a preview that
// refuses wrong lines, export that reads back unchanged, copy and compare,
// find, and the history's restore and undo; and one import of all 128
// names reaching a running panel's open edit and the displays.
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { after, before, describe, it } from 'node:test';
import {
  BrowserHarness, NAMES_DRIVER, TALLY, TITLES, api, control, nameOf, slotOf, waitForAttribute,
  waitForPanel, waitForText,
} from './BrowserHarness.js';

const NAMESET_SLOT = 212;
const SOURCES = 128;

// A CSV file as a spreadsheet would hand it over, for the file input.
function csvFile(name, lines) {
  return { name, mimeType: 'text/csv', buffer: Buffer.from(`${lines.join('\r\n')}\r\n`, 'utf8') };
}

// The texts of the rows of a table body.
async function rows(page, selector) {
  return page.locator(`${selector} tr`).evaluateAll((found) =>
    found.map((row) => [...row.cells].map((cell) => cell.textContent)));
}

describe('the name sets view', () => {
  let harness;
  let page;
  let view;

  before(async () => {
    harness = await BrowserHarness.launch();
    page = await harness.open('/?instance=1#namesets');
    view = page.locator('#view-namesets');
    await page.waitForSelector('[data-import-set] option', { state: 'attached' });
  });

  after(async () => {
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('previews an import line by line, writes nothing while a line is wrong, and exports what it imported exactly', async () => {
    const untouched = await nameOf(8, 1);
    await view.locator('[data-import-set]').selectOption(`${NAMES_DRIVER}:8`);
    await view.getByLabel('CSV file').setInputFiles(csvFile('wrong.csv', [
      'source,name', '1,Anchor', '129,Too far', '2,Kamera Süd Links', '1,Again', '3,"open',
    ]));
    await page.waitForSelector('[data-import-rows] tr[data-status="wrong"]');
    assert.deepEqual(await rows(page, '[data-import-rows]'), [
      ['2', '1', 'changed', untouched, 'Anchor'],
      ['3', '', 'wrong: source "129" is not a number from 1 to 128', '', '129,Too far'],
      // Sixteen letters, but "ü" takes two of the sixteen bytes a name holds.
      ['4', '', 'wrong: name "Kamera Süd Links" is longer than 16 characters (17 bytes as stored)', '', '2,Kamera Süd Links'],
      ['5', '', 'wrong: source 1 appears a second time', '', '1,Again'],
      ['6', '', 'wrong: not of the form source,name', '', '3,"open'],
    ]);
    assert.equal(await view.getByRole('button', { name: 'Apply import' }).isDisabled(), true);
    assert.equal(await nameOf(8, 1), untouched);
    await BrowserHarness.screenshot(page, 'namesets-import-preview');

    const imported = ['1,Anchor', '2,"Smith, J"', '3,"The ""Big"" One"', '4,Kamera Süd', '77,Zebra Cam'];
    await view.getByLabel('CSV file').setInputFiles(csvFile('show.csv', ['source,name', ...imported]));
    await page.waitForSelector('[data-import-rows] tr:nth-child(5)[data-status="changed"]');
    await view.getByRole('button', { name: 'Apply import' }).click();
    await page.waitForSelector('[data-import-status]:has-text("Imported: 5 names written")');
    assert.deepEqual(await Promise.all([1, 2, 3, 4, 77].map((source) => nameOf(8, source))),
      ['Anchor', 'Smith, J', 'The "Big" One', 'Kamera Süd', 'Zebra Cam']);
    const [latest] = (await api('GET', `/api/history?device=${NAMES_DRIVER}&database=8&limit=1`)).entries;
    assert.equal(latest.batch.kind, 'import');
    assert.equal((await api('GET', `/api/batches/${latest.batch.id}`)).entries.length, 5);

    const [download] = await Promise.all([
      page.waitForEvent('download'),
      view.getByRole('link', { name: 'Export as CSV' }).click(),
    ]);
    const exported = await readFile(await download.path(), 'utf8');
    const lines = exported.split('\n');
    assert.equal(lines[0], 'source,name');
    assert.equal(lines.length, SOURCES + 2);
    for (const line of imported) {
      assert.equal(lines[Number(line.split(',')[0])], line);
    }
    // The exported file imports back as it is: nothing to change.
    await view.getByLabel('CSV file').setInputFiles(
      { name: 'exported.csv', mimeType: 'text/csv', buffer: Buffer.from(exported, 'utf8') });
    await page.waitForSelector('[data-import-status]:has-text("0 new, 0 changed, 128 unchanged")');
    assert.equal(await view.getByRole('button', { name: 'Apply import' }).isDisabled(), true);
  });

  it('copies a set after a preview, the title only when asked', async () => {
    const title = await nameOf(TITLES, 7);
    await api('PUT', `/api/devices/${NAMES_DRIVER}/databases/${TITLES}/8`, { text: 'Zebra Show' });
    await view.locator('[data-copy-from]').selectOption(`${NAMES_DRIVER}:8`);
    await view.locator('[data-copy-to]').selectOption(`${NAMES_DRIVER}:7`);
    const differing = [];
    for (let source = 1; source <= SOURCES; ++source) {
      if (await nameOf(8, source) !== await nameOf(7, source)) {
        differing.push(source);
      }
    }
    assert.ok(differing.length >= 5);
    await view.getByRole('button', { name: 'Preview copy' }).click();
    await page.waitForSelector('[data-copy-status]:has-text("changes")');
    const preview = await rows(page, '[data-copy-rows]');
    assert.deepEqual(preview.map((row) => Number(row[0])), differing);
    assert.deepEqual(preview.find((row) => row[0] === '2'), ['2', await nameOf(7, 2), 'Smith, J']);

    await view.getByRole('button', { name: 'Apply copy' }).click();
    await page.waitForSelector('[data-copy-status]:has-text("Copied")');
    for (const source of differing) {
      assert.equal(await nameOf(7, source), await nameOf(8, source));
    }
    assert.equal(await nameOf(TITLES, 7), title);

    await view.getByLabel('with its title').check();
    await view.getByRole('button', { name: 'Preview copy' }).click();
    await page.waitForSelector('[data-copy-status]:has-text("changes 1 names")');
    assert.deepEqual(await rows(page, '[data-copy-rows]'), [['Title', title, 'Zebra Show']]);
    await view.getByRole('button', { name: 'Apply copy' }).click();
    await page.waitForSelector('[data-copy-status]:has-text("Copied")');
    assert.equal(await nameOf(TITLES, 7), 'Zebra Show');
  });

  it('compares a set with the router\'s names side by side, the differences marked', async () => {
    await api('PUT', '/api/devices/1/databases/0/3', { text: 'Zebra Router' });
    const router = (await api('GET', '/api/devices/1/databases/0')).entries;
    const set = (await api('GET', `/api/devices/${NAMES_DRIVER}/databases/8`)).entries;
    const differing = set.filter((entry, i) => entry.text !== router[i].text).map((entry) => String(entry.index));
    await view.locator('[data-compare-left]').selectOption(`${NAMES_DRIVER}:8`);
    await view.locator('[data-compare-right]').selectOption('1:0');
    await view.getByRole('button', { name: 'Compare' }).click();
    await page.waitForSelector('[data-compare-rows] tr');
    const marked = await page.locator('[data-compare-rows] tr[data-differs="true"] td:first-child').allTextContents();
    assert.deepEqual(marked, differing);
    const third = await page.locator('[data-compare-rows] tr:nth-child(3) td').allTextContents();
    assert.deepEqual(third, ['3', 'The "Big" One', 'Zebra Router']);
    assert.equal(await page.locator('[data-compare-right-head]').textContent(), 'Set 0 (router database 0)');
    await BrowserHarness.screenshot(page, 'namesets-compare');
  });

  it('finds a text in every set, the titles and the router\'s names, and opens a hit', async () => {
    await view.getByLabel('Text').fill('zebra');
    await view.getByRole('button', { name: 'Find' }).click();
    await page.waitForSelector('[data-find-hits] li');
    const hits = await page.locator('[data-find-hits] button').allTextContents();
    assert.deepEqual(hits.sort(), [
      'Set 0 (router database 0), source 3: Zebra Router',
      'Set 7: Zebra Show, source 77: Zebra Cam',
      'Set 8: Zebra Show, source 77: Zebra Cam',
      'Title of set 7: Zebra Show',
      'Title of set 8: Zebra Show',
    ]);
    await page.getByRole('button', { name: 'Set 8: Zebra Show, source 77: Zebra Cam' }).click();
    await page.waitForSelector('#view-devices:not([hidden])');
    const input = page.locator('#view-devices tr[data-entry="77"] input');
    await page.waitForFunction(() => document.activeElement?.closest('tr')?.dataset.entry === '77');
    assert.equal(await input.inputValue(), 'Zebra Cam');
    assert.equal(await page.locator('[data-devices-database]').inputValue(), '8');
  });
});

describe('an import of a whole set while it is on air', () => {
  let harness;
  let panel;
  let wall;
  let setsPage;
  let shownBefore;

  before(async () => {
    harness = await BrowserHarness.launch();
    shownBefore = await slotOf(NAMESET_SLOT);
    await api('PUT', `/api/devices/${TALLY}/slots/${NAMESET_SLOT}`, { text: '4' });
    panel = await harness.open('/?instance=2#panel');
    wall = await harness.open('/?instance=2#displays');
    setsPage = await harness.open('/?instance=2#namesets');
  });

  after(async () => {
    await api('PUT', `/api/devices/${TALLY}/slots/${NAMESET_SLOT}`, { text: shownBefore });
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('reaches the open edit and the displays, and the history undoes it, leaving later changes alone', async () => {
    const before = (await api('GET', `/api/devices/${NAMES_DRIVER}/databases/4`)).entries.map((entry) => entry.text);
    // The operator edits source 100 of set 4 while the set is imported.
    await control(panel, '1', 'Name_Editor').click();
    await waitForPanel(panel, '2');
    await control(panel, '2', 'NameSet_4').click();
    await waitForAttribute(panel, '2', 'NameSet_4', 'data-statesheet', 'ZRSourceSelected');
    await control(panel, '2', 'SrcGroup').locator('[data-value="7"]').click();
    await panel.waitForSelector('[data-control="SrcName"][data-page="7"]');
    await control(panel, '2', 'SrcName').locator('[data-row="100"]').click();
    await waitForText(panel, '2', 'PreEdit', before[99]);

    const names = Array.from({ length: SOURCES }, (_, i) => `Bulk ${i + 1}`);
    names[99] = 'Süd, "B" 100';
    const view = setsPage.locator('#view-namesets');
    await setsPage.waitForSelector('[data-import-set] option', { state: 'attached' });
    await view.locator('[data-import-set]').selectOption(`${NAMES_DRIVER}:4`);
    await view.getByLabel('CSV file').setInputFiles(csvFile('bulk.csv',
      ['source,name', ...names.map((name, i) => `${i + 1},"${name.replaceAll('"', '""')}"`)]));
    await setsPage.waitForSelector('[data-import-status]:has-text("0 new, 128 changed, 0 unchanged")');
    await view.getByRole('button', { name: 'Apply import' }).click();
    await setsPage.waitForSelector('[data-import-status]:has-text("Imported: 128 names written")');

    await waitForText(panel, '2', 'PreEdit', 'Süd, "B" 100');
    await waitForText(panel, '2', 'KB_1', 'Süd, "B" 100');
    for (const source of [1, 100, 127]) {
      await wall.waitForFunction(([at, name]) =>
        document.querySelector(`.umd[data-source="${at}"]`)?.dataset.sent === name, [source, names[source - 1]]);
    }

    // Somebody changes source 5 after the import; the undo leaves it.
    await api('PUT', `/api/devices/${NAMES_DRIVER}/databases/4/5`, { text: 'Later 5' });
    const history = await harness.open('/?instance=2#history');
    const batch = history.locator('[data-history-rows] tr.batch', { hasText: 'bulk.csv' });
    assert.match(await batch.textContent(), /import \d+: bulk\.csv into database 4 of StC_UMD_Names_DriverID \(128 names\)/);
    await batch.getByRole('button', { name: /^Undo import/ }).click();
    await history.waitForSelector('[data-history-result]:has-text("Undone: 127 names put back")');
    assert.match(await history.locator('[data-history-result]').textContent(),
      /Left alone, changed since: source 5 \(changed since by token tests \(127\.0\.0\.1\)/);
    const after = (await api('GET', `/api/devices/${NAMES_DRIVER}/databases/4`)).entries.map((entry) => entry.text);
    assert.deepEqual(after.filter((_, i) => i !== 4), before.filter((_, i) => i !== 4));
    assert.equal(after[4], 'Later 5');
    await waitForText(panel, '2', 'PreEdit', before[99]);

    // Any single write can be put back from the history: here the later change of source 5.
    await history.locator('[data-history-set]').selectOption('4');
    await history.locator('[data-history-source]').fill('5');
    await history.getByRole('button', { name: 'Filter' }).click();
    const later = history.locator('[data-history-rows] tr', { hasText: 'Later 5' }).first();
    await later.getByRole('button', { name: 'Restore "Bulk 5"' }).click();
    await history.waitForSelector('[data-history-result]:has-text("Restored \\"Bulk 5\\"")');
    assert.equal(await nameOf(4, 5), 'Bulk 5');
    const [restore, changed] = (await api('GET', `/api/history?device=${NAMES_DRIVER}&database=4&index=5&limit=2`)).entries;
    assert.equal(restore.restores, changed.id);
    await wall.waitForFunction(() => document.querySelector('.umd[data-source="5"]')?.dataset.sent === 'Bulk 5');

    // The operator drops the edit and goes back to the selector.
    await control(panel, '2', 'KB_1').locator('[data-key="return"]').click();
    await waitForAttribute(panel, '2', 'Cancel', 'data-enabled', 'true');
    await control(panel, '2', 'Cancel').click();
    await waitForAttribute(panel, '2', 'KB_1', 'data-enabled', 'false');
    await control(panel, '2', 'Nameset_Select').click();
    await waitForPanel(panel, '1');
  });
});
