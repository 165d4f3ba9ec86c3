'use strict';
// A main and its backups: three panelhosts on one fresh database name the
// same UDP receiver, each with a screen index of its own so the receiver
// (read by the independent TSL decoder) tells whose packets arrive. Exactly
// one host drives it and sends the whole wall once, and every host names
// that one; the driver killed with SIGKILL, a backup takes over and sends
// the whole wall; the database stopped, nobody drives; started again,
// exactly one host drives again and sends the whole wall.

const { test } = require('node:test');
const assert = require('node:assert/strict');
const {
  SOURCE_COUNT, until, startHost, api, apiText, udpReceiver, freshDatabase, stopServer,
  startServer,
} = require('./scaleout-harness');

// The one host all `hosts` agree drives their receiver, or null.
async function agreedDriver(hosts) {
  const seen = await Promise.all(hosts.map((h) => api(h.base, 'GET', '/api/tsl')));
  const receivers = seen.map((status) => status.receivers[0]);
  const driving = hosts.filter((h, i) => receivers[i].driving);
  if (driving.length !== 1) return null;
  return receivers.every((r) => r.driver === driving[0].name) ? driving[0] : null;
}

// Whether the receiver got every display from `host`'s screen.
function wholeWallFrom(rx, host) {
  return new Set(rx.screens.get(host.screen) || []).size === SOURCE_COUNT;
}

test('one of three hosts drives a receiver; a backup takes over when it dies or loses the database', async () => {
  const store = freshDatabase('backup');
  const udp = await udpReceiver();
  const target = `udp:127.0.0.1:${udp.port}`;
  const hosts = [];
  let serverStopped = false;
  try {
    // One after the other: the first makes the database's schema.
    for (const [i, name] of ['main', 'backup-1', 'backup-2'].entries()) {
      const host = startHost(['--store', store, '--host-name', name, '--tsl', target,
        '--tsl-screen', String(i + 1), '--tsl-refresh', '0']);
      hosts.push({ ...host, name, screen: i + 1, base: await host.url });
    }

    const driver = await until('one driver named by all three', () => agreedDriver(hosts));
    await until('the whole wall from the driver', () => wholeWallFrom(udp.rx, driver));
    assert.deepEqual([...udp.rx.screens.keys()], [driver.screen], 'only the driver sends');
    assert.equal(udp.rx.screens.get(driver.screen).length, SOURCE_COUNT, 'the wall, once');
    assert.ok(udp.rx.matches(await api(driver.base, 'GET', '/api/wall')));
    for (const host of hosts) {
      const driving = host === driver ? 1 : 0;
      assert.match(await apiText(host.base, '/metrics'),
        new RegExp(`panelhost_tsl_driving\\{target="${target}"\\} ${driving}\\n`), host.name);
    }
    assert.match(driver.output(), new RegExp(`now driving ${target}`));

    await driver.kill('SIGKILL');
    const backups = hosts.filter((h) => h !== driver);
    const next = await until('a backup driving, named by both', () => agreedDriver(backups));
    await until('the whole wall from the backup', () => wholeWallFrom(udp.rx, next));
    assert.equal(udp.rx.screens.get(next.screen).length, SOURCE_COUNT, 'the wall, once');
    assert.deepEqual([...udp.rx.screens.keys()].sort(), [driver.screen, next.screen].sort());
    const other = backups.find((h) => h !== next);
    await until('the other backup logs the new driver', () =>
      other.output().includes(`${target} is driven by ${next.name}`));

    // The database away: no host can know it holds the lock, so none
    // drives; the hosts' logs say it.
    const logged = backups.map((h) => h.output().length);
    stopServer();
    serverStopped = true;
    await until('both backups driving nothing', () => backups.every((h, i) =>
      /display leadership: .*drives no display/.test(h.output().slice(logged[i]))));
    assert.match(next.output(), new RegExp(`stopped driving ${target} \\(lost the database\\)`));
    udp.rx.screens.clear();

    startServer();
    serverStopped = false;
    // The first requests may still find the accounts' connection down.
    const again = await until('one driver again, named by both',
      () => agreedDriver(backups).catch(() => null));
    await until('the whole wall after the database returned', () => wholeWallFrom(udp.rx, again));
    assert.deepEqual([...udp.rx.screens.keys()], [again.screen], 'only the new driver sent');
    assert.equal(udp.rx.screens.get(again.screen).length, SOURCE_COUNT, 'the wall, once');
  } finally {
    if (serverStopped) startServer();
    await Promise.all(hosts.map((h) => h.stop()));
    udp.socket.close();
  }
});

// A host alone on a server only for a moment may be on a server the other
// hosts never reach (an old primary restarted before it learns of the
// failover): that proves nobody else names the receiver no more than a
// look at an empty room proves nobody is coming.
test('a host that found itself alone only just now stops driving when it loses the database', async () => {
  const store = freshDatabase('alone');
  const udp = await udpReceiver();
  const target = `udp:127.0.0.1:${udp.port}`;
  const host = startHost(['--store', store, '--host-name', 'solo', '--tsl', target,
    '--tsl-refresh', '0']);
  let serverStopped = false;
  try {
    const base = await host.url;
    await until('the host driving', async () =>
      (await api(base, 'GET', '/api/tsl')).receivers[0].driving);
    stopServer();
    serverStopped = true;
    await until('the loss logged', () => /display leadership: .*drives no display/.test(host.output()));
    assert.match(host.output(), new RegExp(`stopped driving ${target} \\(lost the database\\)`));
    assert.doesNotMatch(host.output(), /still driving/);
    assert.equal((await api(base, 'GET', '/api/tsl')).receivers[0].driving, false);
    startServer();
    serverStopped = false;
    await until('the host driving again', async () =>
      (await api(base, 'GET', '/api/tsl').catch(() => ({ receivers: [{}] }))).receivers[0].driving);
  } finally {
    if (serverStopped) startServer();
    await host.stop();
    udp.socket.close();
  }
});
