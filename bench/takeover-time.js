'use strict';
// Measures how long the displays go undriven when the host that drives them
// dies: a throwaway PostgreSQL (Debian's server programs, in a temporary
// folder, on a free loopback port; as the user nobody when run as root,
// since the server refuses root), two panelhosts of BUILD_DIR on one
// database naming the same loopback UDP receiver, each with a screen index
// of its own. Each round kills the driving host with SIGKILL and times from
// the kill to the arrival of the whole wall (every display) from the backup,
// then starts a new host as the next backup. Prints every sample, the
// median and the worst. Outside the tests: timings are no pass/fail matter.
//
//   node bench/takeover-time.js BUILD_DIR [--rounds N]
//
// Needs the npm packages of tests/tsl/decoder (run `npm ci` there first).

const { benchArguments } = require('./bench-arguments');
const dgram = require('node:dgram');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { execFileSync, spawn } = require('node:child_process');
const { decodePacket } = require('../tests/tsl/decoder/tsl5-reference');

const SOURCE_COUNT = 128;
const DEFAULT_ROUNDS = 15;
// How often a host tries to take the locks it lacks
// (DisplayLeadership::kRoundPeriod).
const ROUND_MS = 1000;
// A takeover that has not happened by then counts as failed, and the run
// ends.
const LOST_MS = 30000;

const { buildDir, count: rounds } = benchArguments('takeover-time.js', 'rounds', DEFAULT_ROUNDS);
const panelhost = path.resolve(buildDir, 'host', 'panelhost');

// Debian installs the server's programs outside PATH, one folder a version.
function serverPrograms() {
  const versions = fs.readdirSync('/usr/lib/postgresql')
    .filter((v) => fs.existsSync(path.join('/usr/lib/postgresql', v, 'bin', 'initdb')))
    .sort((a, b) => Number(a) - Number(b));
  if (versions.length === 0) throw new Error('no PostgreSQL server under /usr/lib/postgresql');
  return path.join('/usr/lib/postgresql', versions[versions.length - 1], 'bin');
}

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// A server of its own in `folder`; returns a URL of a new database on it.
async function startServer(folder) {
  const bin = serverPrograms();
  const asServer = process.getuid() === 0 ? ['runuser', '-u', 'nobody', '--'] : [];
  if (asServer.length > 0) execFileSync('chown', ['nobody:nogroup', folder]);
  const run = (program, args) => {
    const argv = [...asServer, path.join(bin, program), ...args];
    execFileSync(argv[0], argv.slice(1), { stdio: ['ignore', 'pipe', 'pipe'] });
  };
  const port = await freePort();
  const data = path.join(folder, 'data');
  run('initdb', ['-D', data, '-U', 'panelhost', '--auth=trust', '--no-locale', '-E', 'UTF8', '--no-sync']);
  run('pg_ctl', ['start', '-D', data, '-w', '-l', path.join(folder, 'server.log'),
    '-o', `-c listen_addresses=127.0.0.1 -p ${port} -k ${folder} -c fsync=off`]);
  const stop = () => run('pg_ctl', ['stop', '-D', data, '-m', 'immediate', '-w']);
  const server = `postgresql://panelhost@127.0.0.1:${port}`;
  execFileSync(path.join(bin, 'psql'), ['-X', '-q', '-d', `${server}/postgres`, '-c', 'CREATE DATABASE takeover']);
  return { url: `${server}/takeover`, stop };
}

// A panelhost on `store` sending to `port` with screen index `screen`.
function startHost(store, port, screen) {
  const data = fs.mkdtempSync(path.join(os.tmpdir(), 'takeover-bench-'));
  const child = spawn(panelhost, ['--data', data, '--port', '0', '--store', store,
    '--host-name', `host-${screen}`, '--tsl', `udp:127.0.0.1:${port}`,
    '--tsl-screen', String(screen), '--tsl-refresh', '0'], { stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  child.stdout.on('data', (d) => (output += d));
  child.stderr.on('data', (d) => (output += d));
  const closed = new Promise((resolve) => child.on('close', resolve));
  const kill = async (signal) => {
    child.kill(signal);
    await closed;
    fs.rmSync(data, { recursive: true, force: true });
  };
  return { screen, kill, output: () => output };
}

async function main() {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'takeover-bench-pg-'));
  const server = await startServer(folder);

  // Screen index -> the display indexes its host has sent since the last
  // clear, and who waits for its whole wall.
  const seen = new Map();
  const waiting = [];
  const socket = dgram.createSocket('udp4');
  socket.on('message', (bytes) => {
    const packet = decodePacket(bytes);
    if (!seen.has(packet.screen)) seen.set(packet.screen, new Set());
    const displays = seen.get(packet.screen);
    for (const m of packet.messages) displays.add(m.index);
    if (displays.size === SOURCE_COUNT) {
      for (const w of waiting.splice(0)) if (!w(packet.screen)) waiting.push(w);
    }
  });
  await new Promise((r) => socket.bind(0, '127.0.0.1', r));
  const port = socket.address().port;
  // The screen of the next host to send the whole wall, other than `not`.
  const wholeWall = (not) => new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('no host took the displays over')), LOST_MS);
    const check = (screen) => {
      if (screen === not) return false;
      clearTimeout(timer);
      resolve({ screen, at: process.hrtime.bigint() });
      return true;
    };
    for (const [screen, displays] of seen) {
      if (displays.size === SOURCE_COUNT && check(screen)) return;
    }
    waiting.push(check);
  });

  let next = 1;
  const hosts = new Map();
  const started = wholeWall(0);
  // One after the other: the first makes the database's schema.
  for (let i = 0; i < 2; i++) {
    const host = startHost(server.url, port, next++);
    hosts.set(host.screen, host);
    while (!/serving on http/.test(host.output())) await new Promise((r) => setTimeout(r, 20));
  }
  let driver = (await started).screen;

  const samples = [];
  try {
    for (let round = 0; round < rounds; round++) {
      // The backup tries the locks once a second from its start: the kill
      // comes at a random point of that second, as a real failure would.
      await new Promise((r) => setTimeout(r, Math.random() * ROUND_MS));
      seen.clear();
      const takeover = wholeWall(driver);
      const start = process.hrtime.bigint();
      await hosts.get(driver).kill('SIGKILL');
      hosts.delete(driver);
      const { screen, at } = await takeover;
      samples.push(Number(at - start) / 1e6);
      driver = screen;
      // The next backup, serving before the next kill.
      const backup = startHost(server.url, port, next++);
      hosts.set(backup.screen, backup);
      while (!/display leadership: connected/.test(backup.output())) {
        await new Promise((r) => setTimeout(r, 20));
      }
    }
  } finally {
    for (const host of hosts.values()) await host.kill('SIGTERM');
    socket.close();
    server.stop();
    fs.rmSync(folder, { recursive: true, force: true });
  }

  const sorted = [...samples].sort((a, b) => a - b);
  const median = sorted[Math.floor((sorted.length - 1) / 2)];
  const ms = (v) => `${v.toFixed(0)} ms`;
  process.stdout.write(`kill -9 of the driving host -> whole wall from the backup, ${samples.length} rounds\n`);
  process.stdout.write(`samples ${samples.map(ms).join(', ')}\n`);
  process.stdout.write(`median ${ms(median)}, worst ${ms(sorted[sorted.length - 1])}\n`);
}

main().catch((e) => {
  process.stderr.write(`${e.stack}\n`);
  process.exit(1);
});
