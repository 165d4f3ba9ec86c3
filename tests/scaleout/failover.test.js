'use strict';
// Two panelhosts on a pg_auto_failover formation (tests/scaleout/
// failover-cluster.js: a monitor, a primary and its synchronous standby),
// both given the multi-host URL with target_session_attrs=read-write and
// naming one UDP display receiver, each writing names all along:
//   1. the primary's postmaster killed with SIGKILL: nothing acknowledged
//      is lost, both hosts write again by themselves, a write on one
//      reaches the other's event stream and the displays, /healthz says
//      degraded meanwhile and /metrics names the new primary;
//   2. a planned switchover: the same, no write waiting past the statement
//      timeout and a reconnection;
//   3. the standby killed (its pg_autoctl too, so that only the monitor's
//      health checks notice): reads answer throughout, writes end in 503
//      "outcome unknown" naming the primary until the monitor lets it
//      commit alone, then go on; each of those that did commit is shown as
//      written on both hosts.
// Throughout, at most one host drives the receiver at any moment.

const { test } = require('node:test');
const assert = require('node:assert/strict');
const {
  until, startHost, request, api, apiText, eventStream, udpReceiver,
} = require('./scaleout-harness');
const { startCluster } = require('./failover-cluster');

const NAMES = 12;
// The name set the writers fill, never on air.
const WRITTEN_SET = 6;
// The set the secondary-loss writer fills, one new entry a write.
const UNKNOWN_SET = 7;
// The host's statement timeout (PostgresNameStore::kStatementTimeoutMs) and
// a reconnection to the other server on top: the longest a write may wait.
const LONGEST_WRITE_MS = 2000 + 3000;
// How many entries the secondary-loss writer spreads its writes over.
const SPREAD = 120;

const nameOn = async (base, database, index) =>
  (await api(base, 'GET', `/api/devices/${NAMES}/databases/${database}/${index}`)).text;

// Writes `database`/`index` on `base` again and again (or a new index each
// time with `spread`) until stop(): every acknowledged text in order, every
// refusal with how long it took, and the longest wait for an answer.
function writer(base, database, index, { spread = false } = {}) {
  const state = { acknowledged: [], refusals: [], count: 0, longest: 0, lastOk: false };
  let running = true;
  const done = (async () => {
    while (running) {
      // Spread over SPREAD entries, so that a write is seldom written over.
      const entry = spread ? index + (state.count % SPREAD) : index;
      const text = `w${index} ${++state.count}`;
      const started = Date.now();
      let response;
      try {
        response = await request(base, 'PUT', `/api/devices/${NAMES}/databases/${database}/${entry}`,
          { text });
      } catch {
        return; // the host is gone
      }
      const took = Date.now() - started;
      state.longest = Math.max(state.longest, took);
      const body = await response.json();
      state.lastOk = response.ok;
      if (response.ok) {
        state.acknowledged.push({ entry, text, at: Date.now() });
      } else {
        state.refusals.push({ entry, text, status: response.status, error: body.error, took,
          started, count: state.count });
        await new Promise((r) => setTimeout(r, 50));
      }
      if (spread) await new Promise((r) => setTimeout(r, 50));
    }
  })();
  return { state, stop: async () => { running = false; await done; } };
}

// Asks both hosts who drives, over and over, and keeps every moment both
// said they did.
function driverWatch(hosts) {
  const watch = { both: [], rounds: 0, running: true };
  watch.done = (async () => {
    while (watch.running) {
      const seen = await Promise.all(hosts.map((h) =>
        api(h.base, 'GET', '/api/tsl').then((s) => s.receivers[0].driving, () => false)));
      watch.rounds++;
      if (seen.every(Boolean)) watch.both.push(Date.now());
      await new Promise((r) => setTimeout(r, 20));
    }
  })();
  watch.stop = async () => { watch.running = false; await watch.done; };
  return watch;
}

const drivenBy = async (hosts) => {
  const seen = await Promise.all(hosts.map((h) =>
    api(h.base, 'GET', '/api/tsl').then((s) => s.receivers[0].driving, () => false)));
  return hosts.filter((h, i) => seen[i]);
};

// Every text `w` acknowledged is in the history on the primary.
function assertNothingLost(cluster, primary, w) {
  const rows = cluster.sql(primary.port, 'SELECT db, idx, new FROM panelhost.history');
  const kept = new Set(rows.split('\n'));
  for (const { entry, text } of w.state.acknowledged) {
    assert.ok(kept.has(`${WRITTEN_SET}|${entry}|${text}`) || kept.has(`${UNKNOWN_SET}|${entry}|${text}`),
      `acknowledged ${text} kept`);
  }
}

test('two hosts on a primary and its standby: a killed primary, a switchover, a lost standby', async (t) => {
  const cluster = await startCluster();
  const udp = await udpReceiver();
  const target = `udp:127.0.0.1:${udp.port}`;
  const hosts = [];
  let watch;
  let stream;
  let reading = false;
  try {
    for (const [i, name] of ['mcr-a', 'mcr-b'].entries()) {
      const host = startHost(['--store', cluster.url, '--host-name', name, '--tsl', target,
        '--tsl-screen', String(i + 1), '--tsl-refresh', '0']);
      hosts.push({ ...host, name, base: await host.url });
    }
    const [a, b] = hosts;
    await until('one host driving', async () => (await drivenBy(hosts)).length === 1);
    watch = driverWatch(hosts);
    stream = await eventStream(b.base);
    const { nameset } = await api(a.base, 'GET', '/api/wall');

    // 1. The primary's postmaster killed in the middle of both hosts' writes.
    let primary = cluster.primary();
    let writers = [writer(a.base, WRITTEN_SET, 1), writer(b.base, WRITTEN_SET, 2)];
    await until('writes acknowledged', () => writers.every((w) => w.state.acknowledged.length > 3));
    const logged = hosts.map((h) => h.output().length);
    const killedAt = Date.now();
    cluster.killPostmaster(cluster.nameOf(primary.port));
    const degraded = await until('/healthz degraded', async () => {
      const health = await api(a.base, 'GET', '/healthz');
      return health.status === 'degraded' && health;
    });
    assert.ok(degraded.reason.length > 0, JSON.stringify(degraded));
    await until('both hosts writing again', () => writers.every((w) =>
      w.state.acknowledged.some((ack) => ack.at > killedAt) && w.state.lastOk));
    primary = await cluster.steady();
    await Promise.all(writers.map((w) => w.stop()));
    for (const w of writers) assertNothingLost(cluster, primary, w);
    await until('/healthz up again', async () => (await api(a.base, 'GET', '/healthz')).status === 'up');
    for (const h of hosts) {
      await until(`${h.name} on the new primary`, async () => (await apiText(h.base, '/metrics'))
        .includes(`panelhost_store_server{server="127.0.0.1:${primary.port}"} 1\n`));
      // Once away, once back, for each outage (an old primary may come
      // back for a moment before the new one answers).
      const log = h.output().slice(logged[hosts.indexOf(h)]);
      const turns = log.match(/the database is (away|back after [0-9.]+ s)/g) || [];
      assert.ok(turns.length >= 2, log);
      turns.forEach((turn, i) => assert.equal(turn.includes('away'), i % 2 === 0, log));
    }
    assert.match(await apiText(a.base, '/metrics'), /panelhost_store_reconnections_total [1-9]/);
    // A write on one reaches the other's event stream and the displays.
    await api(a.base, 'PUT', `/api/devices/${NAMES}/databases/${nameset}/5`, { text: 'After failover' });
    await until('the write on b\'s stream', () => stream.events.some((e) =>
      e.event === 'database' && e.data.text === 'After failover'));
    await until('one host driving again', async () => (await drivenBy(hosts)).length === 1);
    await until('the write on the display', () =>
      udp.rx.shown.get(4) && udp.rx.shown.get(4).text === 'After failover');

    // 2. A planned switchover in the middle of both hosts' writes.
    writers = [writer(a.base, WRITTEN_SET, 1), writer(b.base, WRITTEN_SET, 2)];
    await until('writes acknowledged', () => writers.every((w) => w.state.acknowledged.length > 3));
    const switchedAt = Date.now();
    await cluster.switchover();
    await until('both hosts writing after the switchover', () => writers.every((w) =>
      w.state.acknowledged.some((ack) => ack.at > switchedAt) && w.state.lastOk));
    const before = primary;
    primary = await cluster.steady();
    assert.notEqual(primary.port, before.port, 'the other node is the primary');
    await Promise.all(writers.map((w) => w.stop()));
    for (const w of writers) {
      assertNothingLost(cluster, primary, w);
      assert.ok(w.state.longest < LONGEST_WRITE_MS, `a write waited ${w.state.longest} ms`);
    }
    await api(b.base, 'PUT', `/api/devices/${NAMES}/databases/${nameset}/6`, { text: 'After switchover' });
    await until('the write on a', async () => (await nameOn(a.base, nameset, 6)) === 'After switchover');
    await until('one host driving after the switchover', async () => (await drivenBy(hosts)).length === 1);

    // 3. The standby killed: commits are not confirmed until the monitor
    // lets the primary commit alone.
    const standby = cluster.states().find((n) => n.port !== primary.port);
    const unknown = writer(a.base, UNKNOWN_SET, 1, { spread: true });
    const reads = { count: 0, failed: [], answered: [] };
    reading = true;
    const reader = (async () => {
      while (reading) {
        const started = Date.now();
        try {
          const response = await request(a.base, 'GET', `/api/devices/${NAMES}/databases/${nameset}/5`);
          if (!response.ok) reads.failed.push(response.status);
          await response.text();
          reads.answered.push({ started, at: Date.now() });
        } catch (error) {
          reads.failed.push(error.message);
        }
        reads.count++;
        await new Promise((r) => setTimeout(r, 20));
      }
    })();
    await until('writes acknowledged', () => unknown.state.acknowledged.length > 2);
    const stoppedAt = Date.now();
    await cluster.killNode(standby.name);
    await until('a write whose outcome is unknown', () => unknown.state.refusals.length > 0);
    await until('writes going on without the standby', () =>
      unknown.state.acknowledged.some((ack) => ack.at > stoppedAt + 1000) && unknown.state.lastOk);
    await unknown.stop();
    reading = false;
    await reader;
    assert.deepEqual(reads.failed, [], 'every read answered');
    assert.ok(reads.count > 10);
    // Reads do not queue behind a write the database holds: while the
    // longest-held write waited for its answer, reads asked after it were
    // answered.
    const held = unknown.state.refusals.reduce((x, y) => (y.took > x.took ? y : x));
    const whileHeld = reads.answered.filter((r) =>
      r.started > held.started && r.at < held.started + held.took);
    assert.ok(whileHeld.length > 0, `no read answered during a held write of ${held.took} ms`);
    for (const refusal of unknown.state.refusals) {
      assert.equal(refusal.status, 503, JSON.stringify(refusal));
      assert.match(refusal.error, /outcome unknown/, refusal.error);
      // The server actually connected to, not the first of the URL.
      assert.match(refusal.error, new RegExp(`127\\.0\\.0\\.1:${primary.port}/`), refusal.error);
      assert.ok(refusal.took < LONGEST_WRITE_MS, `a write waited ${refusal.took} ms`);
    }
    assertNothingLost(cluster, primary, unknown);
    // What the primary kept of the writes answered 503 is shown as written.
    for (const refusal of unknown.state.refusals) {
      if (unknown.state.count - refusal.count >= SPREAD) continue; // written over since
      const kept = cluster.sql(primary.port, 'SELECT text FROM panelhost.names WHERE ' +
        `db = ${UNKNOWN_SET} AND idx = ${refusal.entry}`);
      if (kept !== refusal.text) continue;
      for (const h of hosts) {
        await until(`${refusal.text} shown as written on ${h.name}`, async () =>
          (await nameOn(h.base, UNKNOWN_SET, refusal.entry)) === refusal.text);
      }
    }
    cluster.startNode(standby.name);
    await cluster.steady();

    await watch.stop();
    assert.deepEqual(watch.both, [], 'never two hosts driving the receiver');
    assert.ok(watch.rounds > 10);
  } catch (error) {
    // The end of each host's log tells what it went through.
    t.diagnostic(hosts.map((h) => `== ${h.name}\n${h.output().slice(-6000)}`).join('\n'));
    throw error;
  } finally {
    reading = false;
    if (watch) await watch.stop();
    if (stream) stream.close();
    await Promise.all(hosts.map((h) => h.stop()));
    udp.socket.close();
    await cluster.stop();
  }
});
