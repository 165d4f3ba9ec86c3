// The display output in the browser: with panelhost driving displays over
// TSL UMD 5.0 and 3.1, the wall shows each receiver's state and what every
// display was last sent, a name changed elsewhere is sent and shown at once,
// and a name a 3.1 display cannot show exactly is marked; a vision mixer's
// tally lights its tile at once, naming the input.
import assert from 'node:assert/strict';
import dgram from 'node:dgram';
import { after, before, describe, it } from 'node:test';
import { BrowserHarness, api } from './BrowserHarness.js';

describe('the display output', () => {
  let harness;
  let wall;

  before(async () => {
    harness = await BrowserHarness.launch();
    wall = await harness.open('/?instance=1#displays');
  });

  after(async () => {
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('shows the receivers and marks every display with what it was last sent', async () => {
    const status = wall.locator('[data-tsl][data-enabled="true"]');
    await status.waitFor();
    assert.match(await status.textContent(), /udp:127\.0\.0\.1:\d+/);
    // A host on its own data file drives every receiver it names.
    const receivers = status.locator('ul:not([data-tally-inputs]) li');
    assert.ok(await receivers.count() > 0);
    for (const text of await receivers.allTextContents()) {
      assert.match(text, /; driven by this host$/);
    }
    const shown = await api('GET', '/api/wall');
    const tile = wall.locator('.umd[data-source="5"]');
    await assert.doesNotReject(() =>
      wall.waitForFunction((name) => document.querySelector('.umd[data-source="5"]')?.dataset.sent === name,
        shown.displays[4].name));
    assert.match(await tile.getAttribute('title'), /Display index 4: last sent/);
    // The displays that follow router destinations: one row each.
    const rows = status.locator('table[data-routed] tbody tr');
    await rows.first().waitFor();
    assert.equal(await rows.count(), 8);
    assert.deepEqual(await rows.nth(2).locator('td').allTextContents(),
      ['2', '3', 'none', '']);
  });

  it('a name changed elsewhere on the shown set reaches the display and the wall', async () => {
    const shown = await api('GET', '/api/wall');
    const device = (await api('GET', '/api/devices')).devices
      .find((d) => d.name === (shown.nameset === 0 || shown.nameset === 9 ? 'StC SDI Router' : 'StC_UMD_Names_DriverID'));
    const database = shown.nameset === 0 ? 0 : shown.nameset === 9 ? 2 : shown.nameset;
    await api('PUT', `/api/devices/${device.number}/databases/${database}/7`, { text: 'Sent Süd 7' });
    await wall.waitForFunction(() => {
      const tile = document.querySelector('.umd[data-source="7"]');
      return tile?.dataset.sent === 'Sent Süd 7' && tile.dataset.lagging === 'false' &&
        tile.dataset.inexact === 'true';
    });
    assert.match(await wall.locator('.umd[data-source="7"]').getAttribute('title'),
      /TSL 3\.1 displays show "Sent Sud 7"/);
    assert.equal(await wall.locator('.umd[data-source="6"]').getAttribute('data-inexact'), 'false');
    // Source 128 would need 3.1 address 127, which does not exist.
    assert.match(await wall.locator('.umd[data-source="128"]').getAttribute('title'),
      /not sent to udp31:127\.0\.0\.1:\d+/);
    await BrowserHarness.screenshot(wall, 'displays-output');
  });

  it('a tally from the vision mixer lights its tile and names the input', async () => {
    const port = Number(process.env.PANELHOST_TALLY_PORT);
    // A TSL 5.0 packet: display index 11 (source 12), right-hand lamp red,
    // left-hand green, no text.
    const packet = Buffer.from([10, 0, 0, 0, 0, 0, 11, 0, 1 | (2 << 4) | (3 << 6), 0, 0, 0]);
    const socket = dgram.createSocket('udp4');
    await new Promise((resolve) => socket.send(packet, port, '127.0.0.1', resolve));
    socket.close();
    await wall.waitForFunction(() => {
      const tile = document.querySelector('.umd[data-source="12"]');
      return tile?.dataset.lampRight === 'red' && tile.dataset.lampLeft === 'green' &&
        tile.dataset.lampText === 'off';
    });
    assert.equal(await wall.locator('.umd[data-source="11"]').getAttribute('data-lamp-right'), 'off');
    await wall.waitForFunction((input) =>
      document.querySelector('.umd[data-source="12"]')?.title.includes(`from ${input}`), `udp:${port}`);
    assert.match(await wall.locator('[data-tally-inputs] li').first().textContent(),
      new RegExp(`^udp:${port}: 1 packet(,|$)`));
  });
});
