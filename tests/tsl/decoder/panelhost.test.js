'use strict';
// The panel host driving displays: panelhost runs the real panel with its
// display output aimed at loopback receivers (UDP and TCP), an operator
// confirms name set 5 and commits source 37 through the panel, and a name
// with non-ASCII text is changed elsewhere. The npm decoder tsl-umd-v5
// (first message of each packet) and the reference reading (every message)
// must see exactly the names the host's UMD wall shows.

const { test } = require('node:test');
const assert = require('node:assert/strict');
const net = require('node:net');
const { spawn } = require('node:child_process');
const { udpReceiver, tcpReceiver } = require('./tsl-receivers');

const { PANELHOST, SOURCE_COUNT, until, startHost, api, press } = require('./panelhost-harness');

test('panelhost is built', () => {
  assert.ok(PANELHOST, 'set PANELHOST to the built panelhost');
});

test('the displays show what the operator confirms and commits', async () => {
  const udp = await udpReceiver();
  const tcp = await tcpReceiver();
  const host = startHost(['--tsl', `udp:127.0.0.1:${udp.port}`, '--tsl', `tcp:127.0.0.1:${tcp.port}`,
    '--tsl-refresh', '0']);
  try {
    const base = await host.url;
    await until('the first wall', () => udp.rx.shown.size === SOURCE_COUNT && tcp.rx.shown.size === SOURCE_COUNT);

    await press(base, '1', 'Select_5');
    await press(base, '1', 'Confirm');
    const set5 = await api(base, 'GET', '/api/devices/12/databases/5');
    const wall = await until('set 5 on the wall', async () => {
      const w = await api(base, 'GET', '/api/wall');
      return w.nameset === 5 && udp.rx.matches(w) && tcp.rx.matches(w) ? w : null;
    });
    const names = set5.entries.map((entry) => entry.text);
    assert.equal(names.length, SOURCE_COUNT);
    wall.displays.forEach((d, i) => assert.equal(d.name, names[i], `set 5 source ${i + 1}`));
    for (const rx of [udp.rx, tcp.rx]) {
      assert.equal(rx.shown.get(36).text, wall.displays[36].name);
      assert.equal(rx.shown.get(0).brightness, wall.brightness || 3);
    }

    // Commit source 37 of set 5 on the editor panel.
    await press(base, '1', 'Name_Editor');
    await press(base, '2', 'NameSet_5');
    await press(base, '2', 'SrcName', 'select=37');
    for (let i = 0; i < 20; i++) await press(base, '2', 'KB_1', 'key.backspace');
    for (const key of ['V', 'T', 'space', '3', '7']) await press(base, '2', 'KB_1', `key.${key}`);
    await press(base, '2', 'KB_1', 'key.return');
    await press(base, '2', 'Update');
    await until('the committed name on both receivers', () =>
      udp.rx.shown.get(36).text === 'VT 37' && tcp.rx.shown.get(36).text === 'VT 37');

    // A change made elsewhere, with text outside ASCII.
    await api(base, 'PUT', '/api/devices/12/databases/5/38', { text: 'Кадр Süd' });
    await until('the non-ASCII name intact', () =>
      udp.rx.shown.get(37).text === 'Кадр Süd' && tcp.rx.shown.get(37).text === 'Кадр Süd');
    assert.ok(udp.rx.matches(await api(base, 'GET', '/api/wall')), 'UDP receiver shows the wall');
    assert.ok(tcp.rx.matches(await api(base, 'GET', '/api/wall')), 'TCP receiver shows the wall');

    const status = await api(base, 'GET', '/api/tsl');
    assert.equal(status.enabled, true);
    assert.equal(status.displays[36].text, 'VT 37');
    assert.equal(status.receivers.length, 2);
  } finally {
    await host.stop();
    udp.socket.close();
    tcp.server.close();
  }
});

test('an unreachable TCP receiver is reported, never fatal', async () => {
  const closed = net.createServer();
  const port = await new Promise((r) => closed.listen(0, '127.0.0.1', () => r(closed.address().port)));
  await new Promise((r) => closed.close(r));
  const host = startHost(['--tsl', `tcp:127.0.0.1:${port}`]);
  try {
    const base = await host.url;
    const status = await until('the receiver error', async () => {
      const s = await api(base, 'GET', '/api/tsl');
      return s.receivers[0].state === 'error' ? s : null;
    });
    assert.match(status.receivers[0].detail, /\S/);
    await press(base, '1', 'Select_2');
    assert.equal((await api(base, 'GET', '/api/panels')).instances.length, 1);
  } finally {
    await host.stop();
  }
});

test('a target that cannot be parsed stops the start with a clear error', async () => {
  const child = spawn(PANELHOST, ['--port', '0', '--tsl', 'udp:nowhere'], { stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  child.stderr.on('data', (d) => (output += d));
  const code = await new Promise((r) => child.on('close', r));
  assert.notEqual(code, 0);
  assert.match(output, /--tsl/);
});
