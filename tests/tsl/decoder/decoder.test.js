'use strict';
// Cross-check of the display output: tsl_send_fixture sends a wall of names
// through the real UDP and TCP senders to loopback ports, and the
// independent npm decoder tsl-umd-v5 reads them back.
//
// The package's listeners cannot be closed and treat every TCP chunk as one
// packet, so the test owns the sockets and hands each datagram, or each
// DLE/STX frame of the stream, to the package's own decoding (processTally).
// The package decodes only a packet's first display message, as ASCII; the
// rest of each packet, and UTF-16 text, is read by tsl5-reference.js.

const { test } = require('node:test');
const assert = require('node:assert/strict');
const dgram = require('node:dgram');
const net = require('node:net');
const { spawn } = require('node:child_process');
const TSL5 = require('tsl-umd-v5');
const { splitFrames, unframe, decodePacket } = require('./tsl5-reference');

const FIXTURE = process.env.TSL_SEND_FIXTURE;
const SOURCE_COUNT = 128;
const WAIT_MS = 15000;

// Source 5 and 6 carry text outside ASCII; source 37 is updated later.
function wallNames() {
  const names = [];
  for (let source = 1; source <= SOURCE_COUNT; source++) names.push(`Source ${source}`);
  names[4] = 'Kamera Süd';
  names[5] = 'Кадр 1';
  return names;
}

function isAscii(text) {
  return /^[\x00-\x7f]*$/.test(text);
}

function runFixture(args, names) {
  return new Promise((resolve, reject) => {
    const child = spawn(FIXTURE, args, { stdio: ['pipe', 'pipe', 'pipe'] });
    let stdout = '';
    let stderr = '';
    child.stdout.on('data', (d) => (stdout += d));
    child.stderr.on('data', (d) => (stderr += d));
    child.on('error', reject);
    child.on('close', (code) => resolve({ code, stdout, stderr }));
    child.stdin.end(names.join('\n') + '\n');
  });
}

// Each packet decoded both ways: by the npm package (first message only)
// and by the reference reading (every message). The package (1.0.7) drops
// both bytes of a stuffed DLE pair instead of one, so a frame that holds
// stuffing is handed to it unstuffed; the stuffing itself is checked on the
// raw stream and by the reference reading.
function decodeBoth(datagramOrFrame, framed) {
  const bytes = framed ? unframe(datagramOrFrame) : Buffer.from(datagramOrFrame);
  const stuffed = framed && datagramOrFrame.length !== bytes.length + 2;
  const decoded = [];
  const umd = new TSL5();
  umd.on('message', (tally) => decoded.push(tally));
  umd.processTally(stuffed ? bytes : datagramOrFrame, '127.0.0.1');
  assert.equal(decoded.length, 1);
  return { npm: decoded[0], packet: decodePacket(bytes) };
}

function udpReceiver() {
  return new Promise((resolve) => {
    const socket = dgram.createSocket('udp4');
    const datagrams = [];
    socket.on('message', (msg) => datagrams.push(msg));
    socket.bind(0, '127.0.0.1', () => resolve({ socket, datagrams, port: socket.address().port }));
  });
}

function tcpReceiver() {
  return new Promise((resolve) => {
    const chunks = [];
    const server = net.createServer((conn) => conn.on('data', (d) => chunks.push(d)));
    server.listen(0, '127.0.0.1', () =>
      resolve({ server, stream: () => Buffer.concat(chunks), port: server.address().port }));
  });
}

async function until(condition) {
  const end = Date.now() + WAIT_MS;
  while (!condition()) {
    if (Date.now() > end) throw new Error('timed out waiting for packets');
    await new Promise((r) => setTimeout(r, 20));
  }
}

// Checks every display message against the names sent; later messages for
// a display supersede earlier ones, as on a real display.
function checkWall(results, expected, { offset, brightness, screen }) {
  const shown = new Map();
  for (const { npm, packet } of results) {
    assert.equal(packet.version, 0);
    assert.equal(packet.screen, screen);
    const utf16 = (packet.flags & 1) === 1;
    assert.equal(utf16, packet.messages.some((m) => !isAscii(m.text)), 'UTF-16 exactly when needed');
    const first = packet.messages[0];
    assert.equal(npm.index, first.index, 'npm decoder index');
    assert.equal(npm.screen, screen, 'npm decoder screen');
    assert.equal(npm.display.brightness, brightness, 'npm decoder brightness');
    if (packet.messages.length === 1 && !utf16) {
      assert.equal(npm.display.text, first.text, 'npm decoder text');
    }
    for (const m of packet.messages) {
      assert.equal(m.brightness, brightness);
      assert.equal(m.control & ~0xc0, 0, 'tallies off, no control data');
      shown.set(m.index, m.text);
    }
  }
  assert.equal(shown.size, SOURCE_COUNT);
  expected.forEach((name, i) => assert.equal(shown.get(offset + i), name, `display ${offset + i}`));
}

test('fixture is built', () => {
  assert.ok(FIXTURE, 'set TSL_SEND_FIXTURE to the built tsl_send_fixture');
});

test('UDP, one message per packet: the npm decoder reads every ASCII name exactly', async () => {
  const rx = await udpReceiver();
  try {
    const names = wallNames();
    const run = await runFixture(
      ['--target', `udp:127.0.0.1:${rx.port}`, '--per-packet', '1', '--brightness', '2'], names);
    assert.equal(run.code, 0, run.stderr + run.stdout);
    await until(() => rx.datagrams.length >= SOURCE_COUNT);
    const results = rx.datagrams.map((d) => decodeBoth(d, false));
    results.forEach(({ npm }, i) => {
      assert.equal(npm.index, i);
      assert.equal(npm.display.brightness, 2);
      if (isAscii(names[i])) assert.equal(npm.display.text, names[i]);
    });
    checkWall(results, names, { offset: 0, brightness: 2, screen: 0 });
  } finally {
    rx.socket.close();
  }
});

test('UDP, packed packets: every name, non-ASCII ones intact, and a later update', async () => {
  const rx = await udpReceiver();
  try {
    const names = wallNames();
    const run = await runFixture(
      ['--target', `udp:127.0.0.1:${rx.port}`, '--offset', '1', '--screen', '3',
        '--update', '37=Vision Mixer Ü'], names);
    assert.equal(run.code, 0, run.stderr + run.stdout);
    const packetsSent = (run.stdout.match(/^TSL /gm) || []).length;
    await until(() => rx.datagrams.length >= packetsSent);
    const results = rx.datagrams.map((d) => decodeBoth(d, false));
    assert.ok(results.length >= 2, 'the UTF-16 names force more than one packet');
    const update = results[results.length - 1].packet;
    assert.deepEqual(update.messages.map((m) => [m.index, m.text]), [[37, 'Vision Mixer Ü']]);
    names[36] = 'Vision Mixer Ü';
    checkWall(results, names, { offset: 1, brightness: 3, screen: 3 });
  } finally {
    rx.socket.close();
  }
});

test('TCP: DLE/STX frames, stuffed display index 254, every name intact', async () => {
  const rx = await tcpReceiver();
  try {
    const names = wallNames();
    const run = await runFixture(
      ['--target', `tcp:127.0.0.1:${rx.port}`, '--offset', '200', '--brightness', '1',
        '--per-packet', '1', '--update', '55=Кадр 55'], names);
    assert.equal(run.code, 0, run.stderr + run.stdout);
    await until(() => splitFrames(rx.stream()).length >= SOURCE_COUNT + 1);
    const stream = rx.stream();
    assert.ok(stream.includes(Buffer.from([0xfe, 0xfe, 0x00])), 'index 254 is stuffed');
    const results = splitFrames(stream).map((f) => decodeBoth(f, true));
    results.slice(0, SOURCE_COUNT).forEach(({ npm }, i) => {
      assert.equal(npm.index, 200 + i);
      if (isAscii(names[i])) assert.equal(npm.display.text, names[i]);
    });
    names[54] = 'Кадр 55';
    checkWall(results, names, { offset: 200, brightness: 1, screen: 0 });
  } finally {
    rx.server.close();
  }
});

test('TCP, packed packets over one connection', async () => {
  const rx = await tcpReceiver();
  try {
    const names = wallNames();
    const run = await runFixture(['--target', `tcp:127.0.0.1:${rx.port}`], names);
    assert.equal(run.code, 0, run.stderr + run.stdout);
    const packetsSent = (run.stdout.match(/^TSL /gm) || []).length;
    await until(() => splitFrames(rx.stream()).length >= packetsSent);
    const results = splitFrames(rx.stream()).map((f) => decodeBoth(f, true));
    checkWall(results, names, { offset: 0, brightness: 3, screen: 0 });
  } finally {
    rx.server.close();
  }
});

test('an unreachable TCP receiver is reported, not fatal', async () => {
  const rx = await tcpReceiver();
  const port = rx.port;
  await new Promise((r) => rx.server.close(r));
  const run = await runFixture(
    ['--target', `tcp:127.0.0.1:${port}`, '--timeout-ms', '1500'], ['Only']);
  assert.equal(run.code, 1);
  assert.match(run.stdout, new RegExp(`tcp:127\\.0\\.0\\.1:${port}: (error|connecting), 0 sent`));
});
