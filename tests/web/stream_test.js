// The keeper's reader of a dropped bank (streamSlices in web/worker.js), run
// in node over made-up streams: slices come out whole and in order whatever
// the chunks the browser hands over, through a byte reader and through a
// plain one, and a stream that ends short or fails gives no slice.
//
//   node stream_test.js
'use strict';
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');

// The worker's script with just enough of a worker around it.
const context = vm.createContext({
  Module: {}, runtimeInitialized: false, FileReaderSync: class {}, self: {}, performance, ArrayBuffer, Uint8Array,
});
vm.runInContext(fs.readFileSync(path.join(__dirname, '../../web/worker.js'), 'utf8'), context);
const {streamSlices} = context;

const bytesOf = (length) => Uint8Array.from({length}, (_, i) => (i * 7 + (i >> 8)) & 0xFF);

// A file whose stream hands out bytes in chunks of the given sizes (cycled),
// as a byte stream or a plain one; failAt: the stream fails once that many
// bytes are out.
function fileOf(bytes, chunks, {byteStream, failAt = Infinity}) {
  return {
    stream() {
      let at = 0;
      let turn = 0;
      const next = () => Math.min(chunks[turn++ % chunks.length], bytes.length - at);
      if (byteStream) {
        return new ReadableStream({
          type: 'bytes',
          pull(controller) {
            if (at >= failAt) return controller.error(new Error('file changed'));
            const request = controller.byobRequest;
            if (at === bytes.length) {
              controller.close();
              if (request) request.respond(0);
              return;
            }
            const n = Math.min(next(), request.view.byteLength);
            request.view.set(bytes.subarray(at, at + n));
            at += n;
            request.respond(n);
          },
        });
      }
      return new ReadableStream({
        pull(controller) {
          if (at >= failAt) return controller.error(new Error('file changed'));
          if (at === bytes.length) return controller.close();
          const n = next();
          controller.enqueue(bytes.slice(at, at + n));
          at += n;
        },
      });
    },
  };
}

async function slicesOf(file, lengths) {
  const reader = streamSlices(file);
  const out = [];
  for (const length of lengths) {
    const slice = await reader.next(length);
    out.push(slice && new Uint8Array(slice));
  }
  reader.close();
  return out;
}

// Slice lengths as a conversion asks them: whole slices, then a short last one.
const sliceLengths = (total, slice) =>
  Array.from({length: Math.ceil(total / slice)}, (_, i) => Math.min(slice, total - i * slice));

async function main() {
  const cases = [
    // [bytes, slice, chunk sizes]
    [100000, 4096, [1]], [100000, 4096, [4096]], [100000, 4096, [4095, 4097]], [100000, 4096, [65536]],
    [100000, 4096, [3, 100000]], [100000, 100000, [7, 9000]], [10, 4096, [65536]],
  ];
  let passed = 0;
  for (const byteStream of [true, false]) {
    for (const [total, slice, chunks] of cases) {
      const what = `${byteStream ? 'byte' : 'plain'} stream, ${total} bytes, slices of ${slice}, chunks ${chunks}`;
      const bytes = bytesOf(total);
      const lengths = sliceLengths(total, slice);
      const got = await slicesOf(fileOf(bytes, chunks, {byteStream}), lengths);
      got.forEach((piece, i) => assert.ok(piece && Buffer.from(piece).equals(bytes.subarray(i * slice, i * slice + lengths[i])),
        `${what}: slice ${i} is ${piece ? 'other bytes' : 'missing'}`));
      ++passed;
    }
    // Asking past the end, or a stream that fails, gives null, never a short slice.
    const bytes = bytesOf(10000);
    assert.deepEqual((await slicesOf(fileOf(bytes, [3000], {byteStream}), [6000, 6000]))[1], null);
    const failing = await slicesOf(fileOf(bytes, [1000], {byteStream, failAt: 5000}), [4096, 4096]);
    assert.equal(failing[0].length, 4096);
    assert.equal(failing[1], null);
    passed += 2;
  }
  console.log(`${passed} passed, 0 failed`);
}

main().catch((error) => {
  console.error(`FAIL ${error.message}`);
  process.exitCode = 1;
});
