// Measures how long the page takes to be usable on a modest device: the
// panelhost of BUILD_DIR on loopback, Debian's Chromium throttled through
// its DevTools protocol to a 4× slower CPU and DevTools' "Fast 3G" network,
// and the time from navigation, by the page's own clock, until the panels are drawn and the event
// stream is live (body[data-connection="live"] with the panel's controls
// on it), with the bytes that crossed the network. Cold: an empty cache;
// warm: the browser's cache as the cold load left it (unchanged files come
// back as 304s). Prints the median and the slowest of each and the transfer
// sizes, and the requests of the first cold load on a time line (when each
// left and when its answer was whole, from navigation), which shows the
// chain of round trips. Outside the tests: timings are no pass/fail matter.
//
//   node bench/page-load.js BUILD_DIR [--rounds N]
//
// Needs the npm packages of tests/web (run `npm ci` there first).
import { benchArguments } from './bench-arguments.js';
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import { chromium } from '../tests/web/node_modules/playwright-core/index.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const DEFAULT_ROUNDS = 5;
const CPU_SLOWDOWN = 4;
// DevTools' "Fast 3G": 1.6 Mbit/s down and 750 kbit/s up at 90 % goodput,
// 150 ms of latency times 3.75 for the radio link.
const FAST_3G = {
  offline: false,
  latency: 562.5,
  downloadThroughput: (1.6 * 1000 * 1000 / 8) * 0.9,
  uploadThroughput: (750 * 1000 / 8) * 0.9,
};
const USABLE = 'body[data-connection="live"] [data-panel]:not([hidden]) .control';
const PASSWORD = 'page-load-bench';

const { buildDir, count: rounds } = benchArguments('page-load.js', 'rounds', DEFAULT_ROUNDS);
const panelhost = path.resolve(buildDir, 'host', 'panelhost');

const scratch = mkdtempSync(path.join(tmpdir(), 'page-load-'));
const data = path.join(scratch, 'data');
const added = spawnSync(panelhost, ['user', 'add', 'bench', '--role', 'admin', '--data', data],
  { input: `${PASSWORD}\n` });
if (added.status !== 0) {
  throw new Error(`panelhost user add failed: ${added.stderr}`);
}
const host = spawn(panelhost, ['--port', '0', '--data', data, '--layouts', path.join(root, 'layouts'),
  '--web', path.join(root, 'host', 'web')], { stdio: ['ignore', 'pipe', 'pipe'] });
const url = await new Promise((resolve, reject) => {
  readline.createInterface({ input: host.stdout }).on('line', (line) => {
    const found = line.match(/https?:\/\/\S+/);
    if (found) resolve(found[0].replace(/\/$/, ''));
  });
  host.on('exit', (code) => reject(new Error(`panelhost ended (${code}) before serving`)));
});

const profile = mkdtempSync(path.join(tmpdir(), 'page-load-browser-'));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
  viewport: { width: 1280, height: 800 },
});

async function logIn() {
  const page = await context.newPage();
  await page.goto(`${url}/login`);
  await page.getByLabel('Name').fill('bench');
  await page.getByLabel('Password').fill(PASSWORD);
  await page.getByRole('button', { name: 'Log in' }).click();
  await page.waitForSelector(USABLE);
  await page.close();
}

// Runs in the page before its own scripts: `window.usableAt` resolves to
// the page's clock (ms from navigation) when `selector` first matches. The
// page measures itself because waiting from outside costs the page's main
// thread, 4× slower, a poll every few milliseconds (a quarter of a second
// per load, measured) and adds a round trip of the DevTools protocol.
function watchUsable(selector) {
  window.usableAt = new Promise((resolve) => {
    const observer = new MutationObserver(() => {
      if (document.querySelector(selector)) {
        observer.disconnect();
        resolve(performance.now());
      }
    });
    observer.observe(document, { subtree: true, childList: true, attributes: true });
  });
}

// One throttled load of the panels: milliseconds, bytes received and the
// requests (path, left and answered at, ms from navigation; an event
// stream's answer is its head).
async function load(cold) {
  const page = await context.newPage();
  const cdp = await context.newCDPSession(page);
  await cdp.send('Network.enable');
  await cdp.send('Network.setCacheDisabled', { cacheDisabled: cold });
  await cdp.send('Network.emulateNetworkConditions', FAST_3G);
  await cdp.send('Emulation.setCPUThrottlingRate', { rate: CPU_SLOWDOWN });
  let bytes = 0;
  const requests = new Map();
  let started;
  const since = () => performance.now() - started;
  cdp.on('Network.requestWillBeSent', (event) => {
    requests.set(event.requestId, { path: new URL(event.request.url).pathname, left: since() });
  });
  cdp.on('Network.responseReceived', (event) => {
    const request = requests.get(event.requestId);
    if (request) request.answered = since();
  });
  cdp.on('Network.loadingFinished', (event) => {
    bytes += event.encodedDataLength;
    const request = requests.get(event.requestId);
    if (request) request.answered = since();
  });
  await page.addInitScript(watchUsable, USABLE);
  started = performance.now();
  await page.goto(`${url}/?instance=1#panel`, { waitUntil: 'commit' });
  const elapsed = await page.evaluate(() => window.usableAt);
  await page.close();
  return { elapsed, bytes, requests: [...requests.values()] };
}

function timeline(requests) {
  const at = (ms) => (ms === undefined ? '-' : ms.toFixed(0)).padStart(6);
  return requests.map((request) => `${at(request.left)} ${at(request.answered)}  ${request.path}`)
    .join('\n');
}

function summary(name, results) {
  const times = results.map((result) => result.elapsed).sort((a, b) => a - b);
  const bytes = results.map((result) => result.bytes).sort((a, b) => a - b);
  const median = (values) => values[Math.floor(values.length / 2)];
  return `${name}: median ${median(times).toFixed(0)} ms, slowest ${times.at(-1).toFixed(0)} ms, ` +
    `${(median(bytes) / 1024).toFixed(1)} KiB transferred (median of ${results.length})`;
}

try {
  await logIn();
  const cold = [];
  const warm = [];
  for (let round = 0; round < rounds; ++round) {
    cold.push(await load(true));
    warm.push(await load(false));
  }
  console.log(`throttled: CPU ${CPU_SLOWDOWN}× slower, network Fast 3G ` +
    `(${FAST_3G.latency} ms, ${(FAST_3G.downloadThroughput * 8 / 1e6).toFixed(2)} Mbit/s down)`);
  console.log(summary('cold (empty cache)', cold));
  console.log(summary('warm (cache revalidated)', warm));
  console.log(`first cold load, ms from navigation: left, answered, path\n${timeline(cold[0].requests)}`);
  console.log(`first warm load:\n${timeline(warm[0].requests)}`);
} finally {
  await context.close();
  host.kill();
  rmSync(profile, { recursive: true, force: true });
  rmSync(scratch, { recursive: true, force: true });
}
