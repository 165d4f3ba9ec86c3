'use strict';
// The router device backed by a real router, end to end: provider.js (the
// independent node-emberplus) plays a 16 x 16 router, panelhost follows it
// with --router, and drives two loopback receivers: one of the plain wall
// and one whose displays follow the router's destinations. Every packet is
// read by the independent TSL decoder the display tests use. The router's
// labels must land in databases 0 and 2 and in the panel's start-up reads,
// its crosspoints must move the right display, and the last known labels
// and crosspoints must outlive a malformed frame, a stopped provider and a
// restart of the host.

const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const { startProvider, command, stopProvider } = require('./provider-harness');
const harness = path.join(__dirname, '..', 'tsl', 'decoder');
const { PANELHOST, until, startHost, api, apiText } = require(path.join(harness, 'panelhost-harness'));
const { udpReceiver } = require(path.join(harness, 'tsl-receivers'));

const SIGNALS = 16;
const ROUTER = 'StC SDI Router';
const TALLY = 'CTA Tally Infodriver';
// Tally slot 212 selects the name set the wall shows; set 0 is the router's
// own source names.
const NAMESET_SLOT = 212;

async function deviceNumber(base, name) {
  const { devices } = await api(base, 'GET', '/api/devices');
  return devices.find((d) => d.name === name).number;
}

async function entries(base, device, database) {
  const { entries: list } = await api(base, 'GET', `/api/devices/${device}/databases/${database}`);
  return list.map((e) => e.text);
}

// The host's log lines of `kind` so far, as text.
async function logLines(base, kind) {
  const { entries: list } = await api(base, 'GET', '/api/log?limit=10000');
  return list.filter((e) => e.kind === kind).map((e) => e.text);
}

// What display `index` of a receiver shows now.
const shows = (rx, index) => rx.shown.get(index) && rx.shown.get(index).text;

// Display n - 1 of the following receiver shows the label of the source
// routed to destination n; `routes` maps destinations to sources (0 up).
function followsRoutes(rx, routes, sourceLabel) {
  return routes.every((source, target) => shows(rx, target) === sourceLabel(source));
}

test('panelhost and the provider are there', () => {
  assert.ok(PANELHOST, 'set PANELHOST to the built panelhost');
});

test('the wall follows the router: labels, crosspoints, faults and a restart', async (t) => {
  let provider = await startProvider();
  const plain = await udpReceiver();
  const following = await udpReceiver();
  const data = fs.mkdtempSync(path.join(os.tmpdir(), 'panelhost-router-'));
  const args = ['--router', `ember:127.0.0.1:${provider.port}`,
    '--tsl', `udp:127.0.0.1:${plain.port}`,
    '--tsl', `udp:127.0.0.1:${following.port},follow=router,sources=1-${SIGNALS}`,
    '--tsl-refresh', '0'];
  let host = startHost(args, { data });
  t.after(async () => {
    await host.stop();
    await stopProvider(provider);
    plain.socket.close();
    following.socket.close();
    fs.rmSync(data, { recursive: true, force: true });
  });
  let base = await host.url;
  const router = await deviceNumber(base, ROUTER);
  const tally = await deviceNumber(base, TALLY);
  const routerLabels = (prefix) => Array.from({ length: SIGNALS }, (_, n) => `${prefix} ${n}`);

  // The router's labels arrive in databases 0 and 2.
  const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
  await until('the router labels in databases 0 and 2', async () =>
    same((await entries(base, router, 0)).slice(0, SIGNALS), routerLabels('Src')) &&
    same((await entries(base, router, 2)).slice(0, SIGNALS), routerLabels('Dest')));

  // Name set 0 on air: the plain wall shows the router's source labels, and
  // destination n's display the label of the source routed to it.
  await api(base, 'PUT', `/api/devices/${tally}/slots/${NAMESET_SLOT}`, { text: '0' });
  const label = (labels) => (source) => labels[source];
  let sourceNames = routerLabels('Src');
  let routes = Array.from({ length: SIGNALS }, (_, n) => n);
  await until('both walls from the router', () =>
    sourceNames.every((name, n) => shows(plain.rx, n) === name) &&
    followsRoutes(following.rx, routes, label(sourceNames)));

  // A crosspoint change moves exactly the display of that destination.
  const before = following.rx.packets;
  await command(provider, 'route 2 7');
  routes[2] = 7;
  await until('destination 3 showing source 8', () => shows(following.rx, 2) === 'Src 7');
  assert.ok(followsRoutes(following.rx, routes, label(sourceNames)));
  assert.equal(following.rx.packets, before + 1, 'one message for one crosspoint');
  assert.equal(shows(plain.rx, 2), 'Src 2', 'the plain wall does not follow crosspoints');

  // A source label changed on the router reaches database 0, the plain
  // display of that source and every display it is routed to.
  await command(provider, 'label source 7 Kamera Süd');
  sourceNames[7] = 'Kamera Süd';
  await until('the new label on both walls', () =>
    shows(plain.rx, 7) === 'Kamera Süd' && shows(following.rx, 2) === 'Kamera Süd' &&
    shows(following.rx, 7) === 'Kamera Süd');
  assert.equal((await entries(base, router, 0))[7], 'Kamera Süd');
  await command(provider, 'label target 3 MV 4');
  await until('the destination label in database 2',
    async () => (await entries(base, router, 2))[3] === 'MV 4');
  const history = await api(base, 'GET', `/api/history?device=${router}&database=0&index=8`);
  assert.equal(history.entries[0].who, 'router');

  // The Displays view's source: destination, routed source and name.
  let status = await api(base, 'GET', '/api/tsl');
  assert.equal(status.router.state, 'connected');
  assert.deepEqual(
    [status.routed[2].destination, status.routed[2].source, status.routed[2].text],
    [3, 8, 'Kamera Süd']);

  // Malformed data: the host drops the connection with a clear log line
  // and follows the router again.
  await command(provider, 'frame 607f6b00');
  await until('the malformed data logged', async () =>
    (await logLines(base, 'warning')).some((l) =>
      /^router 127\.0\.0\.1:\d+: malformed data from .*Glow: length 127/.test(l)));
  await until('the router followed again', async () =>
    (await logLines(base, 'info')).filter((l) => / connected, following matrix 0\.1\.0/.test(l))
      .length === 2);
  await command(provider, 'route 5 9');
  routes[5] = 9;
  await until('destination 6 showing source 10', () => shows(following.rx, 5) === 'Src 9');

  // The provider goes away: reported, and what is known stays in use.
  await stopProvider(provider);
  await until('the router reported gone', async () => {
    status = await api(base, 'GET', '/api/tsl');
    return status.router.state === 'disconnected';
  });
  assert.match(status.router.detail, /closed the connection|cannot connect/);
  const metrics = await apiText(base, '/metrics');
  assert.match(metrics, /^panelhost_router_state\{router="127\.0\.0\.1:\d+",state="disconnected"\} 1$/m);
  assert.equal(status.routed[2].source, 8);
  assert.ok(followsRoutes(following.rx, routes, label(sourceNames)));

  // A restart of the host while the router is still away: the panel's
  // start-up reads and both walls come from the last known labels and
  // crosspoints.
  await host.stop();
  plain.rx.shown.clear();
  following.rx.shown.clear();
  host = startHost(args, { data });
  base = await host.url;
  await until('both walls from the stored router state', () =>
    sourceNames.every((name, n) => shows(plain.rx, n) === name) &&
    followsRoutes(following.rx, routes, label(sourceNames)));
  const log = (await api(base, 'GET', '/api/log?limit=10000')).entries;
  const read = log.findIndex((e) => e.instance === 1 && e.kind === 'command' && e.text === `RN ${router} 0 8`);
  assert.ok(read >= 0, 'the panel reads source 8 at start-up');
  assert.equal(log.slice(read).find((e) => e.instance === 1 && e.kind === 'answer').text, "'Kamera Süd'");

  // The provider returns in its initial state, and the wall follows it.
  provider = await startProvider(provider.port);
  sourceNames = routerLabels('Src');
  routes = Array.from({ length: SIGNALS }, (_, n) => n);
  await until('both walls from the returned router', () =>
    sourceNames.every((name, n) => shows(plain.rx, n) === name) &&
    followsRoutes(following.rx, routes, label(sourceNames)));
  status = await api(base, 'GET', '/api/tsl');
  assert.equal(status.router.state, 'connected');
  assert.equal((await entries(base, router, 2))[3], 'Dest 3');
});
