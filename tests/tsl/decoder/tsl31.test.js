'use strict';
// TSL UMD 3.1 end to end: panelhost runs the real panel and drives a wall
// of 128 displays split over two serial buses, sources 1-64 and 65-128 at
// addresses 0-63 each, and one 3.1 UDP receiver of every source it can
// address. The buses are pseudo-terminal pairs from socat: the host writes
// to one end, the test reads the displays' end. An operator confirms name
// set 5 and commits source 37 through the panel, a name outside ASCII is
// changed elsewhere, and bus A is unplugged and plugged in again. Every
// display must show what the host's UMD wall holds, in its 16-character
// ASCII form, as read by tsl31-reference.js.

const { test } = require('node:test');
const assert = require('node:assert/strict');
const dgram = require('node:dgram');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const tty = require('node:tty');
const { spawn, execFileSync } = require('node:child_process');
const { decodeDatagram, StreamReader, fit } = require('./tsl31-reference');
const { PANELHOST, until, startHost, api, press } = require('./panelhost-harness');

const BUS_SIZE = 64;
const MAX_ADDRESS = 126;
// The one name outside ASCII this test writes, and its 3.1 form.
const NON_ASCII = 'Кадр Süd';
const FOLDED = { [NON_ASCII]: '???? Sud' };

// What the displays of one bus or receiver show, address -> message; a
// message that breaks the format is kept in `errors`.
class Displays {
  constructor() {
    this.shown = new Map();
    this.errors = [];
  }
  take(decode) {
    try {
      for (const m of decode()) this.shown.set(m.address, m);
    } catch (error) {
      this.errors.push(error.message);
    }
  }
  text(address) {
    const m = this.shown.get(address);
    return m && m.text;
  }
}

// A pseudo-terminal pair for one bus: `hostSide` is the device the host is
// given, the test reads the other end.
async function plugBus(dir, name) {
  const hostSide = path.join(dir, `${name}-host`);
  const displaySide = path.join(dir, `${name}-displays`);
  const socat = spawn('socat', [`pty,raw,echo=0,link=${hostSide}`, `pty,raw,echo=0,link=${displaySide}`], {
    stdio: 'ignore',
  });
  const exited = new Promise((resolve) => socat.on('exit', resolve));
  await until(`socat's pair for bus ${name}`, () => fs.existsSync(hostSide) && fs.existsSync(displaySide));
  const stream = new tty.ReadStream(fs.openSync(displaySide, fs.constants.O_RDWR | fs.constants.O_NOCTTY));
  stream.setRawMode(true);
  const displays = new Displays();
  const reader = new StreamReader();
  stream.on('data', (chunk) => displays.take(() => reader.push(chunk)));
  // The read fails (EIO) once socat has closed its end.
  stream.on('error', () => {});
  // As with a USB adapter pulled out, the device goes away; socat killed
  // by a signal leaves its links behind.
  const unplug = async () => {
    stream.destroy();
    socat.kill('SIGTERM');
    await exited;
    fs.rmSync(hostSide, { force: true });
    fs.rmSync(displaySide, { force: true });
  };
  return { hostSide, displays, unplug };
}

function udp31Receiver() {
  return new Promise((resolve) => {
    const displays = new Displays();
    const socket = dgram.createSocket('udp4');
    socket.on('message', (datagram) => displays.take(() => decodeDatagram(datagram)));
    socket.bind(0, '127.0.0.1', () => resolve({ displays, socket, port: socket.address().port }));
  });
}

// Every entry of the host's log, read a page at a time.
async function wholeLog(base) {
  const entries = [];
  for (;;) {
    const since = entries.length ? entries[entries.length - 1].sequence : 0;
    const page = (await api(base, 'GET', `/api/log?since=${since}&limit=10000`)).entries;
    if (page.length === 0) return entries;
    entries.push(...page);
  }
}

// The line settings as the terminal reports them.
function stty(device) {
  return ` ${execFileSync('stty', ['-F', device, '-a'], { encoding: 'utf8' }).replace(/;?\s+/g, ' ')} `;
}

test('a wall of 128 on two 3.1 serial buses and a 3.1 UDP receiver shows what the operator confirms', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'panelhost-tsl31-'));
  let busA = await plugBus(dir, 'a');
  const busB = await plugBus(dir, 'b');
  const udp = await udp31Receiver();
  const targetA = `serial:${busA.hostSide},sources=1-64,offset=0`;
  const targetB = `serial:${busB.hostSide},sources=65-128,offset=0,baud=19200,parity=odd,stop=2`;
  const targetUdp = `udp31:127.0.0.1:${udp.port}`;
  // No periodic refresh: whatever reaches a display was sent for a reason.
  const host = startHost(['--tsl', targetA, '--tsl', targetB, '--tsl', targetUdp, '--tsl-refresh', '0']);
  // Where each source is shown: [displays, address] pairs.
  const placesOf = (source) => [
    source <= BUS_SIZE ? [busA.displays, source - 1] : [busB.displays, source - 1 - BUS_SIZE],
    ...(source - 1 <= MAX_ADDRESS ? [[udp.displays, source - 1]] : []),
  ];
  const wallShown = (wall) =>
    wall.displays.every((d) =>
      placesOf(d.source).every(([displays, address]) => displays.text(address) === fit(FOLDED[d.name] ?? d.name)));
  try {
    const base = await host.url;

    // Raw, 8 data bits, no flow control, the speed and the stop bits asked
    // for. A pseudo-terminal keeps the parity's odd/even bit but always
    // clears its enable bit, so parity shows as -parodd (even) or parodd.
    const lineA = stty(busA.hostSide);
    assert.match(lineA, / speed 38400 baud /);
    for (const flag of ['cs8', '-cstopb', '-parodd', '-crtscts', '-ixon', '-ixoff', 'clocal', 'cread', '-icanon', '-echo', '-opost']) {
      assert.ok(lineA.includes(` ${flag} `), `bus A: ${flag} in ${lineA}`);
    }
    const lineB = stty(busB.hostSide);
    assert.match(lineB, / speed 19200 baud /);
    for (const flag of ['cs8', 'cstopb', 'parodd']) assert.ok(lineB.includes(` ${flag} `), `bus B: ${flag} in ${lineB}`);

    await press(base, '1', 'Select_5');
    await press(base, '1', 'Confirm');
    const wall = await until('set 5 on every display', async () => {
      const w = await api(base, 'GET', '/api/wall');
      return w.nameset === 5 && wallShown(w) ? w : null;
    });
    assert.equal(busA.displays.shown.size, BUS_SIZE);
    assert.equal(busB.displays.shown.size, BUS_SIZE);
    assert.equal(udp.displays.shown.size, MAX_ADDRESS + 1, 'source 128 would need address 127: never sent');
    for (const displays of [busA.displays, busB.displays, udp.displays]) {
      const m = displays.shown.get(0);
      assert.equal(m.brightness, wall.brightness || 3);
      assert.deepEqual(m.tallies, [0, 0, 0, 0]);
    }

    // Two brightness changes send the wall twice more; the warning about
    // source 128 stays the one given at the start.
    await press(base, '1', 'UMDBright_1');
    await until('brightness 1 everywhere', () =>
      [busA.displays, busB.displays, udp.displays].every((d) => [...d.shown.values()].every((m) => m.brightness === 1)));
    await press(base, '1', 'UMDBright_3');
    await until('brightness 3 everywhere', () =>
      [busA.displays, busB.displays, udp.displays].every((d) => [...d.shown.values()].every((m) => m.brightness === 3)));

    // Commit source 37 of set 5 on the editor panel.
    await press(base, '1', 'Name_Editor');
    await press(base, '2', 'NameSet_5');
    await press(base, '2', 'SrcName', 'select=37');
    for (let i = 0; i < 20; i++) await press(base, '2', 'KB_1', 'key.backspace');
    for (const key of ['V', 'T', 'space', '3', '7']) await press(base, '2', 'KB_1', `key.${key}`);
    await press(base, '2', 'KB_1', 'key.return');
    await press(base, '2', 'Update');
    await until('the committed name on bus A and the UDP receiver', () =>
      busA.displays.text(36) === fit('VT 37') && udp.displays.text(36) === fit('VT 37'));

    // A name outside ASCII, changed elsewhere, on bus B's source 70.
    await api(base, 'PUT', '/api/devices/12/databases/5/70', { text: NON_ASCII });
    await until('the nearest ASCII form on bus B', () =>
      busB.displays.text(5) === fit(FOLDED[NON_ASCII]) && udp.displays.text(69) === fit(FOLDED[NON_ASCII]));
    let status = await api(base, 'GET', '/api/tsl');
    assert.deepEqual(status.receivers.map((r) => r.target), [targetA, targetB, targetUdp]);
    assert.equal(status.displays[36].text, 'VT 37');
    assert.equal(status.displays[36].exact, true);
    assert.equal(status.displays[69].text, NON_ASCII);
    assert.equal(status.displays[69].exact, false);
    assert.equal(status.displays[69].shownAs, FOLDED[NON_ASCII]);
    assert.deepEqual(status.displays[127].unsentTo, [targetUdp]);
    assert.equal(status.displays[127].exact, false);

    // Bus A's adapter is unplugged: reported, never fatal; a name changed
    // meanwhile reaches bus A once it is plugged in again.
    await busA.unplug();
    status = await until('bus A reported gone', async () => {
      const s = await api(base, 'GET', '/api/tsl');
      return s.receivers[0].state === 'error' ? s : null;
    });
    assert.match(status.receivers[0].detail, /the line is gone/);
    assert.equal(status.receivers[1].state, 'ok');
    await api(base, 'PUT', '/api/devices/12/databases/5/2', { text: 'Back Again' });
    await until('the change on the UDP receiver', () => udp.displays.text(1) === fit('Back Again'));
    busA = await plugBus(dir, 'a');
    const back = await until('bus A back with the whole wall', async () => {
      const w = await api(base, 'GET', '/api/wall');
      return busA.displays.shown.size === BUS_SIZE && wallShown(w) ? w : null;
    });
    assert.equal(back.displays[1].name, 'Back Again');
    assert.equal((await api(base, 'GET', '/api/tsl')).receivers[0].state, 'ok');

    const log = await wholeLog(base);
    const warned = log.filter((e) => e.kind === 'warning' && e.text.includes('source 128 would need address 127,'));
    assert.equal(warned.length, 1, 'warned once, not on every full send');
    assert.ok(log.some((e) => e.kind === 'warning' && e.text.includes(`${targetA}: the line is gone`)));
    assert.ok(log.some((e) => e.kind === 'info' && e.text.includes(`${targetA}: line open`)));
    assert.ok(log.some((e) => e.kind === 'tsl' && e.text.startsWith('TSL 3.1 refresh of a reopened line')));
    for (const displays of [busA.displays, busB.displays, udp.displays]) assert.deepEqual(displays.errors, []);
  } finally {
    await host.stop();
    await busA.unplug();
    await busB.unplug();
    udp.socket.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('a serial target that is no serial device stops the start with a clear message', async () => {
  const data = fs.mkdtempSync(path.join(os.tmpdir(), 'panelhost-tsl31-'));
  const child = spawn(PANELHOST, ['--port', '0', '--data', data, '--tsl', 'serial:/dev/null'], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let output = '';
  child.stderr.on('data', (d) => (output += d));
  const code = await new Promise((r) => child.on('close', r));
  fs.rmSync(data, { recursive: true, force: true });
  assert.equal(code, 3, output);
  assert.match(output, /serial:\/dev\/null: \/dev\/null is not a serial device/);
});
