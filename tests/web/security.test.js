// Who may do what in the browser: logging in and out, what each role's
// pages offer (and that the host refuses the rest, whatever the page
// offers), a page of another site that tries to press buttons, pages that
// try to show the host's inside a frame, the one inline script the
// policy allows, and the host served over HTTPS.
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { createServer } from 'node:http';
import { after, before, describe, it } from 'node:test';
import {
  ACCOUNTS, BrowserHarness, HOST_URL, api, control, showSelector, waitForAttribute,
} from './BrowserHarness.js';

const TLS_URL = process.env.PANELHOST_TLS_URL?.replace(/\/$/, '');
// How long a framing page waits for the browser to report the frame it
// refused: the report comes as the frame's answer arrives, well within it.
const REFUSAL_WAIT_MS = 10000;

// What the page itself gets when it writes a slot, bypassing its own
// controls: the host's answer status.
function writeSlotFromPage(page) {
  return page.evaluate(() => fetch('/api/devices/57/slots/212', {
    method: 'PUT',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({ text: '9' }),
  }).then((answer) => answer.status));
}

describe('logging in and out', () => {
  let harness;

  before(async () => {
    harness = await BrowserHarness.launch({ user: null });
  });

  after(async () => {
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('leads to the login page without a session, takes a password, shows the user and logs out', async () => {
    const page = await harness.context.newPage();
    await page.goto(`${HOST_URL}/?instance=1`);
    await page.waitForURL(/\/login$/);

    await page.getByLabel('Name').fill(ACCOUNTS.operator);
    await page.getByLabel('Password').fill('not the password');
    await page.getByRole('button', { name: 'Log in' }).click();
    await page.getByText('the name or the password is wrong').waitFor();

    await harness.logIn(ACCOUNTS.operator);
    await page.goto(`${HOST_URL}/?instance=1`);
    await page.waitForSelector('body[data-connection="live"]');
    assert.equal(await page.locator('[data-user]').textContent(), 'otto (operator)');
    const cookie = (await harness.context.cookies()).find((found) => found.name === 'panelhost_session');
    assert.equal(cookie.httpOnly, true);
    assert.equal(cookie.sameSite, 'Strict');

    await page.getByRole('button', { name: 'Log out', exact: true }).click();
    await page.waitForURL(/\/login$/);
    await page.goto(`${HOST_URL}/?instance=1`);
    await page.waitForURL(/\/login$/);
  });
});

describe('each role sees what it may do, and the host refuses the rest', () => {
  const harnesses = [];

  after(async () => {
    for (const harness of harnesses) {
      await harness.close();
    }
    assert.deepEqual(harnesses.flatMap((harness) => harness.errors), []);
  });

  const openAs = async (role, address) => {
    const harness = await BrowserHarness.launch({ user: ACCOUNTS[role] });
    harnesses.push(harness);
    return harness.open(address);
  };

  it('a viewer watches the panels and the devices and changes nothing', async () => {
    const page = await openAs('viewer', '/?instance=1');
    const before = await api('GET', '/api/panels/1');
    assert.equal(await page.locator('.panel-stage').evaluate((stage) => stage.inert), true);
    await page.locator('[data-view-only]').waitFor();
    await control(page, '1', 'Select_2').click({ force: true });
    await page.keyboard.press('a');

    await page.goto(`${HOST_URL}/?instance=1#devices`);
    await page.waitForSelector('[data-devices-entries] tr');
    assert.equal(await page.locator('[data-devices-entries] input').count(), 0);
    assert.equal(await page.locator('[data-devices-slot-form]').evaluate((form) => form.hidden), true);
    assert.equal(await writeSlotFromPage(page), 403);
    assert.deepEqual(await api('GET', '/api/panels/1'), before);
    await BrowserHarness.screenshot(page, 'viewer-devices');
  });

  it('an operator works the panels and only reads the devices', async () => {
    const page = await openAs('operator', '/?instance=1');
    await showSelector(page);
    assert.equal(await page.locator('.panel-stage').evaluate((stage) => stage.inert), false);
    await control(page, '1', 'UMDBright_3').click();
    await waitForAttribute(page, '1', 'UMDBright_3', 'data-statesheet', 'ZRSourceSelected');

    await page.goto(`${HOST_URL}/?instance=1#devices`);
    await page.waitForSelector('[data-devices-entries] tr');
    assert.equal(await page.locator('[data-devices-entries] input').count(), 0);
    assert.equal(await writeSlotFromPage(page), 403);

    // Bulk work on the name sets is for engineers: previews and exports
    // only, and no restore or undo in the history.
    await page.goto(`${HOST_URL}/?instance=1#namesets`);
    await page.waitForSelector('[data-namesets-access]:not([hidden])');
    for (const apply of ['[data-import-apply]', '[data-copy-apply]']) {
      assert.equal(await page.locator(apply).isVisible(), false, apply);
    }
    await api('PUT', '/api/devices/12/databases/6/20', { text: 'Operator check' });
    await page.goto(`${HOST_URL}/?instance=1#history`);
    await page.waitForSelector('[data-history-rows] tr');
    assert.equal(await page.getByRole('button', { name: /^Restore/ }).count(), 0);
  });

  it('an engineer writes to the devices', async () => {
    const page = await openAs('engineer', '/?instance=1#devices');
    await page.waitForSelector('[data-devices-entries] input');
    assert.equal(await page.locator('[data-devices-slot-form]').evaluate((form) => form.hidden), false);
  });
});

describe('a page of another site', () => {
  let harness;
  let server;
  let foreignUrl;

  before(async () => {
    harness = await BrowserHarness.launch();
    // Served from another origin than the host, in the same browser that
    // is logged in to the host as an admin.
    server = createServer((request, response) => {
      response.writeHead(200, { 'Content-Type': 'text/html' });
      response.end('<!DOCTYPE html><title>elsewhere</title>');
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    foreignUrl = `http://localhost:${server.address().port}/`;
  });

  after(async () => {
    await harness.close();
    await new Promise((resolve) => server.close(resolve));
    assert.deepEqual(harness.errors, []);
  });

  it('cannot press buttons on the panels: the displays do not change', async () => {
    await harness.open('/?instance=1');
    // Where the log ends now: the suite before this test may have filled
    // more of it than one answer holds.
    let logged = 0;
    for (let page = await api('GET', '/api/log'); page.entries.length;
      page = await api('GET', `/api/log?since=${logged}`)) {
      logged = page.last;
    }
    const wall = await api('GET', '/api/wall');
    const panel = await api('GET', '/api/panels/1');
    const page = await harness.context.newPage();
    await page.goto(foreignUrl);
    const outcomes = await page.evaluate(async (host) => {
      const press = (control, init) => fetch(`${host}/api/panels/1/events`, {
        method: 'POST',
        credentials: 'include',
        body: JSON.stringify({ panel: '1', control, event: 'button=pressed' }),
        ...init,
      }).then((answer) => `answered ${answer.type}`, (error) => `failed ${error.name}`);
      const outcomes = [];
      for (const control of ['Select_7', 'Confirm']) {
        // As a form would post: no asking first, the answer unreadable.
        outcomes.push(await press(control, { mode: 'no-cors', headers: { 'Content-Type': 'text/plain' } }));
        // As JSON, which the browser asks the host about first.
        outcomes.push(await press(control, { headers: { 'Content-Type': 'application/json' } }));
      }
      return outcomes;
    }, HOST_URL);
    assert.deepEqual(outcomes, ['answered opaque', 'failed TypeError', 'answered opaque', 'failed TypeError']);

    assert.deepEqual(await api('GET', '/api/wall'), wall);
    assert.deepEqual(await api('GET', '/api/panels/1'), panel);
    const { entries } = await api('GET', `/api/log?since=${logged}`);
    assert.ok(entries.some((entry) => entry.kind === 'warning' &&
      entry.text.startsWith('refused POST /api/panels/1/events')), 'the refusal is in the log');
  });
});

describe('a page that frames the host', () => {
  let harness;
  const servers = [];

  before(async () => {
    harness = await BrowserHarness.launch();
  });

  after(async () => {
    await harness.close();
    await Promise.all(servers.map((server) => new Promise((resolve) => server.close(resolve))));
    assert.deepEqual(harness.errors, []);
  });

  // Serves a page that shows the host's panels in a frame and says when the
  // frame has loaded, whatever it loaded; its address names `hostname`.
  const framingPage = async (hostname) => {
    const server = createServer((request, response) => {
      response.writeHead(200, { 'Content-Type': 'text/html' });
      response.end('<!DOCTYPE html><title>framing</title>' +
        `<iframe src="${HOST_URL}/?instance=1" onload="document.title = 'frame loaded'"></iframe>`);
    });
    servers.push(server);
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    return `http://${hostname}:${server.address().port}/`;
  };

  // Another site gets no session cookie in the frame; a page on another
  // port of the host's own machine is the same site and gets it, so its
  // frame would show the logged-in panels for invisible clicks.
  for (const [where, hostname] of [['of another site', 'localhost'],
    ['on another port of the same machine', new URL(HOST_URL).hostname]]) {
    it(`${where} gets neither the panels nor the login page in its frame`, async () => {
      const page = await harness.context.newPage();
      const refusal = page.waitForEvent('console', {
        predicate: (message) => message.text().includes("frame-ancestors 'none'"),
        timeout: REFUSAL_WAIT_MS,
      }).then((message) => message.text(), () => 'no refusal logged');
      await page.goto(await framingPage(hostname));
      await page.waitForFunction(() => document.title === 'frame loaded');
      const frame = page.frames().find((found) => found !== page.mainFrame());
      assert.ok(!frame.url().startsWith(HOST_URL), `the frame shows ${frame.url()}`);
      assert.equal(await frame.locator('body[data-connection], [data-login-form]').count(), 0);
      const logged = await refusal;
      assert.ok(logged.startsWith(`Framing '${HOST_URL}/`) && logged.includes('blocked'), logged);
      await page.close();
    });
  }
});

describe('the content security policy', () => {
  it('allows the inline scripts and style sheets of each page by their hashes, and no other',
    async () => {
      for (const path of ['/', '/login']) {
        const answer = await fetch(`${HOST_URL}${path}`);
        const page = await answer.text();
        const policy = answer.headers.get('content-security-policy').split(';')
          .map((directive) => directive.trim().split(' '));
        for (const [tag, directive] of [['script', 'script-src'], ['style', 'style-src']]) {
          const inline = [...page.matchAll(new RegExp(`<${tag}(?: type="module")?>([^]*?)</${tag}>`, 'g'))]
            .map((found) => `'sha256-${createHash('sha256').update(found[1]).digest('base64')}'`);
          const allowed = policy.find(([name]) => name === directive);
          assert.ok(inline.length > 0, `${path} has no inline ${tag}`);
          assert.deepEqual(allowed.slice(1).filter((source) => source.startsWith("'sha256-")),
            inline, `${path} ${directive}`);
        }
      }
    });
});

describe('the host over HTTPS', () => {
  let harness;

  before(async () => {
    harness = await BrowserHarness.launch({ url: TLS_URL });
  });

  after(async () => {
    await harness.close();
    assert.deepEqual(harness.errors, []);
  });

  it('serves the panels to a logged-in browser with a cookie only sent over TLS', async () => {
    assert.match(TLS_URL, /^https:\/\//);
    const page = await harness.open('/?instance=1');
    assert.equal(await page.locator('[data-user]').textContent(), 'ada (admin)');
    const cookie = (await harness.context.cookies()).find((found) => found.name === 'panelhost_session');
    assert.equal(cookie.secure, true);
    assert.equal(cookie.httpOnly, true);
  });
});
