'use strict';
// Cross-check of the Ember+ consumer against the independent provider
// node-emberplus: provider.js plays a 16 x 16 router, ember_probe prints
// what the consumer reports, and each test changes the provider and waits
// for the consumer to say so.

const { test } = require('node:test');
const assert = require('node:assert/strict');

const { LineProcess, startProvider, command, stopProvider } = require('./provider-harness');

const PROBE = process.env.EMBER_PROBE;
const SIGNALS = 16;

function startProbe(endpoint) {
  return new LineProcess(PROBE, [endpoint]);
}

// The lines of the model reported by the connected line at `index`.
async function modelAfter(probe, index) {
  const end = await probe.waitFor(/^model-end$/, index);
  return probe.lines.slice(index, end + 1);
}

function expectedModel() {
  const lines = ['connected matrix=0.1.0 identifier=matrix targets=16 sources=16 labels=primary'];
  for (let n = 0; n < SIGNALS; n++) lines.push(`target-label ${n} Dest ${n}`);
  for (let n = 0; n < SIGNALS; n++) lines.push(`source-label ${n} Src ${n}`);
  for (let n = 0; n < SIGNALS; n++) lines.push(`connection ${n} ${n}`);
  lines.push('model-end');
  return lines;
}

test('labels and connections arrive, then each change on the provider', async (t) => {
  const provider = await startProvider();
  const probe = startProbe(`127.0.0.1:${provider.port}`);
  t.after(async () => {
    await probe.stop();
    await stopProvider(provider);
  });

  assert.deepEqual(await modelAfter(probe, await probe.waitFor(/^connected /)), expectedModel());

  let from = probe.lines.length;
  await command(provider, 'route 2 7');
  await probe.waitFor(/^connection 2 7$/, from);
  await command(provider, 'label target 3 Studio A');
  await probe.waitFor(/^target-label 3 Studio A$/, from);
  await command(provider, 'label source 15 Kamera Süd');
  await probe.waitFor(/^source-label 15 Kamera Süd$/, from);
  // Only what changed is reported.
  from = probe.lines.length;
  await command(provider, 'route 9 9');
  await command(provider, 'route 9 0');
  await probe.waitFor(/^connection 9 0$/, from);
  assert.deepEqual(probe.lines.slice(from), ['connection 9 0']);
});

test('the matrix is found by its identifiers and by its numbers, and a missing one is reported', async (t) => {
  const provider = await startProvider();
  const byName = startProbe(`127.0.0.1:${provider.port},matrix=studio.router.matrix`);
  const byNumber = startProbe(`127.0.0.1:${provider.port},matrix=0.1.0`);
  const missing = startProbe(`127.0.0.1:${provider.port},matrix=studio.router.nothing`);
  t.after(async () => {
    await Promise.all([byName.stop(), byNumber.stop(), missing.stop()]);
    await stopProvider(provider);
  });

  assert.deepEqual(await modelAfter(byName, await byName.waitFor(/^connected /)), expectedModel());
  assert.deepEqual(await modelAfter(byNumber, await byNumber.waitFor(/^connected /)), expectedModel());
  await missing.waitFor(/^disconnected the provider has no matrix 'studio.router.nothing'; next try/);
});

test('a provider stopped and restarted is reported gone, then followed again', async (t) => {
  let provider = await startProvider();
  const probe = startProbe(`127.0.0.1:${provider.port}`);
  t.after(async () => {
    await probe.stop();
    await stopProvider(provider);
  });
  await probe.waitFor(/^model-end$/);
  await command(provider, 'route 4 11');
  await probe.waitFor(/^connection 4 11$/);

  let from = probe.lines.length;
  await stopProvider(provider);
  await probe.waitFor(/^disconnected the provider closed the connection; next try in \d+ ms$/, from);
  await probe.waitFor(/^disconnected cannot connect to 127\.0\.0\.1:\d+: Connection refused/, from);

  from = probe.lines.length;
  provider = await startProvider(provider.port);
  // The restarted provider starts from its initial state, and so does the model.
  assert.deepEqual(await modelAfter(probe, await probe.waitFor(/^connected /, from)), expectedModel());
});

test('malformed data from the provider ends the connection with the reason, then it reconnects', async (t) => {
  const provider = await startProvider();
  const probe = startProbe(`127.0.0.1:${provider.port}`);
  t.after(async () => {
    await probe.stop();
    await stopProvider(provider);
  });
  const cases = [
    // A frame whose CRC does not match.
    ['raw fe000e0001c00102310260006b00a000ff', /frame CRC mismatch/],
    // Bytes outside any frame.
    ['raw 0102', /byte 0x01 outside a frame/],
    // A valid frame whose Glow root claims more bytes than it has.
    ['frame 607f6b00', /Glow: length 127 exceeds the 2 bytes left/],
    // A valid frame whose root is not Glow.
    ['frame 300100', /Glow: message does not start with a Glow root/],
  ];
  let connected = await probe.waitFor(/^model-end$/);
  for (const [line, reason] of cases) {
    const from = probe.lines.length;
    await command(provider, line);
    const i = await probe.waitFor(/^disconnected /, from);
    assert.match(probe.lines[i], /^disconnected malformed data from 127\.0\.0\.1:\d+: /);
    assert.match(probe.lines[i], reason);
    connected = await probe.waitFor(/^model-end$/, i);
    // Each malformed input is reported once, and the connection comes back.
    assert.ok(connected > i);
  }
});
