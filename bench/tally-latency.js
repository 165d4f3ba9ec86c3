'use strict';
// Measures how long a vision mixer's tally change takes to leave panelhost
// as a display message: the npm package tsl-umd-v5 makes the mixer's TSL
// 5.0 packets, which are sent to the --tally-in port of the panelhost of
// BUILD_DIR, and one loopback UDP receiver reads its display output. Each
// round changes the lamps of one source (a different source and colour each
// time) and times from the send to the arrival of the display message that
// carries the new lamps. Prints the median, 90th and 99th percentile and
// the maximum. Outside the tests: timings are no pass/fail matter.
//
//   node bench/tally-latency.js BUILD_DIR [--changes N]
//
// Needs the npm packages of tests/tsl/decoder (run `npm ci` there first).

const { benchArguments } = require('./bench-arguments');
const dgram = require('node:dgram');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { spawn } = require('node:child_process');
const TSL5 = require('../tests/tsl/decoder/node_modules/tsl-umd-v5');
const { decodePacket } = require('../tests/tsl/decoder/tsl5-reference');

const SOURCES = 128;
const DEFAULT_CHANGES = 1000;
// A change that has not arrived by then counts as lost, and the run fails.
const LOST_MS = 5000;
// The right-hand lamp's colours in turn (red, green, amber), never off, so
// every change differs from the one before on the same source.
const COLOURS = [1, 2, 3];

const { buildDir, count: changes } = benchArguments('tally-latency.js', 'changes', DEFAULT_CHANGES);
const panelhost = path.resolve(buildDir, 'host', 'panelhost');

function waitForLine(child, pattern) {
  return new Promise((resolve) => {
    for (const input of [child.stdout, child.stderr]) {
      readline.createInterface({ input }).on('line', (line) => {
        if (pattern.test(line)) resolve(line);
      });
    }
  });
}

async function freeUdpPort() {
  const probe = dgram.createSocket('udp4');
  await new Promise((r) => probe.bind(0, '127.0.0.1', r));
  const { port } = probe.address();
  await new Promise((r) => probe.close(r));
  return port;
}

function percentile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];
}

async function main() {
  // Display index -> a resolver waiting for the lamps it must show.
  const expected = new Map();
  const shown = new Set();
  const receiver = dgram.createSocket('udp4');
  receiver.on('message', (bytes) => {
    for (const m of decodePacket(bytes).messages) {
      shown.add(m.index);
      const wait = expected.get(m.index);
      if (wait && (m.control & 0x3f) === wait.lamps) {
        expected.delete(m.index);
        wait.resolve(process.hrtime.bigint());
      }
    }
  });
  await new Promise((r) => receiver.bind(0, '127.0.0.1', r));
  const tallyPort = await freeUdpPort();

  const data = fs.mkdtempSync(path.join(os.tmpdir(), 'tally-bench-'));
  const host = spawn(panelhost, ['--data', data, '--port', '0',
    '--tsl', `udp:127.0.0.1:${receiver.address().port}`, '--tsl-refresh', '0',
    '--tally-in', `udp:${tallyPort}`, '--tally-stale', '0'], { stdio: ['ignore', 'pipe', 'pipe'] });
  await waitForLine(host, /serving on http/);
  const start = Date.now();
  while (shown.size < SOURCES) {
    if (Date.now() - start > LOST_MS) throw new Error('the first wall never arrived');
    await new Promise((r) => setTimeout(r, 20));
  }

  const mixer = new TSL5();
  const sender = dgram.createSocket('udp4');
  const arrived = (index, lamps) => new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`display ${index} never lit ${lamps}`)), LOST_MS);
    expected.set(index, { lamps, resolve: (t) => { clearTimeout(timer); resolve(t); } });
  });
  const samples = [];
  for (let i = 0; i < changes; i++) {
    const index = i % SOURCES;
    const colour = COLOURS[Math.floor(i / SOURCES) % COLOURS.length];
    const packet = mixer.constructPacket({ screen: 0, index,
      display: { rh_tally: colour, text_tally: 0, lh_tally: 0, brightness: 3, text: `CAM ${index + 1}` } });
    const done = arrived(index, colour);
    const sent = process.hrtime.bigint();
    sender.send(packet, tallyPort, '127.0.0.1');
    samples.push(Number((await done) - sent) / 1e6);
  }

  samples.sort((a, b) => a - b);
  const ms = (v) => `${v.toFixed(2)} ms`;
  process.stdout.write(`mixer tally change -> TSL message, ${samples.length} changes\n`);
  process.stdout.write(`median ${ms(percentile(samples, 50))}, 90th percentile ${ms(percentile(samples, 90))}, ` +
    `99th percentile ${ms(percentile(samples, 99))}, max ${ms(samples[samples.length - 1])}\n`);

  host.kill('SIGTERM');
  await new Promise((r) => host.on('close', r));
  sender.close();
  receiver.close();
  fs.rmSync(data, { recursive: true, force: true });
}

main().catch((e) => {
  process.stderr.write(`${e.stack}\n`);
  process.exit(1);
});
