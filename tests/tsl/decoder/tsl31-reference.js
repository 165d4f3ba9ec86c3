'use strict';
// A reading of TSL UMD 3.1 messages written from the wire layout, not from
// the host's encoder: 18 bytes each, a header of 0x80 + address (0 to 126),
// a control byte (tallies 1 to 4 in bits 0 to 3, brightness in bits 4 and
// 5, bits 6 and 7 zero) and 16 characters of printable ASCII. Anything else
// throws.

const MESSAGE_BYTES = 18;
const HEADER_BASE = 0x80;
const NO_ADDRESS = 0xff;

function decodeMessage(bytes) {
  const header = bytes[0];
  if (header < HEADER_BASE || header === NO_ADDRESS) {
    throw new Error(`header byte 0x${header.toString(16)} is no display address`);
  }
  const control = bytes[1];
  if ((control & 0xc0) !== 0) throw new Error(`control byte 0x${control.toString(16)} has bit 6 or 7 set`);
  const text = bytes.subarray(2, MESSAGE_BYTES);
  if (text.some((b) => b < 0x20 || b > 0x7e)) throw new Error(`text ${JSON.stringify(text.toString('latin1'))} is not printable ASCII`);
  return {
    address: header - HEADER_BASE,
    tallies: [0, 1, 2, 3].map((bit) => (control >> bit) & 1),
    brightness: (control >> 4) & 3,
    text: text.toString('latin1'),
  };
}

// Every message of one datagram.
function decodeDatagram(datagram) {
  if (datagram.length === 0 || datagram.length % MESSAGE_BYTES !== 0) {
    throw new Error(`a datagram of ${datagram.length} bytes is not whole messages`);
  }
  const messages = [];
  for (let at = 0; at < datagram.length; at += MESSAGE_BYTES) {
    messages.push(decodeMessage(datagram.subarray(at, at + MESSAGE_BYTES)));
  }
  return messages;
}

// Messages back to back on a serial line, read in whatever pieces arrive.
// A reader that starts in the middle of a message finds the next one by its
// header, the only byte of a message with the top bit set; from there on
// every byte is checked.
class StreamReader {
  constructor() {
    this.pending = Buffer.alloc(0);
    this.synced = false;
  }

  push(chunk) {
    this.pending = Buffer.concat([this.pending, chunk]);
    if (!this.synced) {
      const start = this.pending.findIndex((b) => b >= HEADER_BASE);
      if (start < 0) {
        this.pending = Buffer.alloc(0);
        return [];
      }
      this.pending = this.pending.subarray(start);
      this.synced = true;
    }
    const messages = [];
    while (this.pending.length >= MESSAGE_BYTES) {
      messages.push(decodeMessage(this.pending.subarray(0, MESSAGE_BYTES)));
      this.pending = this.pending.subarray(MESSAGE_BYTES);
    }
    return messages;
  }
}

// What 16-character displays show for a printable-ASCII name.
function fit(name) {
  return (name + ' '.repeat(16)).slice(0, 16);
}

module.exports = { MESSAGE_BYTES, decodeMessage, decodeDatagram, StreamReader, fit };
