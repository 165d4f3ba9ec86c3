// The engineer's views: the protocol inspector (live log, filters, pause,
// export) and the history of name writes.
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { after, before, describe, it } from 'node:test';
import { BrowserHarness, NAMES_DRIVER, TOKEN_NAME, api, control, waitForAttribute } from './BrowserHarness.js';

describe('the protocol inspector', () => {
  let harness;
  let panel;
  let protocol;
  let inspector;

  // The texts of the log rows the inspector draws.
  const rowTexts = () => protocol.locator('[data-log-rows] td:nth-child(5)').allTextContents();
  const waitForRow = (text) => protocol.waitForFunction((expected) =>
    [...document.querySelectorAll('[data-log-rows] td:nth-child(5)')].some((cell) => cell.textContent === expected), text);

  before(async () => {
    harness = await BrowserHarness.launch();
    panel = await harness.open('/?instance=1');
    protocol = await harness.open('/?instance=1#protocol');
    inspector = protocol.locator('#view-protocol');
    await protocol.waitForSelector('[data-log-rows] tr');
  });

  after(async () => {
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('shows the script\'s commands as the operator works, and filters them by kind, instance and text', async () => {
    await control(panel, '1', 'UMDBright_2').click();
    await waitForRow("IW 57 '2' 211 0");  // the brightness request, exactly as the script sent it
    await waitForRow("TP 'statesheet=ZRSourceSelected' '1' 'UMDBright_2'");

    await inspector.getByLabel('Text').fill("'UMDBright_2'");
    await inspector.getByRole('checkbox', { name: 'notify' }).uncheck();
    const filtered = await rowTexts();
    assert.ok(filtered.length > 0);
    assert.ok(filtered.every((text) => text.includes("'UMDBright_2'")), filtered.join('\n'));

    await inspector.getByRole('checkbox', { name: 'command' }).uncheck();
    assert.deepEqual((await rowTexts()).filter((text) => text.startsWith('TP ')), []);
    await inspector.getByRole('checkbox', { name: 'command' }).check();

    // Only the instance whose operator pressed the button asked for the level.
    await inspector.getByLabel('Text').fill('IW 57');
    await inspector.getByLabel('Instance').selectOption('2');
    assert.deepEqual(await rowTexts(), []);
    await inspector.getByLabel('Instance').selectOption('1');
    assert.ok((await rowTexts()).includes("IW 57 '2' 211 0"));
    await inspector.getByLabel('Instance').selectOption('all');

    // Every name the panels read at start-up was answered and handed back.
    await inspector.getByLabel('Text').fill('handed back');
    const kinds = await protocol.locator('[data-log-rows] td:nth-child(4)').allTextContents();
    assert.ok(kinds.length > 0);
    assert.deepEqual([...new Set(kinds)], ['release']);
  });

  it('holds new entries while paused, shows them on resume, and exports what matches as text', async () => {
    await inspector.getByLabel('Text').fill("'Select_8'");
    const earlier = await rowTexts();
    await inspector.getByRole('button', { name: 'Pause' }).click();
    await control(panel, '1', 'Select_8').click();
    await waitForAttribute(panel, '1', 'Confirm', 'data-enabled', 'true');
    await protocol.waitForSelector('[data-log-summary]:has-text("new entries wait")');
    assert.deepEqual(await rowTexts(), earlier);

    await inspector.getByRole('button', { name: 'Resume' }).click();
    await waitForRow("TP 'statesheet=ZRSourceSelected' '1' 'Select_8'");
    await control(panel, '1', 'Cancel').click();
    await waitForRow("TP 'statesheet=ZRSourceDeselected' '1' 'Select_8'");

    const [download] = await Promise.all([
      protocol.waitForEvent('download'),
      inspector.getByRole('button', { name: 'Export as text' }).click(),
    ]);
    const lines = (await readFile(await download.path(), 'utf8')).trim().split('\n');
    assert.ok(lines.some((line) => /\tinstance 1\tcommand\tTP 'statesheet=ZRSourceSelected' '1' 'Select_8'$/.test(line)),
      lines.join('\n'));
    assert.ok(lines.every((line) => line.includes("'Select_8'")));
  });
});

describe('the history', () => {
  let harness;
  let page;
  let view;

  before(async () => {
    harness = await BrowserHarness.launch();
    page = await harness.open('/?instance=1#history');
    view = page.locator('#view-history');
  });

  after(async () => {
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('lists name writes newest first, narrowed to a name set and a source, and follows new writes', async () => {
    const entry = `/api/devices/${NAMES_DRIVER}/databases/6/12`;
    const before = (await api('GET', entry)).text;
    await api('PUT', entry, { text: 'Hist One' });
    await api('PUT', `/api/devices/${NAMES_DRIVER}/databases/6/13`, { text: 'Other Source' });

    await view.getByLabel('Name set').selectOption('6');
    await view.getByLabel('Source').fill('12');
    await view.getByRole('button', { name: 'Filter' }).click();
    await page.waitForSelector('[data-history-rows] td:has-text("Hist One")');
    const first = await page.locator('[data-history-rows] tr').allTextContents();
    assert.ok(first.every((row) => row.includes('set 6, source 12')), first.join('\n'));

    await api('PUT', entry, { text: 'Hist Two' });
    await page.waitForSelector('[data-history-rows] tr:first-child td:nth-child(5):text-is("Hist Two")');
    const cells = await page.locator('[data-history-rows] tr:first-child td').allTextContents();
    assert.deepEqual(cells.slice(1, 5), [`token ${TOKEN_NAME} (127.0.0.1)`, 'set 6, source 12', 'Hist One', 'Hist Two']);
    const second = await page.locator('[data-history-rows] tr:nth-child(2) td').allTextContents();
    assert.deepEqual(second.slice(3, 5), [before, 'Hist One']);
  });
});
