'use strict';
// Runs provider.js, the node-emberplus router, for the tests: a child process
// whose output lines can be waited for, and the provider's stdin commands.

const assert = require('node:assert/strict');
const path = require('node:path');
const readline = require('node:readline');
const { spawn } = require('node:child_process');

const PROVIDER = path.join(__dirname, 'provider.js');
// Generous: a reconnect waits out the consumer's back-off.
const WAIT_MS = 30000;

// A child process whose stdout lines can be waited for.
class LineProcess {
  constructor(command, args) {
    this.lines = [];
    this.waiters = [];
    this.stderr = '';
    this.child = spawn(command, args, { stdio: ['pipe', 'pipe', 'pipe'] });
    this.exited = new Promise((resolve) => this.child.on('close', resolve));
    this.child.stderr.on('data', (d) => (this.stderr += d));
    readline.createInterface({ input: this.child.stdout }).on('line', (line) => {
      this.lines.push(line);
      this.waiters = this.waiters.filter((w) => !w.check());
    });
  }

  // The index of the first line from `from` on that matches `pattern`.
  waitFor(pattern, from = 0) {
    return new Promise((resolve, reject) => {
      const waiter = {
        check: () => {
          const i = this.lines.findIndex((l, n) => n >= from && pattern.test(l));
          if (i < 0) return false;
          clearTimeout(waiter.timer);
          resolve(i);
          return true;
        },
      };
      if (waiter.check()) return;
      waiter.timer = setTimeout(() => {
        this.waiters = this.waiters.filter((w) => w !== waiter);
        reject(new Error(`no line matching ${pattern} within ${WAIT_MS} ms; got:\n` +
          `${this.lines.slice(from).join('\n')}\n${this.stderr}`));
      }, WAIT_MS);
      this.waiters.push(waiter);
    });
  }

  async stop() {
    this.child.stdin.end();
    await this.exited;
  }
}

async function startProvider(port = 0) {
  const provider = new LineProcess(process.execPath, [PROVIDER, '--port', String(port)]);
  const i = await provider.waitFor(/^listening \d+$/);
  provider.port = Number(provider.lines[i].split(' ')[1]);
  return provider;
}

async function command(provider, line) {
  const from = provider.lines.length;
  provider.child.stdin.write(`${line}\n`);
  const i = await provider.waitFor(/^(ok|error) /, from);
  assert.equal(provider.lines[i], `ok ${line}`);
}

async function stopProvider(provider) {
  provider.child.stdin.write('quit\n');
  await provider.exited;
}

module.exports = { WAIT_MS, LineProcess, startProvider, command, stopProvider };
