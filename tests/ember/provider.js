'use strict';
// An Ember+ router played by the independent provider node-emberplus: one
// node "studio" with a node "router" holding a one-to-N linear matrix
// "matrix" (path 0.1.0) of TARGETS x SOURCES, its label set "primary" at
// 0.1.1000 (targets 0.1.1000.1.N "Dest N", sources 0.1.1000.2.N "Src N"),
// and target N routed to source N modulo SOURCES.
//
//   node provider.js [--port PORT] [--targets N] [--sources N]
//
// Prints "listening PORT" once it accepts connections, then takes commands
// on stdin, one a line, and answers each with "ok ..." or "error ...":
//   label target|source N TEXT   change a label
//   route T S                    connect source S to target T
//   frame HEX                    send HEX as an EmBER payload in one valid frame
//   raw HEX                      send these bytes as they are to every consumer
//   clients                      print "clients N", the consumers connected
//   quit                         stop listening, close the consumers, exit
const net = require('node:net');
const readline = require('node:readline');
const { EmberServer } = require('node-emberplus');
const { S101Codec } = require('node-emberplus/lib/socket/s101.codec');

// Flags of an EmBER packet that carries a whole message.
const SINGLE_PACKET = 0xc0;

const MATRIX_PATH = '0.1.0';
const LABELS_PATH = '0.1.1000';

function option(name, fallback) {
  const i = process.argv.indexOf(`--${name}`);
  return i > 0 ? Number(process.argv[i + 1]) : fallback;
}

const port = option('port', 0);
const targetCount = option('targets', 16);
const sourceCount = option('sources', 16);

function labels(count, prefix) {
  const out = [];
  for (let n = 0; n < count; n++) out.push({ identifier: `${prefix}-${n}`, number: n, value: `${prefix === 't' ? 'Dest' : 'Src'} ${n}` });
  return out;
}

const connections = [];
for (let t = 0; t < targetCount; t++) connections.push({ target: t, sources: [t % sourceCount] });

const tree = EmberServer.createTreeFromJSON([
  {
    identifier: 'studio',
    children: [
      { identifier: 'identity', children: [{ identifier: 'product', value: 'test router' }] },
      {
        identifier: 'router',
        children: [
          {
            identifier: 'matrix',
            type: 'oneToN',
            mode: 'linear',
            targetCount,
            sourceCount,
            connections,
            labels: [{ basePath: LABELS_PATH, description: 'primary' }],
          },
          {
            identifier: 'labels',
            number: 1000,
            children: [
              { identifier: 'targets', number: 1, children: labels(targetCount, 't') },
              { identifier: 'sources', number: 2, children: labels(sourceCount, 's') },
            ],
          },
        ],
      },
    ],
  },
]);

// The package treats port 0 as its default port, so a free port is looked
// up first.
function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer().once('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const found = probe.address().port;
      probe.close(() => resolve(found));
    });
  });
}

let server;
const consumers = new Set();

function start(listenPort) {
  server = new EmberServer({ host: '127.0.0.1', port: listenPort, tree });
  server.server.on('connection', (client) => {
    consumers.add(client);
    client.on('disconnected', () => consumers.delete(client));
  });
  server.on('error', (e) => process.stderr.write(`provider error: ${e.message}\n`));
  server.on('clientError', (info) => process.stderr.write(`consumer error: ${info.error}\n`));
  return server.listen().then(() => listenPort);
}

function run(line) {
  const words = line.trim().split(/\s+/);
  switch (words[0]) {
    case 'label': {
      const list = words[1] === 'target' ? 1 : words[1] === 'source' ? 2 : 0;
      const parameter = list ? tree.getElementByPath(`${LABELS_PATH}.${list}.${Number(words[2])}`) : null;
      if (!parameter) return `error no such label: ${line}`;
      server.setValue(parameter, words.slice(3).join(' '));
      return `ok ${line}`;
    }
    case 'route':
      server.matrixSet(MATRIX_PATH, Number(words[1]), [Number(words[2])]);
      return `ok ${line}`;
    case 'frame':
    case 'raw': {
      const bytes = Buffer.from(words[1], 'hex');
      const out = words[0] === 'raw' ? bytes : S101Codec.makeBERFrame(SINGLE_PACKET, bytes);
      for (const client of consumers) client.socket.write(out);
      return `ok ${line}`;
    }
    case 'clients':
      return `clients ${consumers.size}`;
    case 'quit':
      for (const client of consumers) client.socket.destroy();
      server.closeAsync().catch(() => {}).finally(() => process.exit(0));
      return `ok ${line}`;
    default:
      return `error unknown command: ${line}`;
  }
}

(port ? Promise.resolve(port) : freePort())
  .then(start)
  .then((listening) => {
    process.stdout.write(`listening ${listening}\n`);
    readline.createInterface({ input: process.stdin }).on('line', (line) => {
      if (line.trim() === '') return;
      let answer;
      try {
        answer = run(line);
      } catch (e) {
        answer = `error ${e.message}`;
      }
      process.stdout.write(`${answer}\n`);
    });
  })
  .catch((e) => {
    process.stderr.write(`cannot listen: ${e.message}\n`);
    process.exit(1);
  });
