'use strict';
// A throwaway pg_auto_failover formation for the failover tests and the
// failover benchmark: a monitor and two nodes (a primary and its
// synchronous standby) made with Debian's pg_autoctl in a temporary folder,
// on free loopback ports, run as the server's user (pg_autoctl refuses
// root: PANELHOST_TEST_PG_USER names the user when the caller is root).
// The monitor's health checks are tuned so that a failover starts within
// about two seconds (MONITOR_SETTINGS; docs/scale-out.md tells what they
// cost in production).

const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { execFileSync, spawn } = require('node:child_process');

// The monitor's settings for the tests: a health check every second, given
// up after one more try half a second later, and a node that neither
// answers nor reports for 6 s counted as unhealthy. That is longer than the
// host's statement timeout (2 s), so that a lost standby is first seen as
// commits not confirmed in time, then, once the monitor lets the primary
// commit alone, as writes going on.
const MONITOR_SETTINGS = {
  'pgautofailover.health_check_period': 1000,
  'pgautofailover.health_check_timeout': 1000,
  'pgautofailover.health_check_max_retries': 1,
  'pgautofailover.health_check_retry_delay': 500,
  'pgautofailover.node_considered_unhealthy_timeout': 6000,
  'pgautofailover.startup_grace_period': 1000,
};
// The nodes' own settings: no fsync (a throwaway formation), and a standby
// that lost its primary's stream asks again after half a second rather than
// 5 s (wal_retrieve_retry_interval): a primary restarted in place commits
// nothing until its synchronous standby is back.
const NODE_SETTINGS = { fsync: 'off', wal_retrieve_retry_interval: "'500ms'" };
const DATABASE = 'names';
const ROLE = 'panelhost';
const WAIT_MS = 60000;
// How long the nodes' states must stay as they are before the formation
// counts as settled: longer than two of the monitor's health checks, so
// that a decision it is about to make (a primary that crashed and was
// restarted at once by its own pg_autoctl is still failed over) has been
// made.
const SETTLED_MS = 3000;

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// Debian installs the server's programs outside PATH, one folder a version.
function serverBin() {
  if (process.env.PANELHOST_TEST_PG_BIN) return process.env.PANELHOST_TEST_PG_BIN;
  const versions = fs.readdirSync('/usr/lib/postgresql')
    .filter((v) => fs.existsSync(path.join('/usr/lib/postgresql', v, 'bin', 'initdb')))
    .sort((a, b) => Number(a) - Number(b));
  return path.join('/usr/lib/postgresql', versions[versions.length - 1], 'bin');
}

const pause = (ms) => new Promise((r) => setTimeout(r, ms));

// Makes and starts the formation; resolves once the primary and its
// synchronous standby are in step.
async function startCluster() {
  const bin = serverBin();
  const user = process.env.PANELHOST_TEST_PG_USER ||
    (process.getuid() === 0 ? 'nobody' : '');
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'panelhost-failover-'));
  const sockets = path.join(folder, 'sockets');
  fs.mkdirSync(sockets);
  if (user) execFileSync('chown', ['-R', `${user}:`, folder]);
  const env = {
    PATH: `${bin}:/usr/bin:/bin`, HOME: folder, PGHOST: sockets,
    XDG_CONFIG_HOME: path.join(folder, 'config'), XDG_DATA_HOME: path.join(folder, 'share'),
    XDG_RUNTIME_DIR: path.join(folder, 'run'),
  };
  const argv = (program, args) => {
    const prefix = user ? ['runuser', '-u', user, '--'] : [];
    const envArgs = Object.entries(env).map(([k, v]) => `${k}=${v}`);
    return [...prefix, 'env', ...envArgs, program, ...args];
  };
  const run = (program, args) => {
    const [file, ...rest] = argv(program, args);
    return execFileSync(file, rest, { stdio: ['ignore', 'pipe', 'pipe'] }).toString();
  };
  const services = new Map();
  const log = (name) => path.join(folder, `${name}.log`);
  // `pg_autoctl run` of one node, in a process group of its own.
  const serve = (name) => {
    const [file, ...rest] = argv('pg_autoctl', ['run', '--pgdata', path.join(folder, name)]);
    const out = fs.openSync(log(name), 'a');
    const child = spawn(file, rest, { stdio: ['ignore', out, out], detached: true });
    fs.closeSync(out);
    const closed = new Promise((resolve) => child.on('close', resolve));
    services.set(name, { child, closed });
  };
  // A data folder made here, so that its sockets are in `sockets` (the
  // system's socket folder is not the server user's to write). The
  // standby's copy of the primary's inherits NODE_SETTINGS.
  const initdb = (name) => {
    run('initdb', ['-D', path.join(folder, name), '--auth=trust', '--no-locale', '-E', 'UTF8',
      '--no-sync']);
    const settings = Object.entries(NODE_SETTINGS).map(([k, v]) => `${k} = ${v}\n`).join('');
    fs.appendFileSync(path.join(folder, name, 'postgresql.conf'),
      `unix_socket_directories = '${sockets}'\n${settings}`);
  };
  const ports = { monitor: await freePort(), n1: await freePort(), n2: await freePort() };
  const psql = (port, database, statement) => execFileSync(path.join(bin, 'psql'),
    ['-X', '-q', '-A', '-t', '-v', 'ON_ERROR_STOP=1', '-d',
      `postgresql://${user || os.userInfo().username}@127.0.0.1:${port}/${database}`,
      '-c', statement], { stdio: ['ignore', 'pipe', 'pipe'] }).toString().trim();
  const monitorSql = (statement) => psql(ports.monitor, 'pg_auto_failover', statement);
  const monitorUrl = `postgres://autoctl_node@127.0.0.1:${ports.monitor}/pg_auto_failover?sslmode=disable`;

  const cluster = {
    folder,
    ports,
    settings: MONITOR_SETTINGS,
    nodeSettings: NODE_SETTINGS,
    // The multi-host URL a panelhost is given.
    url: `postgresql://${ROLE}@127.0.0.1:${ports.n1},127.0.0.1:${ports.n2}/${DATABASE}` +
      '?target_session_attrs=read-write',
    // Each node's port by name, and its reported and assigned states.
    states() {
      const rows = monitorSql('SELECT nodename, nodeport, reportedstate, goalstate ' +
        'FROM pgautofailover.node ORDER BY nodeid');
      return rows.split('\n').filter(Boolean).map((row) => {
        const [name, port, reported, goal] = row.split('|');
        return { name, port: Number(port), reported, goal };
      });
    },
    // The node both reported and assigned primary, or null.
    primary() {
      try {
        return cluster.states().find((n) => n.reported === 'primary' && n.goal === 'primary') || null;
      } catch {
        return null;
      }
    },
    // Resolves once a primary and a secondary are in step and have been
    // for SETTLED_MS, with the primary.
    async steady() {
      const end = Date.now() + WAIT_MS;
      let seen = '';
      let since = Date.now();
      for (;;) {
        let nodes = [];
        try { nodes = cluster.states(); } catch { /* the monitor restarting */ }
        const primary = nodes.find((n) => n.reported === 'primary' && n.goal === 'primary');
        const now = JSON.stringify(nodes);
        if (now !== seen) {
          seen = now;
          since = Date.now();
        }
        if (primary && nodes.some((n) => n.reported === 'secondary' && n.goal === 'secondary') &&
          Date.now() - since >= SETTLED_MS) {
          return primary;
        }
        if (Date.now() > end) {
          throw new Error(`the formation is not steady: ${JSON.stringify(nodes)}`);
        }
        await pause(100);
      }
    },
    // Runs `statement` on the node of `port` as the panelhost role.
    sql(port, statement) {
      return execFileSync(path.join(bin, 'psql'), ['-X', '-q', '-A', '-t', '-v', 'ON_ERROR_STOP=1',
        '-d', `postgresql://${ROLE}@127.0.0.1:${port}/${DATABASE}`, '-c', statement],
      { stdio: ['ignore', 'pipe', 'pipe'] }).toString().trim();
    },
    // Kills the postmaster of the node on `port` with SIGKILL, as a crash
    // would; its pg_autoctl stays and brings it back as the monitor says.
    killPostmaster(name) {
      const pid = Number(fs.readFileSync(path.join(folder, name, 'postmaster.pid'), 'utf8')
        .split('\n')[0]);
      process.kill(pid, 'SIGKILL');
    },
    // A planned switchover; resolves once pg_autoctl has made it.
    switchover() {
      const [file, ...rest] = argv('pg_autoctl', ['perform', 'switchover', '--monitor', monitorUrl]);
      const child = spawn(file, rest, { stdio: ['ignore', 'pipe', 'pipe'] });
      let output = '';
      child.stdout.on('data', (d) => (output += d));
      child.stderr.on('data', (d) => (output += d));
      return new Promise((resolve, reject) => child.on('close', (code) =>
        (code === 0 ? resolve() : reject(new Error(`pg_autoctl perform switchover: ${output}`)))));
    },
    // Stops a node, its pg_autoctl and its server, and waits for it.
    async stopNode(name) {
      const service = services.get(name);
      process.kill(-service.child.pid, 'SIGTERM');
      await service.closed;
      services.delete(name);
    },
    // Kills a node's pg_autoctl and its server with SIGKILL, as a power
    // loss would: nothing tells the monitor, which notices through its
    // health checks and node_considered_unhealthy_timeout.
    async killNode(name) {
      const service = services.get(name);
      const pidFile = path.join(folder, name, 'postmaster.pid');
      const postmaster = fs.existsSync(pidFile)
        ? Number(fs.readFileSync(pidFile, 'utf8').split('\n')[0]) : 0;
      process.kill(-service.child.pid, 'SIGKILL');
      if (postmaster) {
        try { process.kill(postmaster, 'SIGKILL'); } catch { /* gone with the group */ }
      }
      await service.closed;
      services.delete(name);
    },
    startNode(name) {
      serve(name);
    },
    nameOf(port) {
      return Object.keys(ports).find((name) => ports[name] === port);
    },
    // Stops everything and removes the folder.
    async stop() {
      for (const name of [...services.keys()].reverse()) {
        try { await cluster.stopNode(name); } catch { /* already gone */ }
      }
      fs.rmSync(folder, { recursive: true, force: true });
    },
    logs() {
      return ['monitor', 'n1', 'n2'].map((name) =>
        (fs.existsSync(log(name)) ? `== ${name}\n${fs.readFileSync(log(name), 'utf8')}` : '')).join('\n');
    },
  };

  try {
    initdb('monitor');
    run('pg_autoctl', ['create', 'monitor', '--pgdata', path.join(folder, 'monitor'),
      '--pgport', String(ports.monitor), '--hostname', '127.0.0.1', '--listen', '127.0.0.1',
      '--auth', 'trust', '--no-ssl']);
    serve('monitor');
    const end = Date.now() + WAIT_MS;
    for (;;) {
      try {
        for (const [name, value] of Object.entries(MONITOR_SETTINGS)) {
          monitorSql(`ALTER SYSTEM SET ${name} = ${value}`);
        }
        monitorSql('SELECT pg_reload_conf()');
        break;
      } catch (error) {
        if (Date.now() > end) throw error;
        await pause(100);
      }
    }
    initdb('n1');
    for (const name of ['n1', 'n2']) {
      run('pg_autoctl', ['create', 'postgres', '--pgdata', path.join(folder, name),
        '--pgport', String(ports[name]), '--hostname', '127.0.0.1', '--listen', '127.0.0.1',
        '--monitor', monitorUrl, '--auth', 'trust', '--no-ssl', '--dbname', DATABASE,
        '--username', ROLE, '--name', name]);
      serve(name);
    }
    await cluster.steady();
  } catch (error) {
    const logs = cluster.logs();
    await cluster.stop();
    throw new Error(`${error.message}\n${error.stderr || ''}\n${logs}`);
  }
  return cluster;
}

module.exports = { startCluster, MONITOR_SETTINGS, NODE_SETTINGS };
