'use strict';
// Measures how long a crosspoint change on a router takes to reach a display
// that follows it: tests/ember/provider.js (node-emberplus) plays a 16 x 16
// router, the panelhost of BUILD_DIR follows it (--router) and drives one
// loopback UDP receiver whose displays follow the router's destinations.
// Each round routes a new source to a destination through the provider's
// stdin and times from that write to the arrival of the display message
// that names the new source; so the figure includes the provider's own
// work. Prints the median, 90th and 99th percentile and the maximum.
// Outside the tests: timings are no pass/fail matter.
//
//   node bench/crosspoint-latency.js BUILD_DIR [--changes N]
//
// Needs the npm packages of tests/ember (run `npm ci` there first).

const { benchArguments } = require('./bench-arguments');
const dgram = require('node:dgram');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { execFileSync, spawn } = require('node:child_process');
const { decodePacket } = require('../tests/tsl/decoder/tsl5-reference');

const SIGNALS = 16;
// Tally slot 212 selects the name set on air; set 0 is the router's labels.
const NAMESET_SLOT = 212;
const DEFAULT_CHANGES = 1000;
// A change that has not arrived by then counts as lost, and the run fails.
const LOST_MS = 5000;

const { buildDir, count: changes } = benchArguments('crosspoint-latency.js', 'changes', DEFAULT_CHANGES);
const panelhost = path.resolve(buildDir, 'host', 'panelhost');
const providerScript = path.join(__dirname, '..', 'tests', 'ember', 'provider.js');

// Lines of a child's stdout and stderr (where the host's log goes), each
// handed to whoever waits for it.
function lines(child) {
  const waiting = [];
  const seen = [];
  for (const input of [child.stdout, child.stderr].filter(Boolean)) {
    readline.createInterface({ input }).on('line', (line) => {
      seen.push(line);
      for (const w of waiting.splice(0)) if (!w(line)) waiting.push(w);
    });
  }
  return (pattern) => new Promise((resolve) => {
    const found = seen.find((l) => pattern.test(l));
    if (found) return resolve(found);
    waiting.push((line) => (pattern.test(line) ? (resolve(line), true) : false));
  });
}

async function api(base, token, method, route, body) {
  const response = await fetch(new URL(route, base), {
    method,
    headers: { 'content-type': 'application/json', authorization: `Bearer ${token}` },
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  if (!response.ok) throw new Error(`${method} ${route}: ${response.status}`);
  return response.json();
}

function percentile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];
}

async function main() {
  const provider = spawn(process.execPath, [providerScript], { stdio: ['pipe', 'pipe', 'inherit'] });
  const providerLine = lines(provider);
  const port = Number((await providerLine(/^listening \d+$/)).split(' ')[1]);

  // Display index -> a resolver waiting for the text it must show.
  const expected = new Map();
  const socket = dgram.createSocket('udp4');
  socket.on('message', (bytes) => {
    for (const m of decodePacket(bytes).messages) {
      const wait = expected.get(m.index);
      if (wait && wait.text === m.text) {
        expected.delete(m.index);
        wait.resolve(process.hrtime.bigint());
      }
    }
  });
  await new Promise((r) => socket.bind(0, '127.0.0.1', r));

  const data = fs.mkdtempSync(path.join(os.tmpdir(), 'crosspoint-bench-'));
  const token = execFileSync(panelhost, ['token', 'create', '--role', 'admin', '--data', data],
    { stdio: ['ignore', 'pipe', 'ignore'] }).toString().trim();
  const host = spawn(panelhost, ['--data', data, '--port', '0',
    '--router', `ember:127.0.0.1:${port}`,
    '--tsl', `udp:127.0.0.1:${socket.address().port},follow=router,sources=1-${SIGNALS}`,
    '--tsl-refresh', '0'], { stdio: ['ignore', 'pipe', 'pipe'] });
  const hostLine = lines(host);
  const base = (await hostLine(/serving on http/)).match(/(http:\/\/\S+)/)[1];
  await hostLine(/connected, following matrix/);
  const routed = Array.from({ length: SIGNALS }, (_, n) => n);
  const arrived = (index, text) => new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`display ${index} never showed "${text}"`)), LOST_MS);
    expected.set(index, { text, resolve: (t) => { clearTimeout(timer); resolve(t); } });
  });
  // Every display shows the router's labels (name set 0) before the clock
  // starts.
  const ready = Promise.all(routed.map((source, target) => arrived(target, `Src ${source}`)));
  const { devices } = await api(base, token, 'GET', '/api/devices');
  const tally = devices.find((d) => d.name === 'CTA Tally Infodriver').number;
  await api(base, token, 'PUT', `/api/devices/${tally}/slots/${NAMESET_SLOT}`, { text: '0' });
  await ready;

  const samples = [];
  for (let i = 0; i < changes; i++) {
    // Each destination in turn, each time to a source it does not show.
    const target = i % SIGNALS;
    const next = (routed[target] + 1 + (i % (SIGNALS - 1))) % SIGNALS;
    routed[target] = next;
    const done = arrived(target, `Src ${next}`);
    const start = process.hrtime.bigint();
    provider.stdin.write(`route ${target} ${next}\n`);
    samples.push(Number((await done) - start) / 1e6);
  }

  samples.sort((a, b) => a - b);
  const ms = (v) => `${v.toFixed(2)} ms`;
  process.stdout.write(`crosspoint change -> TSL message, ${samples.length} changes\n`);
  process.stdout.write(`median ${ms(percentile(samples, 50))}, 90th percentile ${ms(percentile(samples, 90))}, ` +
    `99th percentile ${ms(percentile(samples, 99))}, max ${ms(samples[samples.length - 1])}\n`);

  host.kill('SIGTERM');
  await new Promise((r) => host.on('close', r));
  provider.stdin.write('quit\n');
  await new Promise((r) => provider.on('close', r));
  socket.close();
  fs.rmSync(data, { recursive: true, force: true });
}

main().catch((e) => {
  process.stderr.write(`${e.stack}\n`);
  process.exit(1);
});
