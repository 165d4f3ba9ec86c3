'use strict';
// Several panelhosts on the throwaway PostgreSQL that
// tests/store/run-postgres-test.sh starts: a fresh database for each test,
// the server stopped and started again under the tests' control, and the
// display-output harness (hosts, API, TSL receivers) of tests/tsl/decoder.

const { execFileSync } = require('node:child_process');
const path = require('node:path');

const decoder = path.join(__dirname, '..', 'tsl', 'decoder');
const hosts = require(path.join(decoder, 'panelhost-harness'));
const receivers = require(path.join(decoder, 'tsl-receivers'));

const SERVER = process.env.PANELHOST_TEST_POSTGRES;
const BIN = process.env.PANELHOST_TEST_PG_BIN;
const DATA = process.env.PANELHOST_TEST_PG_DATA;
const PORT = process.env.PANELHOST_TEST_PG_PORT;
const SOCKETS = process.env.PANELHOST_TEST_PG_SOCKETS;
// The server refuses root: the runner names the user it runs as then.
const USER = process.env.PANELHOST_TEST_PG_USER;

let databases = 0;

// Runs one of the server's programs as the server's user.
function asServer(program, args) {
  const command = path.join(BIN, program);
  const [file, argv] = USER ? ['runuser', ['-u', USER, '--', command, ...args]] : [command, args];
  return execFileSync(file, argv, { stdio: ['ignore', 'pipe', 'pipe'] }).toString();
}

function sql(url, statement) {
  return execFileSync(path.join(BIN, 'psql'), ['-X', '-q', '-A', '-t', '-v', 'ON_ERROR_STOP=1',
    '-d', url, '-c', statement], { stdio: ['ignore', 'pipe', 'pipe'] }).toString().trim();
}

// A new, empty database on the server; returns its URL for --store.
function freshDatabase(prefix = 'scaleout') {
  const name = `${prefix}_${process.pid}_${++databases}`;
  sql(SERVER, `CREATE DATABASE ${name}`);
  const url = new URL(SERVER);
  url.pathname = `/${name}`;
  return url.toString();
}

// Stops the server at once, as a crash or a pulled cable would, and waits
// until it is down.
function stopServer() {
  asServer('pg_ctl', ['stop', '-D', DATA, '-m', 'immediate', '-w']);
}

// Starts the server again on the same port and waits until it accepts
// connections.
function startServer() {
  asServer('pg_ctl', ['start', '-D', DATA, '-w', '-l', path.join(SOCKETS, 'server.log'),
    '-o', `-c listen_addresses=127.0.0.1 -p ${PORT} -k ${SOCKETS} -c fsync=off`]);
}

module.exports = { ...hosts, ...receivers, SERVER, sql, freshDatabase, stopServer, startServer };
