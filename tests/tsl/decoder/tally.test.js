'use strict';
// Tallies from a vision mixer merged with the host's names: the npm package
// tsl-umd-v5 sends the mixer's 5.0 tallies (UDP and TCP), 3.1 tallies come
// as hand-made datagrams, and the displays are read by the npm decoder and
// the reference readings. A lamp must light exactly its display and
// survive every name, whole wall and refresh the host sends; a flood of
// malformed packets must leave the host serving; an input that falls
// silent must have its lamps go off.

const { describe, test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const dgram = require('node:dgram');
const net = require('node:net');
const TSL5 = require('tsl-umd-v5');
const { udpReceiver } = require('./tsl-receivers');
const { decodeDatagram } = require('./tsl31-reference');
const { spawn } = require('node:child_process');
const {
  PANELHOST, SOURCE_COUNT, until, startHost, api, apiText, press, eventStream,
} = require('./panelhost-harness');

// Control word bits of the lamps: right-hand 0-1, text 2-3, left-hand 4-5.
const RED = 1;
const GREEN = 2;
const AMBER = 3;
const lampBits = (right, text, left) => right | (text << 2) | (left << 4);
// 3.1 tallies: tally 1 is the red lamp, tally 2 the green one.
const TALLY1 = 1;
const TALLY2 = 2;

async function freePort(kind) {
  if (kind === 'tcp') {
    const server = net.createServer();
    const port = await new Promise((r) => server.listen(0, '127.0.0.1', () => r(server.address().port)));
    await new Promise((r) => server.close(r));
    return port;
  }
  const socket = dgram.createSocket('udp4');
  const port = await new Promise((r) => socket.bind(0, '127.0.0.1', () => r(socket.address().port)));
  await new Promise((r) => socket.close(r));
  return port;
}

// What each 3.1 address last showed: {tallies: [t1..t4], text}.
async function udp31Receiver() {
  const shown = new Map();
  const socket = dgram.createSocket('udp4');
  socket.on('message', (datagram) => {
    for (const m of decodeDatagram(datagram)) shown.set(m.address, m);
  });
  const port = await new Promise((r) => socket.bind(0, '127.0.0.1', () => r(socket.address().port)));
  return { shown, socket, port };
}

function message31(address, tallies, text) {
  const bytes = Buffer.alloc(18, 0x20);
  bytes[0] = 0x80 + address;
  bytes[1] = tallies | (3 << 4);
  bytes.write(text.slice(0, 16), 2, 'latin1');
  return bytes;
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

const mixer = new TSL5();
const out = dgram.createSocket('udp4');
const sendUdp = (port, bytes) => new Promise((r) => out.send(bytes, port, '127.0.0.1', r));
const tally5 = (index, right, text, left, label = 'MIXER') =>
  ({ screen: 0, index, display: { rh_tally: right, text_tally: text, lh_tally: left, brightness: 1, text: label } });

describe('tallies from the vision mixer', () => {
  let rx;
  let rx31;
  let host;
  let base;
  let ports;

  before(async () => {
    rx = await udpReceiver();
    rx31 = await udp31Receiver();
    ports = { udp: await freePort('udp'), udp31: await freePort('udp'), tcp: await freePort('tcp') };
    host = startHost(['--tsl', `udp:127.0.0.1:${rx.port}`, '--tsl', `udp31:127.0.0.1:${rx31.port}`,
      '--tsl-refresh', '1', '--tally-stale', '0',
      '--tally-in', `udp:${ports.udp}`, '--tally-in', `udp31:${ports.udp31},offset=1,sources=10-20,text=use`,
      '--tally-in', `tcp:${ports.tcp}`]);
    base = await host.url;
    await until('the first wall', () => rx.rx.shown.size === SOURCE_COUNT && rx31.shown.size === 127);
  });

  after(async () => {
    await host.stop();
    rx.socket.close();
    rx31.socket.close();
    out.close();
  });

  // Every display's lamps but those named, which must be as given.
  function expectOnly(lit, when) {
    for (let index = 0; index < SOURCE_COUNT; index++) {
      assert.equal(rx.rx.shown.get(index).lamps, lit[index] ?? 0, `${when}: display ${index}`);
    }
  }

  test('a tally on source 5 lights exactly display 5, with our name and brightness', async () => {
    const stream = await eventStream(base);
    try {
      await lightSource5(stream);
    } finally {
      stream.close();
    }
  });

  async function lightSource5(stream) {
    const wall = await api(base, 'GET', '/api/wall');
    mixer.sendTallyUDP('127.0.0.1', ports.udp, tally5(4, RED, 0, RED));
    await until('display 5 lit', () => rx.rx.shown.get(4).lamps === lampBits(RED, 0, RED));
    expectOnly({ 4: lampBits(RED, 0, RED) }, 'after the tally');
    assert.equal(rx.rx.shown.get(4).text, wall.displays[4].name, 'the name stays ours');
    assert.equal(rx.rx.shown.get(4).brightness, wall.brightness || 3, 'the brightness stays ours, not the mixer\'s 1');
    await until('the 3.1 display of source 5 lit', () => rx31.shown.get(4).tallies[0] === 1);
    assert.deepEqual(rx31.shown.get(4).tallies, [1, 0, 0, 0]);

    const status = await api(base, 'GET', '/api/tsl');
    assert.deepEqual(status.displays[4].tally, { right: 'red', text: 'off', left: 'red', tallies31: TALLY1 });
    assert.deepEqual(status.displays[4].tallyFrom, [`udp:${ports.udp}`]);
    assert.deepEqual(status.displays[5].tally, { right: 'off', text: 'off', left: 'off', tallies31: 0 });
    const event = await until('the tally event', () =>
      stream.events.find((e) => e.event === 'tsl' && e.data.tallies));
    assert.deepEqual(event.data.tallies, [{ source: 5, right: 'red', text: 'off', left: 'red', tallies31: TALLY1,
      inputs: [`udp:${ports.udp}`] }]);
  }

  test('a whole wall, a periodic refresh and a name commit keep the lamps', async () => {
    await press(base, '1', 'Select_5');
    await press(base, '1', 'Confirm');
    await until('set 5 on the wall', async () => {
      const w = await api(base, 'GET', '/api/wall');
      return w.nameset === 5 && rx.rx.matches(w);
    });
    expectOnly({ 4: lampBits(RED, 0, RED) }, 'after the whole wall');

    const refreshes = (await api(base, 'GET', '/api/tsl')).fullRefreshes;
    await until('two more periodic refreshes', async () =>
      (await api(base, 'GET', '/api/tsl')).fullRefreshes >= refreshes + 2);
    expectOnly({ 4: lampBits(RED, 0, RED) }, 'after the refreshes');
    assert.deepEqual(rx31.shown.get(4).tallies, [1, 0, 0, 0]);

    await api(base, 'PUT', '/api/devices/12/databases/5/5', { text: 'Cam Five' });
    await until('the committed name', () => rx.rx.shown.get(4).text === 'Cam Five');
    assert.equal(rx.rx.shown.get(4).lamps, lampBits(RED, 0, RED), 'the lamp stays on');
  });

  test('3.1 tallies drive the 5.0 displays, TCP tallies too, they add up, and labels fill gaps', async () => {
    // Address 1 of the 3.1 input is source 10 (,offset=1,sources=10-20).
    await sendUdp(ports.udp31, Buffer.concat([message31(1, TALLY2, 'PVW'), message31(30, TALLY1, 'OUT')]));
    await until('display 10 green', () => rx.rx.shown.get(9).lamps === lampBits(GREEN, 0, GREEN));
    assert.deepEqual(rx31.shown.get(9).tallies, [0, 1, 0, 0]);

    mixer.sendTallyTCP('127.0.0.1', ports.tcp, tally5(19, 0, AMBER, 0));
    await until('display 20 text amber', () => rx.rx.shown.get(19).lamps === lampBits(0, AMBER, 0));
    // The UDP input lights source 10 red as well: red and green make amber.
    mixer.sendTallyUDP('127.0.0.1', ports.udp, tally5(9, RED, 0, 0));
    await until('display 10 amber on the right', () =>
      rx.rx.shown.get(9).lamps === lampBits(AMBER, 0, GREEN));
    expectOnly({ 4: lampBits(RED, 0, RED), 9: lampBits(AMBER, 0, GREEN), 19: lampBits(0, AMBER, 0) },
      'three inputs');
    // The 3.1 input's labels (,text=use) show only where a source has no name.
    await api(base, 'PUT', '/api/devices/12/databases/5/11', { text: '' });
    await sendUdp(ports.udp31, message31(2, 0, 'MIX 11'));
    await until('the label on the nameless display 11', () => rx.rx.shown.get(10).text === 'MIX 11');
    await api(base, 'PUT', '/api/devices/12/databases/5/11', { text: 'Cam 11' });
    await until('our name again', () => rx.rx.shown.get(10).text === 'Cam 11');
    assert.equal(rx.rx.shown.get(9).text, (await api(base, 'GET', '/api/wall')).displays[9].name,
      'a display with a name keeps it');

    const status = await api(base, 'GET', '/api/tsl');
    assert.deepEqual(status.displays[9].tallyFrom, [`udp:${ports.udp}`, `udp31:${ports.udp31},offset=1,sources=10-20,text=use`]);
  });

  test('a flood of malformed packets leaves the host serving and says so once', async () => {
    const garbage = (n, size) => {
      const bytes = Buffer.alloc(size);
      for (let i = 0; i < size; i++) bytes[i] = (i * 131 + n * 7) & 0xff;
      return bytes;
    };
    for (let n = 0; n < 2000; n++) {
      const five = garbage(n, 6 + (n % 300));
      five.writeUInt16LE(five.length + 1 + (n % 5), 0);  // a byte count that never matches
      await sendUdp(ports.udp, five);
      await sendUdp(ports.udp31, garbage(n, 17 + 18 * (n % 4)));  // never whole messages
    }
    const stream = net.connect(ports.tcp, '127.0.0.1');
    await new Promise((r) => stream.on('connect', r));
    const bytes = garbage(1, 50000).map((b) => (b === 0xfe ? 0 : b));
    stream.write(Buffer.concat([bytes, Buffer.from([0xfe, 0x02, 0x10, 0x00, 0xfe, 0x02])]));
    stream.end();

    // Still serving, still reading: a valid tally lights display 6.
    await until('display 6 lit after the flood', () => {
      mixer.sendTallyUDP('127.0.0.1', ports.udp, tally5(5, GREEN, 0, 0));
      return rx.rx.shown.get(5).lamps === lampBits(GREEN, 0, 0);
    });
    const metrics = await apiText(base, '/metrics');
    const dropped = (input) => Number(metrics.match(
      new RegExp(`panelhost_tally_input_dropped_total\\{input="${input}"\\} (\\d+)`))[1]);
    assert.ok(dropped(`udp:${ports.udp}`) >= 1000, 'the 5.0 input counts what it refused');
    assert.ok(dropped(`udp31:${ports.udp31},offset=1,sources=10-20,text=use`) >= 1000, 'the 3.1 input too');
    await until('the TCP input counts its refusals', async () =>
      Number((await apiText(base, '/metrics')).match(
        new RegExp(`panelhost_tally_input_dropped_total\\{input="tcp:${ports.tcp}"\\} (\\d+)`))[1]) >= 1);
    assert.match(metrics, new RegExp(`panelhost_tally_input_packets_total\\{input="udp:${ports.udp}"\\} [1-9]`));

    const log = await wholeLog(base);
    const lines = log.filter((e) => e.text.startsWith(`tally input udp:${ports.udp}: dropped a packet from 127.0.0.1`));
    assert.equal(lines.length, 1, 'one line per sender a minute');
    assert.equal((await api(base, 'GET', '/api/panels')).instances.length, 1);
  });
});

test('a tally input that falls silent turns its lamps off after the stale time', async () => {
  const rx = await udpReceiver();
  const port = await freePort('udp');
  const host = startHost(['--tsl', `udp:127.0.0.1:${rx.port}`, '--tsl-refresh', '0',
    '--tally-in', `udp:${port}`, '--tally-stale', '1']);
  const sender = new TSL5();
  try {
    const base = await host.url;
    await until('the first wall', () => rx.rx.shown.size === SOURCE_COUNT);
    sender.sendTallyUDP('127.0.0.1', port, tally5(2, RED, RED, RED));
    await until('display 3 lit', () => rx.rx.shown.get(2).lamps === lampBits(RED, RED, RED));
    await until('display 3 dark again', () => rx.rx.shown.get(2).lamps === 0);
    const status = await api(base, 'GET', '/api/tsl');
    assert.equal(status.tallyInputs[0].stale, true);
    assert.equal(status.displays[2].tally.right, 'off');
    const metrics = await apiText(base, '/metrics');
    assert.match(metrics, new RegExp(`panelhost_tally_input_stale\\{input="udp:${port}"\\} 1`));
    // It comes back with the next packet.
    sender.sendTallyUDP('127.0.0.1', port, tally5(2, GREEN, 0, 0));
    await until('display 3 lit again', () => rx.rx.shown.get(2).lamps === lampBits(GREEN, 0, 0));
    assert.equal((await api(base, 'GET', '/api/tsl')).tallyInputs[0].stale, false);
  } finally {
    await host.stop();
    rx.socket.close();
  }
});

test('a tally input that cannot be parsed stops the start with a clear error', async () => {
  for (const [args, expected] of [
    [['--tsl', 'udp:127.0.0.1:9', '--tally-in', 'udp:host:8900'], /--tally-in: invalid tally input "udp:host:8900": port/],
    [['--tally-in', 'udp:8900'], /--tally-in: .*--tsl/],
    [['--tsl', 'udp:127.0.0.1:9', '--tally-in', 'udp:8900', '--tally-in', 'udp31:8900'], /same port/],
  ]) {
    const child = spawn(PANELHOST, ['--port', '0', ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
    let output = '';
    child.stderr.on('data', (d) => (output += d));
    const code = await new Promise((r) => child.on('close', r));
    assert.notEqual(code, 0);
    assert.match(output, expected);
  }
});
