'use strict';
// Runs the panelhost built in $PANELHOST for the display-output tests: a
// host on a free loopback port with a fresh data folder, its HTTP API
// (called with an admin token made before the start where the host keeps
// its accounts: that folder, or the database of its --store), and
// the panel's controls.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync, spawn } = require('node:child_process');

const PANELHOST = process.env.PANELHOST;
const WAIT_MS = 20000;
const SOURCE_COUNT = 128;
// The API token of each host started here, by its origin.
const tokens = new Map();

async function until(what, condition) {
  const end = Date.now() + WAIT_MS;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

// The `--store` of a host's arguments ('--store URL' or '--store=URL'), so
// that its token is made where the host keeps its accounts; none for the
// data file.
function storeOf(args) {
  const at = args.indexOf('--store');
  if (at >= 0 && at + 1 < args.length) return ['--store', args[at + 1]];
  return args.filter((arg) => arg.startsWith('--store='));
}

// A panelhost on a fresh data folder, or on `options.data`, which it then
// leaves in place for a later start; its API token is made in the data
// folder, or in the database of a `--store` among `args`.
function startHost(args, options = {}) {
  const data = options.data || fs.mkdtempSync(path.join(os.tmpdir(), 'panelhost-tsl-'));
  const token = execFileSync(PANELHOST,
    ['token', 'create', '--role', 'admin', '--data', data, ...storeOf(args)],
    { stdio: ['ignore', 'pipe', 'ignore'] }).toString().trim();
  const child = spawn(PANELHOST, ['--data', data, '--port', '0', ...args], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let output = '';
  child.stdout.on('data', (d) => (output += d));
  child.stderr.on('data', (d) => (output += d));
  const url = until('panelhost to serve', () => {
    const found = output.match(/serving on (http:\/\/[^\s]+)/);
    if (child.exitCode !== null) throw new Error(`panelhost exited: ${output}`);
    if (found) tokens.set(new URL(found[1]).origin, token);
    return found && found[1];
  });
  // Stops the host (unless it has ended already) and removes a fresh data
  // folder.
  const stop = () =>
    new Promise((resolve) => {
      const removed = () => {
        if (!options.data) fs.rmSync(data, { recursive: true, force: true });
        resolve();
      };
      if (child.exitCode !== null || child.signalCode !== null) return removed();
      child.on('close', removed);
      child.kill('SIGTERM');
    });
  // Ends the process with `signal` and waits for it, leaving the data
  // folder (SIGKILL: a host that dies without cleaning up).
  const kill = (signal) =>
    new Promise((resolve) => {
      if (child.exitCode !== null || child.signalCode !== null) return resolve();
      child.on('close', resolve);
      child.kill(signal);
    });
  return { url, stop, kill, output: () => output };
}

async function request(base, method, route, body, signal) {
  return fetch(new URL(route, base), {
    method,
    headers: {
      'content-type': 'application/json',
      authorization: `Bearer ${tokens.get(new URL(base).origin)}`,
    },
    body: body === undefined ? undefined : JSON.stringify(body),
    signal,
  });
}

// The host's event stream (GET /api/stream), open once this resolves:
// `events` collects every event as {event, data, at} (at: when it was read,
// process.hrtime.bigint()) in order until close().
async function eventStream(base) {
  const controller = new AbortController();
  const response = await request(base, 'GET', '/api/stream', undefined, controller.signal);
  assert.ok(response.ok, `GET /api/stream: ${response.status}`);
  const events = [];
  const decoder = new TextDecoder();
  let pending = '';
  (async () => {
    try {
      for await (const chunk of response.body) {
        pending += decoder.decode(chunk, { stream: true });
        let end;
        while ((end = pending.indexOf('\n\n')) >= 0) {
          const block = pending.slice(0, end).split('\n');
          pending = pending.slice(end + 2);
          const event = block.find((l) => l.startsWith('event: '));
          const data = block.find((l) => l.startsWith('data: '));
          if (event && data) {
            events.push({ event: event.slice(7), data: JSON.parse(data.slice(6)), at: process.hrtime.bigint() });
          }
        }
      }
    } catch (error) {
      if (error.name !== 'AbortError') throw error;
    }
  })();
  return { events, close: () => controller.abort() };
}

async function api(base, method, route, body) {
  const response = await request(base, method, route, body);
  const json = await response.json();
  assert.ok(response.ok, `${method} ${route}: ${JSON.stringify(json)}`);
  return json;
}

// A page that is no JSON (GET /metrics), as text.
async function apiText(base, route) {
  const response = await request(base, 'GET', route);
  assert.ok(response.ok, `GET ${route}: ${response.status}`);
  return response.text();
}

const press = (base, panel, control, event = 'button=pressed') =>
  api(base, 'POST', '/api/panels/1/events', { panel, control, event });

module.exports = {
  PANELHOST, SOURCE_COUNT, WAIT_MS, until, startHost, request, api, apiText, press, eventStream,
};
