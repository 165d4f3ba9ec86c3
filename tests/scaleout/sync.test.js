'use strict';
// Three panelhosts on one PostgreSQL database, each driving a display
// receiver of its own, stay in step: what an operator does on one host's
// panel reaches the others' panels, event streams and displays; a batch
// import on another reaches the first. The server is stopped in the middle
// of writes to every host (writes answer 503; the displays keep being sent
// the last names from memory) and started again (the hosts catch up,
// nothing acknowledged is lost); then a host is killed in the middle of its
// writes, and what it acknowledged is on the others and in the database.
// While the server is away each host still knows the tokens it checked
// there just before, so its API keeps answering reads from memory.

const { test } = require('node:test');
const assert = require('node:assert/strict');
const {
  SOURCE_COUNT, until, startHost, request, api, press, eventStream, udpReceiver,
  freshDatabase, stopServer, startServer, sql,
} = require('./scaleout-harness');

// The name sets and the tally infodriver of the default devices; slot 212
// selects the name set on air.
const NAMES = 12;
const TALLY = 57;
const ON_AIR_SET = 5;
// The name set the writers fill, one entry per host, never on air.
const WRITTEN_SET = 6;

async function logHas(base, kind, text) {
  const { entries } = await api(base, 'GET', '/api/log?limit=10000');
  return entries.some((e) => e.kind === kind && e.text.includes(text));
}

const nameOn = async (base, database, index) =>
  (await api(base, 'GET', `/api/devices/${NAMES}/databases/${database}/${index}`)).text;

const storedName = (store, database, index) =>
  sql(store, `SELECT text FROM panelhost.names WHERE device = 'StC_UMD_Names_DriverID' ` +
    `AND db = ${database} AND idx = ${index}`);

// Types `text` into the editor panel's keyboard over what the field holds.
async function typeName(base, text) {
  for (let i = 0; i < 20; i++) await press(base, '2', 'KB_1', 'key.backspace');
  for (const c of text) await press(base, '2', 'KB_1', `key.${c === ' ' ? 'space' : c}`);
  await press(base, '2', 'KB_1', 'key.return');
}

// Writes one entry of WRITTEN_SET on `base` again and again until stop():
// remembers the last acknowledged text and the one in flight; a refusal is
// kept and the writer then waits for resume() (the server back).
function writer(base, index) {
  const state = { acknowledged: null, inFlight: null, refusals: [], count: 0, lastOk: false };
  let running = true;
  let resume;
  let resumed = new Promise((r) => (resume = r));
  const done = (async () => {
    while (running) {
      const text = `h${index} w${++state.count}`;
      state.inFlight = text;
      let response;
      try {
        response = await request(base, 'PUT', `/api/devices/${NAMES}/databases/${WRITTEN_SET}/${index}`,
          { text });
      } catch {
        return; // the host is gone
      }
      state.lastOk = response.ok;
      if (response.ok) {
        await response.json();
        state.acknowledged = text;
        continue;
      }
      state.refusals.push({ status: response.status, body: await response.json() });
      await resumed;
    }
  })();
  return {
    state,
    resume: () => { resume(); resumed = new Promise((r) => (resume = r)); },
    stop: async () => { running = false; resume(); await done; },
  };
}

test('three hosts on one database stay in step through a server restart and a killed host', async () => {
  const store = freshDatabase('sync');
  const receivers = [await udpReceiver(), await udpReceiver(), await udpReceiver()];
  const hosts = receivers.map((r) =>
    startHost(['--store', store, '--tsl', `udp:127.0.0.1:${r.port}`, '--tsl-refresh', '1']));
  const [rxA, rxB, rxC] = receivers.map((r) => r.rx);
  let stream;
  let serverStopped = false;
  try {
    const [a, b, c] = await Promise.all(hosts.map((h) => h.url));
    await until('every wall', () => receivers.every((r) => r.rx.shown.size === SOURCE_COUNT));
    stream = await eventStream(b);

    // A's operator puts a name set on air: the panel's own slot write
    // arrives on B and C as a revertive, and their walls follow.
    await press(a, '1', `Select_${ON_AIR_SET}`);
    await press(a, '1', 'Confirm');
    for (const base of [b, c]) {
      await until('the revertive on the panel', () =>
        logHas(base, 'notify', `revertive: device ${TALLY} slot 212 '${ON_AIR_SET}'`));
      await until('the set on air', async () =>
        (await api(base, 'GET', '/api/wall')).nameset === ON_AIR_SET);
    }
    await until('the slot on B\'s stream', () => stream.events.some((e) =>
      e.event === 'slot' && e.data.device === TALLY && e.data.index === 212 &&
      e.data.text === String(ON_AIR_SET)));

    // A's operator commits source 37 on the editor panel (the panel's "RM").
    const before37 = await nameOn(b, ON_AIR_SET, 37);
    await press(a, '1', 'Name_Editor');
    await press(a, '2', `NameSet_${ON_AIR_SET}`);
    await press(a, '2', 'SrcName', 'select=37');
    await typeName(a, 'VT 37');
    await press(a, '2', 'Update');
    for (const [base, rx] of [[b, rxB], [c, rxC]]) {
      await until('the name on the display', () => rx.shown.get(36).text === 'VT 37');
      assert.equal(await nameOn(base, ON_AIR_SET, 37), 'VT 37');
      await until('the database change on the panel', () =>
        logHas(base, 'notify', `database change: device ${NAMES} database ${ON_AIR_SET} entry 37 'VT 37'`));
    }
    const change = await until('the name on B\'s stream', () => stream.events.find((e) =>
      e.event === 'database' && e.data.index === 37 && e.data.text === 'VT 37'));
    assert.equal(change.data.old, before37);
    assert.equal(change.data.database, ON_AIR_SET);
    // The writing host recorded the history, once.
    const history = await api(b, 'GET', `/api/history?device=${NAMES}&database=${ON_AIR_SET}&index=37`);
    assert.deepEqual(history.entries.map((e) => e.new), ['VT 37']);

    // A batch import on B reaches A's display and memory.
    await api(b, 'POST', `/api/devices/${NAMES}/databases/${ON_AIR_SET}/import`,
      { csv: 'source,name\n1,Anchor\n2,Weather\n' });
    await until('the import on A\'s display', () =>
      rxA.shown.get(0).text === 'Anchor' && rxA.shown.get(1).text === 'Weather');
    assert.equal(await nameOn(a, ON_AIR_SET, 2), 'Weather');

    // Every host writes while the server stops: writes answer 503 with
    // JSON, reads answer the last names, and the displays keep being
    // refreshed with them; A's operator's edit on the panel is not stored.
    // A host keeps driving through the outage only a receiver that no other
    // host has named for a while: each says so first.
    for (const host of hosts) {
      await until('each host sure nobody else names its receiver', () =>
        host.output().includes('is named by no other host'));
    }
    const before38 = await nameOn(a, ON_AIR_SET, 38);
    await press(a, '2', 'SrcName', 'select=38');
    const writers = [a, b, c].map((base, i) => writer(base, i + 1));
    await until('writes acknowledged', () => writers.every((w) => w.state.acknowledged));
    stopServer();
    serverStopped = true;
    await until('a refusal on every host', () => writers.every((w) => w.state.refusals.length > 0));
    for (const w of writers) {
      for (const refusal of w.state.refusals) {
        assert.equal(refusal.status, 503, JSON.stringify(refusal.body));
        assert.doesNotMatch(refusal.body.error, /accounts/,
          'refused by the names, not the accounts');
      }
    }
    for (const base of [a, b, c]) assert.equal(await nameOn(base, ON_AIR_SET, 37), 'VT 37');
    await typeName(a, 'Lost 38');
    await press(a, '2', 'Update');
    await until('the panel\'s write logged as not stored', () =>
      logHas(a, 'error', 'RM: not stored: '));
    assert.equal(await nameOn(a, ON_AIR_SET, 38), before38);
    for (const { rx } of receivers) {
      const packets = rx.packets;
      rx.shown.delete(36);
      await until('a refresh from memory', () => rx.packets > packets && rx.shown.has(36));
      assert.equal(rx.shown.get(36).text, 'VT 37');
    }

    // The server returns: writes succeed again and every host has what
    // every other acknowledged.
    startServer();
    serverStopped = false;
    const counts = writers.map((w) => w.state.count);
    writers.forEach((w) => w.resume());
    await until('writes acknowledged after the restart', () =>
      writers.every((w, i) => w.state.count > counts[i] + 2 && w.state.lastOk));
    await Promise.all(writers.map((w) => w.stop()));
    for (const [i, w] of writers.entries()) {
      assert.ok(w.state.lastOk, `host ${i + 1}'s last write was acknowledged`);
      assert.equal(storedName(store, WRITTEN_SET, i + 1), w.state.acknowledged);
      for (const base of [a, b, c]) {
        await until(`host ${i + 1}'s last write everywhere`, async () =>
          (await nameOn(base, WRITTEN_SET, i + 1)) === w.state.acknowledged);
      }
    }
    assert.notEqual(storedName(store, ON_AIR_SET, 38), 'Lost 38');
    for (const base of [a, b, c]) assert.equal(await nameOn(base, ON_AIR_SET, 38), before38);
    await api(a, 'PUT', `/api/devices/${NAMES}/databases/${ON_AIR_SET}/39`, { text: 'After restart' });
    for (const [base, rx] of [[b, rxB], [c, rxC]]) {
      await until('the write after the restart on the display', () =>
        rx.shown.get(38).text === 'After restart');
      assert.equal(await nameOn(base, ON_AIR_SET, 39), 'After restart');
    }

    // C is killed in the middle of its writes: what it acknowledged is on
    // A and B and in the database (the write in flight may have been
    // committed too, unacknowledged).
    const killed = writer(c, 3);
    await until('C\'s writes acknowledged', () => killed.state.count > 3);
    await hosts[2].kill('SIGKILL');
    await killed.stop();
    const acknowledged = killed.state.acknowledged;
    const stored = storedName(store, WRITTEN_SET, 3);
    assert.ok([acknowledged, killed.state.inFlight].includes(stored), `${stored} in the database`);
    for (const base of [a, b]) {
      await until('C\'s last write on the others', async () =>
        (await nameOn(base, WRITTEN_SET, 3)) === stored);
      const written = await api(base, 'GET',
        `/api/history?device=${NAMES}&database=${WRITTEN_SET}&index=3&limit=5`);
      assert.ok(written.entries.some((e) => e.new === acknowledged), 'the acknowledged write kept');
    }
  } finally {
    if (stream) stream.close();
    if (serverStopped) startServer();
    await Promise.all(hosts.map((h) => h.stop()));
    receivers.forEach((r) => r.socket.close());
  }
});
