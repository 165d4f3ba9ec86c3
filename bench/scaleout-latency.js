'use strict';
// Measures how long a name written on one host takes to reach another
// host's event stream when both keep their names in one PostgreSQL
// database: two panelhosts of BUILD_DIR on the database of --store, B's
// event stream open; each round writes a new name on A through the API and
// times to the "database" event on B's stream that carries it, both from
// the request and from A's answer (the write committed). Prints the median,
// 90th and 99th percentile and the maximum. Outside the tests: timings are
// no pass/fail matter.
//
//   node bench/scaleout-latency.js BUILD_DIR --store postgresql://… [--writes N]
//
// The database should be a throwaway one: the run writes names of set 6
// (and creates the schema when it has none).

const path = require('node:path');

const DEFAULT_WRITES = 300;
// A write that has not arrived by then counts as lost, and the run fails.
const LOST_MS = 5000;
// The name set written, one that no display shows by default.
const NAMES = 12;
const SET = 6;
const ENTRIES = 128;

function usage() {
  process.stderr.write(
    'usage: node bench/scaleout-latency.js BUILD_DIR --store postgresql://… [--writes N]\n');
  process.exit(2);
}

const buildDir = process.argv[2];
const option = (name) => {
  const at = process.argv.indexOf(name);
  return at > 0 ? process.argv[at + 1] : undefined;
};
const store = option('--store');
const writes = Number(option('--writes') || DEFAULT_WRITES);
if (!buildDir || buildDir.startsWith('-') || !store || !Number.isInteger(writes) || writes < 1) usage();
process.env.PANELHOST = path.resolve(buildDir, 'host', 'panelhost');
const { startHost, api, eventStream } = require('../tests/tsl/decoder/panelhost-harness');

function percentile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];
}

function summary(label, samples) {
  const sorted = [...samples].sort((x, y) => x - y);
  const ms = (v) => `${v.toFixed(2)} ms`;
  return `${label}: median ${ms(percentile(sorted, 50))}, p90 ${ms(percentile(sorted, 90))}, ` +
    `p99 ${ms(percentile(sorted, 99))}, max ${ms(sorted[sorted.length - 1])}`;
}

async function main() {
  const a = startHost(['--store', store]);
  const b = startHost(['--store', store]);
  try {
    const [baseA, baseB] = await Promise.all([a.url, b.url]);
    const stream = await eventStream(baseB);
    // Event position -> already inspected, so each wait reads only new events.
    let seen = 0;
    const arrival = (text) => new Promise((resolve, reject) => {
      const end = Date.now() + LOST_MS;
      const look = () => {
        for (; seen < stream.events.length; seen++) {
          const e = stream.events[seen];
          if (e.event === 'database' && e.data.text === text) return resolve(e.at);
        }
        if (Date.now() > end) return reject(new Error(`"${text}" never reached B's stream`));
        setImmediate(look);
      };
      look();
    });
    const fromRequest = [];
    const fromAnswer = [];
    const run = Date.now();
    for (let i = 0; i < writes; i++) {
      const text = `bench ${run % 100000} ${i}`;
      const sent = process.hrtime.bigint();
      await api(baseA, 'PUT', `/api/devices/${NAMES}/databases/${SET}/${(i % ENTRIES) + 1}`, { text });
      const answered = process.hrtime.bigint();
      const arrived = await arrival(text);
      fromRequest.push(Number(arrived - sent) / 1e6);
      fromAnswer.push(Number(arrived - answered) / 1e6);
    }
    stream.close();
    console.log(`${writes} names written on host A, read on host B's event stream`);
    console.log(summary('from the request', fromRequest));
    console.log(summary('from A\'s answer ', fromAnswer));
  } finally {
    await Promise.all([a.stop(), b.stop()]);
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
