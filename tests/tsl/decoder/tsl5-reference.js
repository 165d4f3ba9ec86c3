'use strict';
// A second reading of TSL UMD 5.0 packets, written from the wire layout, for
// what the npm decoder does not read: it decodes only the first display
// message of a packet and reads its text as ASCII up to the packet's end.

const DLE = 0xfe;
const STX = 0x02;
const FLAG_UTF16 = 0x01;

// Splits a byte stream into its frames. Each frame keeps its DLE/STX and
// its stuffing, as a receiver would hand it to a packet decoder.
function splitFrames(stream) {
  const starts = [];
  for (let i = 0; i + 1 < stream.length; i++) {
    if (stream[i] !== DLE) continue;
    if (stream[i + 1] === STX) {
      starts.push(i);
      i++;
    } else if (stream[i + 1] === DLE) {
      i++;
    } else {
      throw new Error(`lone DLE at byte ${i}`);
    }
  }
  if (starts[0] !== 0 && stream.length > 0) throw new Error('stream does not start with DLE/STX');
  return starts.map((start, k) => stream.subarray(start, k + 1 < starts.length ? starts[k + 1] : stream.length));
}

// The packet inside one frame: DLE/STX removed and every DLE DLE made one.
function unframe(frame) {
  const out = [];
  for (let i = 2; i < frame.length; i++) {
    out.push(frame[i]);
    if (frame[i] === DLE) i++;
  }
  return Buffer.from(out);
}

// All display messages of one unframed packet; throws on any inconsistency.
function decodePacket(packet) {
  const pbc = packet.readUInt16LE(0);
  if (pbc + 2 !== packet.length) throw new Error(`PBC ${pbc} does not match ${packet.length} bytes`);
  const packetInfo = {
    version: packet[2],
    flags: packet[3],
    screen: packet.readUInt16LE(4),
    messages: [],
  };
  const utf16 = (packetInfo.flags & FLAG_UTF16) !== 0;
  let at = 6;
  while (at < packet.length) {
    const index = packet.readUInt16LE(at);
    const control = packet.readUInt16LE(at + 2);
    const length = packet.readUInt16LE(at + 4);
    at += 6;
    if (at + length > packet.length) throw new Error(`message at ${at - 6} overruns the packet`);
    const bytes = packet.subarray(at, at + length);
    at += length;
    if (!utf16 && bytes.some((b) => b >= 0x80)) throw new Error(`non-ASCII byte in an ASCII packet`);
    packetInfo.messages.push({
      index,
      control,
      brightness: (control >> 6) & 3,
      text: utf16 ? bytes.toString('utf16le') : bytes.toString('latin1'),
    });
  }
  return packetInfo;
}

module.exports = { splitFrames, unframe, decodePacket };
