// What every browser test needs: Debian's Chromium driven by playwright-core
// (never a downloaded browser) with a fresh profile logged in to the panel
// host that run-browser-tests.sh started (PANELHOST_URL) with the accounts
// it made (one per role, all with PANELHOST_PASSWORD), the host's API for
// checking what the devices hold (with the admin token PANELHOST_TOKEN),
// and screenshots under SCREENSHOT_DIR.
import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const CHROMIUM = '/usr/bin/chromium';
const CHROMIUM_ARGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
// An operator's touch screen, and room for the whole wall of displays.
const VIEWPORT = { width: 1280, height: 800 };

export const HOST_URL = process.env.PANELHOST_URL?.replace(/\/$/, '');
const TOKEN = process.env.PANELHOST_TOKEN;
export const PASSWORD = process.env.PANELHOST_PASSWORD;
if (!HOST_URL || !TOKEN || !PASSWORD) {
  throw new Error('PANELHOST_URL, PANELHOST_TOKEN or PANELHOST_PASSWORD is not set: run the tests ' +
    'through tests/web/run-browser-tests.sh');
}
// The name of the token api() uses, as the history records its writes.
export const TOKEN_NAME = 'tests';
// The account of each role that run-browser-tests.sh made.
export const ACCOUNTS = { viewer: 'vera', operator: 'otto', engineer: 'erin', admin: 'ada' };
export const ADMIN = ACCOUNTS.admin;

// The devices of the studio, as the host's default configuration has them.
export const TALLY = 57;
export const NAMES_DRIVER = 12;
export const TITLES = 9;

// How long a test waits for something the host's timers bring about: the
// ten ticks of a confirm window or the twenty of a take prompt are ten
// seconds each.
export const TIMER_WAIT_MS = 25000;

export class BrowserHarness {
  // With `touch`, the pages have a touch screen. `user`: the account the
  // browser logs in as through the login page (null: none); `url`: the
  // host (e.g. the HTTPS one, whose certificate the browser then accepts).
  static async launch({ touch = false, user = ADMIN, url = HOST_URL } = {}) {
    const profile = mkdtempSync(path.join(tmpdir(), 'panelhost-browser-'));
    const context = await chromium.launchPersistentContext(profile, {
      executablePath: CHROMIUM,
      headless: true,
      args: CHROMIUM_ARGS,
      viewport: VIEWPORT,
      hasTouch: touch,
      acceptDownloads: true,
      ignoreHTTPSErrors: url !== HOST_URL,
    });
    const harness = new BrowserHarness(context, profile, url);
    if (user) {
      await harness.logIn(user);
    }
    return harness;
  }

  constructor(context, profile, url) {
    this.context = context;
    this.profile = profile;
    this.url = url;
    // Errors of the host's pages: uncaught exceptions of pages opened with
    // open(), and on any page of the host whatever the browser refused
    // under the host's Content Security Policy (an inline script or style,
    // a foreign source), which would leave part of the page dead.
    this.errors = [];
    context.on('console', (message) => {
      if (message.type() === 'error' && message.page()?.url().startsWith(url) &&
          message.text().includes('Content Security Policy')) {
        this.errors.push(message.text());
      }
    });
  }

  // Logs in as `user` on the login page, which then leads to the panels.
  async logIn(user, password = PASSWORD) {
    const page = await this.context.newPage();
    await page.goto(`${this.url}/login`);
    await page.getByLabel('Name').fill(user);
    await page.getByLabel('Password').fill(password);
    await page.getByRole('button', { name: 'Log in' }).click();
    await page.waitForSelector('body[data-connection="live"]');
    await page.close();
  }

  // Opens a page of the host (e.g. "/?instance=1#panel") once its event
  // stream is live and its panel drawn.
  async open(address) {
    const page = await this.context.newPage();
    page.on('pageerror', (error) => this.errors.push(error.message));
    await page.goto(`${this.url}${address}`);
    await page.waitForSelector('body[data-connection="live"]');
    return page;
  }

  async close() {
    await this.context.close();
    rmSync(this.profile, { recursive: true, force: true });
  }

  // The whole page, or with `fullPage` false the window as it is (a full
  // page shot resizes the window, which a touch screen's layout is not).
  static async screenshot(page, name, { fullPage = true } = {}) {
    const folder = process.env.SCREENSHOT_DIR;
    if (folder) {
      mkdirSync(folder, { recursive: true });
      await page.screenshot({ path: path.join(folder, `${name}.png`), fullPage });
    }
  }
}

// Calls the host's API as an admin's script would, with the admin token.
export async function api(method, address, body) {
  const response = await fetch(`${HOST_URL}${address}`, {
    method,
    headers: {
      Authorization: `Bearer ${TOKEN}`,
      ...(body ? { 'Content-Type': 'application/json' } : {}),
    },
    body: body ? JSON.stringify(body) : undefined,
  });
  const answer = await response.json();
  if (!response.ok) {
    throw new Error(`${method} ${address}: ${response.status} ${answer.error}`);
  }
  return answer;
}

export async function nameOf(database, index) {
  return (await api('GET', `/api/devices/${NAMES_DRIVER}/databases/${database}/${index}`)).text;
}

export async function slotOf(index) {
  return (await api('GET', `/api/devices/${TALLY}/slots/${index}`)).text;
}

// A control of a panel of the page: the locator of its element.
export function control(page, panel, name) {
  return page.locator(`[data-panel="${panel}"] [data-control="${name}"]`);
}

// Waits until the control's attribute `name` (e.g. "data-enabled") is `value`.
export async function waitForAttribute(page, panel, controlName, name, value, timeout) {
  await page.waitForSelector(
    `[data-panel="${panel}"] [data-control="${controlName}"][${name}="${value}"]`,
    { state: 'attached', timeout });
}

// Waits until the control's text (a label's, or the keyboard's typed text)
// is `text`.
export async function waitForText(page, panel, controlName, text, timeout) {
  await page.waitForFunction(([selector, expected]) => {
    const element = document.querySelector(selector);
    const shown = element?.querySelector('.kb-text') ?? element;
    return shown !== null && shown.textContent === expected;
  }, [`[data-panel="${panel}"] [data-control="${controlName}"]`, text], { timeout });
}

// Waits until `panel` is the one the page shows.
export async function waitForPanel(page, panel) {
  await page.locator(`[data-panel="${panel}"]`).waitFor({ state: 'visible' });
}

// Brings the page's panel instance back to the selector panel when an
// earlier test left it on the editor panel.
export async function showSelector(page) {
  const back = control(page, '2', 'Nameset_Select');
  if (await back.isVisible() && await back.isEnabled()) {
    await back.click();
  }
  await waitForPanel(page, '1');
}
