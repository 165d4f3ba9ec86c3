'use strict';
// Loopback display receivers for the tests (UDP and TCP): each packet is
// read by the reference reading (every message) and by the npm decoder
// tsl-umd-v5, whose first message must agree.

const assert = require('node:assert/strict');
const dgram = require('node:dgram');
const net = require('node:net');
const TSL5 = require('tsl-umd-v5');
const { splitFrames, unframe, decodePacket } = require('./tsl5-reference');

// What each receiver has seen, display index -> {text, brightness, lamps}
// (lamps: the control word's tally bits, RH 0-1, text 2-3, LH 4-5); later
// messages supersede earlier ones, as on a real display. Every packet is
// also read by the npm decoder, whose first message must agree.
class Receiver {
  constructor() {
    this.shown = new Map();
    this.packets = 0;
    // Screen index -> the display indexes of every message sent with it
    // (hosts that share a receiver tell themselves apart by screen).
    this.screens = new Map();
  }
  take(packetBytes, raw) {
    const packet = decodePacket(packetBytes);
    const decoded = [];
    const umd = new TSL5();
    umd.on('message', (tally) => decoded.push(tally));
    umd.processTally(raw, '127.0.0.1');
    assert.equal(decoded.length, 1);
    assert.equal(decoded[0].index, packet.messages[0].index, 'npm decoder index');
    assert.equal(decoded[0].display.brightness, packet.messages[0].brightness, 'npm brightness');
    const lamps = packet.messages[0].control;
    assert.equal(decoded[0].display.rh_tally, lamps & 3, 'npm decoder right-hand tally');
    assert.equal(decoded[0].display.text_tally, (lamps >> 2) & 3, 'npm decoder text tally');
    assert.equal(decoded[0].display.lh_tally, (lamps >> 4) & 3, 'npm decoder left-hand tally');
    if (packet.messages.length === 1 && (packet.flags & 1) === 0) {
      assert.equal(decoded[0].display.text, packet.messages[0].text, 'npm decoder text');
    }
    for (const m of packet.messages) {
      this.shown.set(m.index, { text: m.text, brightness: m.brightness, lamps: m.control & 0x3f });
    }
    if (!this.screens.has(packet.screen)) this.screens.set(packet.screen, []);
    this.screens.get(packet.screen).push(...packet.messages.map((m) => m.index));
    this.packets++;
  }
  matches(wall) {
    return wall.displays.every(
      (d) => this.shown.get(d.source - 1) && this.shown.get(d.source - 1).text === d.name);
  }
}

function udpReceiver() {
  return new Promise((resolve) => {
    const rx = new Receiver();
    const socket = dgram.createSocket('udp4');
    socket.on('message', (msg) => rx.take(msg, msg));
    socket.bind(0, '127.0.0.1', () => resolve({ rx, socket, port: socket.address().port }));
  });
}

function tcpReceiver() {
  return new Promise((resolve) => {
    const rx = new Receiver();
    let pending = Buffer.alloc(0);
    const server = net.createServer((conn) =>
      conn.on('data', (d) => {
        pending = Buffer.concat([pending, d]);
        const frames = splitFrames(pending);
        // The last frame may still be arriving: keep it until the next one starts.
        for (const frame of frames.slice(0, -1)) {
          const packet = unframe(frame);
          rx.take(packet, packet);
        }
        const last = frames[frames.length - 1];
        const packet = unframe(last);
        if (packet.length >= 2 && packet.readUInt16LE(0) + 2 === packet.length) {
          rx.take(packet, packet);
          pending = Buffer.alloc(0);
        } else {
          pending = Buffer.from(last);
        }
      }));
    server.listen(0, '127.0.0.1', () => resolve({ rx, server, port: server.address().port }));
  });
}

module.exports = { Receiver, udpReceiver, tcpReceiver };
