'use strict';
// Measures how long a failover of the database keeps writes and displays
// away: a throwaway pg_auto_failover formation (tests/scaleout/
// failover-cluster.js: a monitor, a primary and its synchronous standby,
// the monitor's settings it prints), two panelhosts of BUILD_DIR on its
// multi-host URL naming one loopback UDP receiver, each writing a name
// again and again. Each round kills the primary's postmaster with SIGKILL
// and times from the kill to the first acknowledged write sent after it on
// each host, and to the whole wall (every display) arriving for the last
// time before the formation settles, from whichever host drives the
// receiver on the new primary (a host may first take the lock on the old
// primary, which its pg_autoctl restarts before the monitor demotes it);
// then it waits until the old primary is the standby again. Prints every sample, the median and the worst. Outside the tests:
// timings are no pass/fail matter.
//
//   node bench/failover-time.js BUILD_DIR [--rounds N]
//
// Needs pg_autoctl (Debian package postgresql-15-auto-failover) and the npm
// packages of tests/tsl/decoder (run `npm ci` there first).

const { benchArguments } = require('./bench-arguments');
const path = require('node:path');

const DEFAULT_ROUNDS = 5;
const NAMES = 12;
const WRITTEN_SET = 6;
const SOURCE_COUNT = 128;

const { buildDir, count: rounds } = benchArguments('failover-time.js', 'rounds', DEFAULT_ROUNDS);
process.env.PANELHOST = path.resolve(buildDir, 'host', 'panelhost');

const { startHost, request, until } = require('../tests/tsl/decoder/panelhost-harness');
const { udpReceiver } = require('../tests/tsl/decoder/tsl-receivers');
const { startCluster } = require('../tests/scaleout/failover-cluster');

const now = () => Number(process.hrtime.bigint()) / 1e6;

// Writes one entry on `base` until stop(); `acks` gets, for every
// acknowledged write, when it was sent and when it was answered, and
// `refusals` when each refused one was answered.
function writer(base, index) {
  const acks = [];
  const refusals = [];
  let running = true;
  let count = 0;
  const done = (async () => {
    while (running) {
      try {
        const sent = now();
        const response = await request(base, 'PUT',
          `/api/devices/${NAMES}/databases/${WRITTEN_SET}/${index}`, { text: `bench ${++count}` });
        await response.text();
        if (response.ok) acks.push({ sent, answered: now() });
        else {
          refusals.push(now());
          await new Promise((r) => setTimeout(r, 20));
        }
      } catch {
        return;
      }
    }
  })();
  return { acks, refusals, stop: async () => { running = false; await done; } };
}

const stats = (samples) => {
  const sorted = [...samples].sort((a, b) => a - b);
  return { median: sorted[Math.floor((sorted.length - 1) / 2)], worst: sorted[sorted.length - 1] };
};
const ms = (v) => `${v.toFixed(0)} ms`;

async function main() {
  const cluster = await startCluster();
  const udp = await udpReceiver();
  const hosts = [];
  const samples = { a: [], b: [], displays: [] };
  try {
    for (const [i, name] of ['bench-a', 'bench-b'].entries()) {
      const host = startHost(['--store', cluster.url, '--host-name', name,
        '--tsl', `udp:127.0.0.1:${udp.port}`, '--tsl-screen', String(i + 1), '--tsl-refresh', '0']);
      hosts.push({ ...host, base: await host.url });
    }
    const writers = hosts.map((h, i) => writer(h.base, i + 1));
    for (let round = 0; round < rounds; round++) {
      await until('writes on both hosts', () => writers.every((w) => w.acks.length > 0));
      const primary = await cluster.steady();
      // The kill comes at a random point of the hosts' leadership rounds.
      await new Promise((r) => setTimeout(r, 500 + Math.random() * 1000));
      udp.rx.screens.clear();
      const killedAt = now();
      cluster.killPostmaster(cluster.nameOf(primary.port));
      // When a whole wall last arrived: each takeover sends one.
      let lastWall = null;
      let watching = true;
      const walls = (async () => {
        while (watching) {
          for (const [screen, indexes] of udp.rx.screens) {
            if (new Set(indexes).size === SOURCE_COUNT) {
              lastWall = now();
              udp.rx.screens.delete(screen);
            }
          }
          await new Promise((r) => setTimeout(r, 5));
        }
      })();
      // The first write acknowledged after the outage: sent after the
      // host's first refusal since the kill (the killed server's backends
      // may commit for some milliseconds more, which is no outage yet).
      const firstAfter = (w) => until('a write after the kill', () => {
        const refused = w.refusals.find((t) => t > killedAt);
        const ack = w.acks.find((t) => t.sent > (refused || killedAt));
        return (refused || w.acks.some((t) => t.sent > killedAt + 1000)) && ack && ack.answered;
      });
      const [a, b] = await Promise.all([firstAfter(writers[0]), firstAfter(writers[1])]);
      const after = await cluster.steady();
      watching = false;
      await walls;
      if (lastWall === null) throw new Error('the displays were not driven again');
      const displays = lastWall;
      samples.a.push(a - killedAt);
      samples.b.push(b - killedAt);
      samples.displays.push(displays - killedAt);
      process.stdout.write(`round ${round + 1}: host a ${ms(a - killedAt)}, host b ${ms(b - killedAt)}, ` +
        `displays ${ms(displays - killedAt)}; ` +
        (after.port === primary.port ? 'the old primary restarted in place\n' : 'failed over to the standby\n'));
    }
    await Promise.all(writers.map((w) => w.stop()));
  } finally {
    await Promise.all(hosts.map((h) => h.stop()));
    udp.socket.close();
    await cluster.stop();
  }
  process.stdout.write(`kill -9 of the primary's postmaster, ${rounds} rounds; monitor settings: ` +
    `${Object.entries(cluster.settings).map(([k, v]) => `${k}=${v}`).join(', ')}; nodes: ` +
    `${Object.entries(cluster.nodeSettings).map(([k, v]) => `${k}=${v}`).join(', ')}\n`);
  for (const [what, list] of [['first acknowledged write on host a', samples.a],
    ['first acknowledged write on host b', samples.b], ['displays driven again (whole wall)', samples.displays]]) {
    const { median, worst } = stats(list);
    process.stdout.write(`${what}: median ${ms(median)}, worst ${ms(worst)} (${list.map(ms).join(', ')})\n`);
  }
}

main().catch((e) => {
  process.stderr.write(`${e.stack}\n`);
  process.exit(1);
});
