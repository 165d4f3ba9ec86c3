'use strict';
// Two panelhosts on one database share their accounts, API tokens,
// sessions and one-time logins: what is made or ended on one host, or by
// `panelhost token ...` on the database, holds on both (each checks them in
// a table in memory, read again on the database's notice of every account
// change) within a second, and a host that cannot reach the database lets
// in only the tokens and sessions it checked there shortly before, nothing
// the database refused since.

const { test } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const h = require('./scaleout-harness');

// One request as a client without the harness's token: with `token` or
// the session `cookie`, or neither; the status, the body and the session
// cookie the host set.
async function call(base, method, route, { token, cookie, body } = {}) {
  const headers = { 'content-type': 'application/json' };
  if (token) headers.authorization = `Bearer ${token}`;
  if (cookie) headers.cookie = cookie;
  const response = await fetch(new URL(route, base), {
    method,
    headers,
    redirect: 'manual',
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  const text = await response.text();
  const set = response.headers.getSetCookie().find((c) => c.startsWith('panelhost_session='));
  return {
    status: response.status,
    json: text.startsWith('{') ? JSON.parse(text) : null,
    cookie: set && set.split(';')[0],
  };
}

// Waits until `request` answers `status`; how long that took, in ms. Fails
// once it has not after a few seconds.
async function answered(status, request) {
  const start = Date.now();
  for (;;) {
    const got = (await request()).status;
    if (got === status) return Date.now() - start;
    assert.ok(Date.now() - start < 5000, `still ${got}, not ${status}`);
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
}

// The time within which an account change made elsewhere holds on a host.
const kWithin = 1000;

// `panelhost token ...` on the database, as a script beside the hosts.
const tokenCommand = (store, ...args) =>
  execFileSync(h.PANELHOST, ['token', ...args, '--store', store],
    { stdio: ['ignore', 'pipe', 'pipe'] }).toString().trim();

test('two hosts on one database share accounts, tokens and sessions, and through an outage accept only what they just checked', async () => {
  const store = h.freshDatabase('accounts');
  const a = h.startHost(['--store', store]);
  const b = h.startHost(['--store', store]);
  try {
    const [urlA, urlB] = await Promise.all([a.url, b.url]);

    // Only the host that made the admin account prints a login link; the
    // other says where it is, and the link works on the other host.
    const link = await h.until('a one-time login link', () =>
      (a.output() + b.output()).match(/http:\/\/\S+\/login\?once=(\S+)/));
    await h.until('the other host to say it prints no link', () =>
      /one-time login link was printed by the host that made/.test(a.output() + b.output()));
    assert.equal([a, b].filter((host) => /login\?once=/.test(host.output())).length, 1);
    const linkHost = /login\?once=/.test(a.output()) ? urlA : urlB;
    const otherHost = linkHost === urlA ? urlB : urlA;
    const once = await call(otherHost, 'GET', `/login?once=${link[1]}`);
    assert.equal(once.status, 303);
    assert.ok(once.cookie, 'the one-time login opens a session');
    const admin = await call(linkHost, 'GET', '/api/session', { cookie: once.cookie });
    assert.equal(admin.status, 200);
    assert.equal(admin.json.user, 'admin');
    assert.equal((await call(linkHost, 'GET', `/login?once=${link[1]}`)).cookie, undefined,
      'used up on the other host');

    // A token made on the database works on both hosts; revoked, on neither
    // within a second.
    const token = tokenCommand(store, 'create', '--role', 'admin', '--name', 'monitoring');
    for (const base of [urlA, urlB]) {
      const listed = await call(base, 'GET', '/api/tokens', { token });
      assert.equal(listed.status, 200, JSON.stringify(listed.json));
      assert.ok(listed.json.tokens.some((t) => t.name === 'monitoring'));
    }
    tokenCommand(store, 'revoke', 'monitoring');
    const revoked = Date.now();
    for (const base of [urlA, urlB]) {
      await answered(401, () => call(base, 'GET', '/api/tokens', { token }));
    }
    assert.ok(Date.now() - revoked <= kWithin, `refused on both after ${Date.now() - revoked} ms`);

    // An account added through host A logs in on host B; a new password set
    // on B ends its session on A within a second and holds on A.
    await h.api(urlA, 'POST', '/api/accounts',
      { name: 'olga', role: 'operator', password: 'first password' });
    const login = await call(urlB, 'POST', '/api/login',
      { body: { name: 'olga', password: 'first password' } });
    assert.equal(login.status, 200, JSON.stringify(login.json));
    const onA = await call(urlA, 'GET', '/api/session', { cookie: login.cookie });
    assert.deepEqual([onA.json.user, onA.json.role], ['olga', 'operator']);
    await h.api(urlB, 'PUT', '/api/accounts/olga', { password: 'second password' });
    assert.ok(await answered(401, () => call(urlA, 'GET', '/api/session', { cookie: login.cookie }))
      <= kWithin);
    assert.equal((await call(urlA, 'POST', '/api/login',
      { body: { name: 'olga', password: 'first password' } })).status, 401);
    const again = await call(urlA, 'POST', '/api/login',
      { body: { name: 'olga', password: 'second password' } });
    assert.equal(again.status, 200);

    // A session that A holds in memory, ended by logging out on B, is
    // refused on A within a second.
    const second = await call(urlA, 'POST', '/api/login',
      { body: { name: 'olga', password: 'second password' } });
    assert.equal((await call(urlA, 'GET', '/api/session', { cookie: second.cookie })).status, 200);
    assert.equal((await call(urlB, 'POST', '/api/logout', { cookie: second.cookie, body: {} })).status,
      200);
    assert.ok(await answered(401, () => call(urlA, 'GET', '/api/session', { cookie: second.cookie }))
      <= kWithin);

    // The database away: a session A checked there just before is still
    // olga's on A, from memory, logged once; on B, which never checked it,
    // it is refused with 503, as are a token never used, the token revoked
    // before (the database's "no" was not forgotten) and any login.
    const kept = tokenCommand(store, 'create', '--role', 'viewer');
    assert.equal((await call(urlA, 'GET', '/api/session', { cookie: again.cookie })).status, 200);
    h.stopServer();
    try {
      // Each host notices at its next reading of the accounts or the first
      // check it must ask the database for; from then on it lets in only
      // what it let in shortly before.
      for (const base of [urlA, urlB]) {
        assert.ok(await answered(503,
          () => call(base, 'GET', '/api/session', { token: 'pht_never_made' })) <= kWithin);
      }
      for (let i = 0; i < 3; i++) {
        const remembered = await call(urlA, 'GET', '/api/session', { cookie: again.cookie });
        assert.equal(remembered.status, 200, JSON.stringify(remembered.json));
        assert.deepEqual([remembered.json.user, remembered.json.role], ['olga', 'operator']);
      }
      assert.equal((await call(urlB, 'GET', '/api/session', { cookie: again.cookie })).status,
        503);
      for (const base of [urlA, urlB]) {
        for (const unchecked of [kept, token]) {
          const refused = await call(base, 'GET', '/api/session', { token: unchecked });
          assert.equal(refused.status, 503);
          assert.equal(typeof refused.json.error, 'string');
        }
        assert.equal((await call(base, 'POST', '/api/login',
          { body: { name: 'olga', password: 'second password' } })).status, 503);
      }
      const { entries } = await h.api(urlA, 'GET', '/api/log?limit=10000');
      assert.equal(entries.filter((e) => e.text.includes('accepted from memory')).length, 1);
    } finally {
      h.startServer();
    }
    for (const base of [urlA, urlB]) {
      const back = await call(base, 'GET', '/api/session', { token: kept });
      assert.equal(back.status, 200, JSON.stringify(back.json));
      assert.equal((await call(base, 'GET', '/api/session', { cookie: again.cookie })).json.user,
        'olga');
    }
    const { entries } = await h.api(urlA, 'GET', '/api/log?limit=10000');
    assert.ok(entries.some((e) => e.text.includes('the accounts can be read again')));
  } finally {
    await Promise.all([a.stop(), b.stop()]);
  }
});
