// The page's workers, each with its own instance of the converter compiled to
// WebAssembly. Appended to the module's own loader, so Module and HEAPU8 are
// in scope. One worker, the keeper, holds the block sort's pivot state: it
// takes the dropped files in order, does every step that must follow the
// order of draws, hands the other blocks out to the helpers (and itself),
// puts their frames back in order into the document, and posts progress and
// results to the page. A helper codes the blocks it is handed, which need no
// state, each read straight from the dropped file.
'use strict';

// Documents kept as files in the origin's private file system, written in
// place from the keeper with a synchronous handle: the browser then copies
// a document once, to disk, where a Blob built of memory pages costs it
// several copies across processes (about ten times the CPU). A page opened
// from disk has no such storage, and the pages serve instead.
//
// Each open page keeps its documents in a folder of its own and holds a
// lock named after it while it lives; a folder whose lock nobody holds is
// a closed page's, and goes when the next page starts.
const documentFiles = (() => {
  const lockPrefix = 'dls2mml-documents/';
  let folder = null;   // this page's folder, once it is known to work
  let broken = false;  // no storage here: the pages serve
  let serial = 0;

  async function sweep(parent) {
    const held = new Set(((await navigator.locks.query()).held || []).map((lock) => lock.name));
    for await (const name of parent.keys()) {
      if (!held.has(lockPrefix + name)) await parent.removeEntry(name, {recursive: true}).catch(() => {});
    }
  }

  async function ownFolder() {
    const parent = await (await navigator.storage.getDirectory()).getDirectoryHandle('dls2mml-documents', {create: true});
    const name = `${Date.now().toString(36)}-${Math.random().toString(36).slice(2)}`;
    // Held until the page closes: the callback's promise never settles.
    await new Promise((granted, refused) => {
      navigator.locks.request(lockPrefix + name, () => {
        granted();
        return new Promise(() => {});
      }).catch(refused);
    });
    await sweep(parent);
    return parent.getDirectoryHandle(name, {create: true});
  }

  // Closes a file that will not be a document and removes it.
  function discard(file) {
    try {
      file.access.close();
    } catch (error) {
      // already closed
    }
    folder.removeEntry(file.handle.name).catch(() => {});
  }

  return {
    // A new empty file open for writing: {handle, access}, or null where
    // there is no such storage.
    async create() {
      if (broken) return null;
      try {
        if (!folder) folder = await ownFolder();
        const handle = await folder.getFileHandle(`document-${++serial}`, {create: true});
        const access = await handle.createSyncAccessHandle();
        // Browsers of 2022 gave the handle's size and truncation as promises,
        // which the converter's calls cannot wait for: the pages serve there.
        if (typeof access.getSize() !== 'number') {
          broken = true;
          discard({handle, access});
          return null;
        }
        return {handle, access};
      } catch (error) {
        broken = !folder; // storage that worked once is tried again
        return null;
      }
    },
    // The file as it stands (a File, which is a Blob), or null.
    async finish(file) {
      try {
        file.access.close();
        return await file.handle.getFile();
      } catch (error) {
        return null;
      }
    },
    drop: discard,
  };
})();

// The file calls of file_system_web.cpp and the reports of web_entry.cpp.
var webIo = (() => {
  const pageSize = 1 << 20;
  const reader = new FileReaderSync();
  let input = null;
  let inputPosition = 0;
  let job = null; // {id, lastProgress}
  // The output in pages of pageSize bytes. A page is bytes (an Uint8Array)
  // while it may still change; once every byte of it has been written and
  // it is not the first (whose head the document writes last), it becomes a
  // Blob of those bytes, made while the helpers code on, so that committing
  // the document copies little and the page's memory serves again. A sealed
  // page written or read again is first read back (only when the document's
  // head changes length and its text moves).
  let pages = [];
  let filled = []; // bytes written from each page's start with no gap
  let length = 0;
  // Pages to use again: fresh memory costs more to touch than to copy into.
  const spare = [];
  const spareMost = 8;
  let committed = null;
  // The document's file where documentFiles has one (prepared before the
  // job: opening it waits, and the converter's calls cannot); else null and
  // the pages hold it.
  let file = null;
  let report = null;
  let listing = null; // the bank's instruments, for the page's chooser
  const kept = new Map(); // key: File
  let keys = new WeakMap(); // File: key
  let replay = null; // the earlier file being read again: {file, position}

  function post(message) { self.postMessage(message); }

  function progress() {
    const now = performance.now();
    if (inputPosition < input.size && now - job.lastProgress < 50) return;
    job.lastProgress = now;
    post({type: 'progress', id: job.id, done: inputPosition, total: input.size});
  }

  function takePage() {
    const page = spare.pop();
    if (!page) return new Uint8Array(pageSize);
    page.fill(0);
    return page;
  }
  function release(page) {
    if (page instanceof Uint8Array && spare.length < spareMost) spare.push(page);
  }
  function releaseAll() {
    pages.forEach(release);
    pages = [];
    filled = [];
    length = 0;
  }
  // The page at index as bytes, read back if sealed; a missing page is made
  // when make is set.
  function bytesOf(index, make) {
    let page = pages[index];
    if (page instanceof Blob) {
      const bytes = new Uint8Array(reader.readAsArrayBuffer(page));
      page = takePage();
      page.set(bytes);
      pages[index] = page;
    } else if (!page && make) {
      page = pages[index] = takePage();
      filled[index] = 0;
    }
    return page;
  }

  // Runs fn(place, page offset, page, piece length, page index) over the
  // pages covering [offset, offset + count), making missing pages when make
  // is set.
  function eachPiece(offset, count, make, fn) {
    let done = 0;
    while (done < count) {
      const at = offset + done;
      const index = Math.floor(at / pageSize);
      const within = at - index * pageSize;
      const n = Math.min(pageSize - within, count - done);
      fn(done, within, bytesOf(index, make), n, index);
      done += n;
    }
  }

  return {
    async prepare() {
      file = await documentFiles.create();
    },
    start(id, chosen) {
      input = chosen;
      inputPosition = 0;
      job = {id, lastProgress: -Infinity};
      committed = null;
      report = null;
      listing = null;
    },
    async finishJob() {
      let blob = committed;
      if (file) {
        if (committed) {
          blob = await documentFiles.finish(file);
          if (!blob && report) Object.assign(report, {ok: false, reason: 'the browser could not keep the document'});
        } else {
          documentFiles.drop(file);
        }
      }
      const result = {report, blob, listing};
      listing = null;
      input = null;
      job = null;
      committed = null;
      file = null;
      releaseAll();
      return result;
    },
    inputSize() { return input ? input.size : -1; },
    inputRead(pointer, count) {
      try {
        const end = Math.min(input.size, inputPosition + count);
        if (end <= inputPosition) return 0;
        const bytes = new Uint8Array(reader.readAsArrayBuffer(input.slice(inputPosition, end)));
        HEAPU8.set(bytes, pointer);
        inputPosition += bytes.length;
        progress();
        return bytes.length;
      } catch (error) {
        return -1;
      }
    },
    outputOpen() {
      releaseAll();
      if (file) file.access.truncate(0);
      return 1;
    },
    outputWriteAt(offset, pointer, count) {
      if (file) {
        try {
          return file.access.write(HEAPU8.subarray(pointer, pointer + count), {at: offset}) === count ? 1 : 2;
        } catch (error) {
          return 2; // no room left in the browser's storage
        }
      }
      try {
        eachPiece(offset, count, true, (done, within, page, n, index) => {
          page.set(HEAPU8.subarray(pointer + done, pointer + done + n), within);
          if (within <= filled[index]) filled[index] = Math.max(filled[index], within + n);
          if (index > 0 && filled[index] === pageSize) {
            pages[index] = new Blob([page]);
            release(page);
          }
        });
        length = Math.max(length, offset + count);
        return 1;
      } catch (error) {
        return 0; // no memory for another page
      }
    },
    outputReadAt(offset, pointer, count) {
      if (file) {
        try {
          return file.access.read(HEAPU8.subarray(pointer, pointer + count), {at: offset}) === count ? 1 : 0;
        } catch (error) {
          return 0;
        }
      }
      if (offset + count > length) return 0;
      eachPiece(offset, count, false, (done, within, page, n) => {
        if (page) HEAPU8.set(page.subarray(within, within + n), pointer + done);
        else HEAPU8.fill(0, pointer + done, pointer + done + n);
      });
      return 1;
    },
    outputTruncate(newLength) {
      if (file) {
        if (newLength < file.access.getSize()) file.access.truncate(newLength);
        return;
      }
      length = Math.min(length, newLength);
      const kept = Math.ceil(length / pageSize);
      pages.slice(kept).forEach(release);
      pages.length = Math.min(pages.length, kept);
      filled.length = Math.min(filled.length, kept);
      if (kept > 0 && pages[kept - 1]) {
        const end = length - (kept - 1) * pageSize;
        bytesOf(kept - 1, false).fill(0, end);
        filled[kept - 1] = Math.min(filled[kept - 1], end);
      }
    },
    outputCommit() {
      if (file) {
        committed = true; // the file becomes the Blob when the job finishes
        return;
      }
      const parts = [];
      for (let index = 0; index * pageSize < length; ++index) {
        const page = pages[index] || new Uint8Array(pageSize);
        // A sealed page is whole, and only the last may be short.
        parts.push(page instanceof Blob ? page : page.subarray(0, Math.min(pageSize, length - index * pageSize)));
      }
      committed = new Blob(parts, {type: 'application/octet-stream'});
      releaseAll();
    },
    outputDiscard() {
      releaseAll();
      if (file) file.access.truncate(0);
    },
    converted(ok, reason, name, inputBytes, streamBytes, documentBytes, stateUnknown) {
      report = {ok: !!ok, reason, name, inputBytes, streamBytes, documentBytes, stateUnknown: !!stateUnknown};
    },
    // The banks converted, each under its key (its name, made unique), for
    // the ledger's replays.
    keep(file) {
      if (keys.has(file)) return;
      let key = file.name;
      for (let n = 2; kept.has(key); ++n) key = `${file.name} (${n})`;
      keys.set(file, key);
      kept.set(key, file);
    },
    keyOf(file) { return keys.get(file); },
    forgetKept() {
      kept.clear();
      keys = new WeakMap();
    },
    replayOpen(key) {
      replay = kept.has(key) ? {file: kept.get(key), position: 0} : null;
      return replay ? replay.file.size : -1;
    },
    replayRead(pointer, count) {
      try {
        const end = Math.min(replay.file.size, replay.position + count);
        if (end <= replay.position) return 0;
        const bytes = new Uint8Array(reader.readAsArrayBuffer(replay.file.slice(replay.position, end)));
        HEAPU8.set(bytes, pointer);
        replay.position += bytes.length;
        return bytes.length;
      } catch (error) {
        return -1; // changed or gone since it was chosen
      }
    },
    chosen(wholeBankBytes, instrumentsKept, instrumentsInBank) {
      Object.assign(report, {wholeBankBytes, instrumentsKept, instrumentsInBank});
    },
    listed(json) {
      listing = JSON.parse(json);
    },
    decoded(ok, fault, name, bankBytes) {
      report = {ok: !!ok, reason: fault, name, bankBytes};
    },
  };
})();

// Reads one slice of a file, waiting for it: its bytes, or null when the
// browser cannot read it (the file changed or is gone).
const readSlice = (() => {
  const reader = new FileReaderSync();
  return (file, from, length) => {
    try {
      return reader.readAsArrayBuffer(file.slice(from, from + length));
    } catch (error) {
      return null;
    }
  };
})();

// Reads a file front to back, a slice of the given length at a time, from the
// browser's stream of it: a few large chunks through one channel cost the
// browser a third of the CPU that a read per slice does. Where the stream
// lets us, the chunks land straight in the slice's memory.
function streamSlices(file) {
  const stream = file.stream();
  let bytesReader = null;
  let chunkReader = null;
  try {
    bytesReader = stream.getReader({mode: 'byob'});
  } catch (error) {
    chunkReader = stream.getReader();
  }
  let rest = new Uint8Array(0); // of the last chunk, not yet in a slice
  async function fill(buffer, length) {
    let filled = 0;
    while (filled < length) {
      if (bytesReader) {
        const {done, value} = await bytesReader.read(new Uint8Array(buffer, filled, length - filled));
        if (done) break;
        buffer = value.buffer;
        filled += value.byteLength;
      } else {
        if (!rest.length) {
          const {done, value} = await chunkReader.read();
          if (done) break;
          rest = value;
        }
        const n = Math.min(rest.length, length - filled);
        new Uint8Array(buffer, filled, n).set(rest.subarray(0, n));
        rest = rest.subarray(n);
        filled += n;
      }
    }
    return filled === length ? buffer : null;
  }
  return {
    // The next length bytes (in reuse when it is an ArrayBuffer of that
    // length, else in a new one), or null when the browser cannot read them
    // (the file changed or is gone).
    next(length, reuse) {
      const buffer = reuse && reuse.byteLength === length ? reuse : new ArrayBuffer(length);
      return fill(buffer, length).catch(() => null);
    },
    close() {
      (bytesReader || chunkReader).cancel().catch(() => {});
    },
  };
}

// Codes one slice (an ArrayBuffer, or null when it could not be read) in this
// instance: {frame (an ArrayBuffer holding frameLength bytes)} or {failure}
// (codes of dls2mmlBlockFailure; 4: the slice could not be read). The frame
// goes into spare when it fits: memory touched before costs less than fresh.
function codeSlice(bytes, length, withState, spare) {
  if (!bytes || bytes.byteLength !== length) return {failure: 4};
  HEAPU8.set(new Uint8Array(bytes), Module._dls2mmlSliceRoom());
  const frameLength = Module._dls2mmlCodeBlock(length, withState ? 1 : 0);
  const halves = Module._dls2mmlSliceDigest() >> 2;
  const digest = [HEAPU32[halves], HEAPU32[halves + 1]];
  if (!frameLength) return {failure: Module._dls2mmlBlockFailure(), digest};
  const at = Module._dls2mmlFrame();
  const frame = spare && spare.byteLength >= frameLength ? spare : new ArrayBuffer(Math.ceil(frameLength / 65536) * 65536);
  new Uint8Array(frame, 0, frameLength).set(HEAPU8.subarray(at, at + frameLength));
  return {frame, frameLength, digest};
}

// A helper: codes the blocks the keeper hands it, each on its own, with the
// slice's bytes read by the keeper (a read in a worker moves only while that
// worker's event loop turns, which a helper's does not while it codes).
function helperRole(keeper) {
  let lastEnd = -1;
  let lastJob = 0;
  keeper.onmessage = ({data: block}) => {
    const began = performance.now();
    if (block.job !== lastJob) lastEnd = -1;
    lastJob = block.job;
    // The keeper sends back the memory of frames it has taken, to be filled again.
    const result = codeSlice(block.bytes, block.length, false, block.spare);
    const ended = performance.now();
    // The coding time and the idle gap before it, for the keeper's timing.
    result.spent = [ended - began, lastEnd < 0 ? 0 : began - lastEnd];
    lastEnd = ended;
    // The slice's memory goes back too, for the keeper to read into again.
    result.slice = block.bytes;
    keeper.postMessage(Object.assign({job: block.job, index: block.index}, result),
      [result.frame, result.slice].filter((buffer) => buffer));
  };
  warmUp();
  keeper.postMessage({type: 'ready'});
}

// Codes one slice of made-up bytes, with the sort that draws nothing (the
// pivot state is the keeper's and stays untouched), before the first drop:
// the engine then runs the coder's optimized code from the first real block
// on, and the instance's memory has grown to what a block needs.
function warmUp() {
  const length = Module._dls2mmlSliceBytes();
  const bytes = new Uint8Array(length);
  for (let i = 0, x = 2463534242; i < length; ++i) {
    x ^= x << 13;
    x ^= x >>> 17;
    x ^= x << 5;
    bytes[i] = x & 0xFF;
  }
  codeSlice(bytes.buffer, length, false);
}

// The ledger of owed draws (shell/pivot_ledger.h) lives in the keeper's
// instance: the blocks a bank coded without drawing are recorded there with
// their digests, and before the next block that needs the pivot state the
// ledger reads their files again by key (webIo.replayOpen), checks them and
// draws for them in order. An earlier file that changed or is gone leaves the
// state unknown until the page starts afresh.
const owedDraws = {
  // digests: [low, high] halves of each block's CRC-64, by block index.
  owe(key, file, fromBlock, toBlock, digests) {
    const count = toBlock - fromBlock;
    if (count <= 0) return;
    const room = Module._dls2mmlDigestRoom(count) >> 2;
    for (let i = 0; i < count; ++i) {
      HEAPU32[room + 2 * i] = digests[fromBlock + i][0];
      HEAPU32[room + 2 * i + 1] = digests[fromBlock + i][1];
    }
    Module.ccall('dls2mmlLedgerOwe', null, ['string', 'number', 'number', 'number'], [key, file.size, fromBlock, count]);
  },
  // Draws everything owed; false when the state cannot be known.
  settle() { return !!Module._dls2mmlLedgerSettle(); },
  // Draws were made that no replay can give again.
  lost(why) { Module.ccall('dls2mmlLedgerUnknown', null, ['string'], [why]); },
};

// The keeper: the files in order, each bank's blocks spread over the pool.
function keeperRole(helperPorts, early) {
  const queue = early;
  const sliceBytes = Module._dls2mmlSliceBytes();
  const helpers = [];   // {port, outstanding (blocks handed to it), ready}
  let jobSerial = 0;
  let wake = null;      // resolves when a helper's frame or a slice arrives
  let current = null;   // the bank being converted: its frames by index

  for (const port of helperPorts) {
    const helper = {port, outstanding: 0, ready: false};
    port.onmessage = ({data}) => {
      if (data.type === 'ready') {
        helper.ready = true;
      } else {
        --helper.outstanding;
        if (data.slice && spareSlices.length < ahead) spareSlices.push(data.slice);
        if (current && data.job === current.job) {
          current.frames.set(data.index, data);
          timing.helper += data.spent[0] / 1000;
          timing.helperIdle += data.spent[1] / 1000;
          ++timing.helperBlocks;
        }
      }
      if (wake) wake();
    };
    helpers.push(helper);
  }

  const post = (message, transfer) => self.postMessage(message, transfer || []);
  // A turn of the event loop, so that the helpers' frames come in.
  const channel = new MessageChannel();
  let turnDone = null;
  channel.port1.onmessage = () => turnDone();
  const nextTurn = () => new Promise((resolve) => {
    turnDone = resolve;
    channel.port2.postMessage(0);
  });
  const arrival = () => new Promise((resolve) => {
    wake = () => {
      wake = null;
      resolve();
    };
  });

  // The converter's own rule tells banks from documents (dls2mmlKindOfName).
  function kindOf(name) {
    return ['skipped', 'bank', 'document'][Module.ccall('dls2mmlKindOfName', 'number', ['string'], [name])];
  }

  // The first bytes of the bank last converted (kept from its first slice).
  let bankHead = new Uint8Array(0);
  // The bank starts as a RIFF 'DLS ' form.
  function isDlsForm(head) {
    return head.length === 12 && String.fromCharCode(...head.subarray(0, 4)) === 'RIFF' &&
      String.fromCharCode(...head.subarray(8, 12)) === 'DLS ';
  }

  // Blocks handed to a helper and not yet back: one coding, the next ones
  // being read meanwhile (and one more for the time a frame takes to come
  // back and the next block to go out).
  const depth = 3;
  // Blocks in flight ahead of the one the document takes next, at most.
  const ahead = Math.max(8, (depth + 1) * helpers.length);
  // Frames' memory, taken into the document and going back to a helper.
  const spareFrames = [];
  const spareFramesMost = depth * helpers.length;
  // Slices' memory, back from the helpers, to read the next slices into.
  const spareSlices = [];

  // A whole bank. Every block is first coded without the pivot state, over
  // the pool: a block whose rotations are all distinct has one sorted order,
  // whatever the draws, so its frame is final. A block with equal rotations
  // comes back refused, and when the document reaches it, the keeper draws
  // what is owed (earlier files' blocks, then this one's before it) and
  // codes it with the state. The frames go into the document in order.
  async function convertBank(id, file, key) {
    if (!Module.ccall('dls2mmlAssemblyStart', 'number', ['string', 'number'], [file.name, file.size])) return;
    const job = ++jobSerial;
    current = {job, frames: new Map()};
    bankHead = new Uint8Array(0);
    const digests = [];
    const blocks = Math.ceil(file.size / sliceBytes);
    timing.blocks = blocks;
    const lengthOf = (index) => Math.min(sliceBytes, file.size - index * sliceBytes);
    let readOut = 0;       // the next block whose slice to read
    const read = new Map(); // slices read and not yet handed out: bytes (null: unreadable) by index
    let handedOut = 0;     // the next block to code
    let added = 0;         // frames in the document
    let drawn = 0;         // this bank's blocks before this one have drawn (or been owed)
    let lastProgress = -Infinity;
    let failure = 0;
    let refused = false;   // the document took no more: its finish says why
    let stateUnknown = false;
    // Slices are read here in order, without waiting (this worker's event
    // loop turns while the helpers code), at most ahead blocks past the document.
    const room = () => readOut < blocks && readOut < added + ahead;
    const slices = streamSlices(file);
    let reading = false;
    const readAhead = async () => {
      if (reading) return;
      reading = true;
      while (room()) {
        const index = readOut++;
        const bytes = await slices.next(lengthOf(index), spareSlices.pop());
        if (!current || current.job !== job) break;
        if (index === 0 && bytes) bankHead = new Uint8Array(bytes.slice(0, 12));
        read.set(index, bytes);
        if (wake) wake();
      }
      reading = false;
    };
    // The block at added needs the state: settle what is owed, then code it in order.
    const codeWithState = () => {
      const settling = performance.now();
      owedDraws.owe(key, file, drawn, added, digests);
      const known = owedDraws.settle();
      timing.owed += (performance.now() - settling) / 1000;
      if (!known) return null;
      drawn = added + 1;
      return codeSlice(readSlice(file, added * sliceBytes, lengthOf(added)), lengthOf(added), true);
    };
    while (added < blocks && !failure && !refused) {
      readAhead();
      for (const helper of helpers) {
        while (helper.ready && helper.outstanding < depth && read.has(handedOut)) {
          const bytes = read.get(handedOut);
          read.delete(handedOut);
          ++helper.outstanding;
          const spare = spareFrames.pop();
          helper.port.postMessage({job, index: handedOut, bytes, length: lengthOf(handedOut), spare},
            [bytes, spare].filter((buffer) => buffer));
          ++handedOut;
        }
      }
      // The keeper codes blocks itself only in a pool without helpers: else
      // it stays free to hand blocks out the moment a helper sends a frame.
      let index = -1;
      if (!helpers.length && read.has(handedOut)) {
        index = handedOut++;
        const coding = performance.now();
        current.frames.set(index, codeSlice(read.get(index), lengthOf(index), false));
        read.delete(index);
        timing.keeper += (performance.now() - coding) / 1000;
        ++timing.keeperBlocks;
      }
      const assembling = performance.now();
      for (let next = current.frames.get(added); next; next = current.frames.get(added)) {
        current.frames.delete(added);
        digests[added] = next.digest;
        if (next.failure === 1) next = codeWithState();
        if (!next) {
          stateUnknown = true;
          failure = 1;
          break;
        }
        if (next.failure) {
          failure = next.failure;
          break;
        }
        const frame = new Uint8Array(next.frame, 0, next.frameLength);
        HEAPU8.set(frame, Module._dls2mmlFrameRoom(frame.length));
        if (spareFrames.length < spareFramesMost) spareFrames.push(next.frame);
        if (!Module._dls2mmlAssemblyAdd(frame.length, lengthOf(added))) {
          refused = true;
          break;
        }
        ++added;
      }
      timing.assembly += (performance.now() - assembling) / 1000;
      if (failure || refused || added === blocks) break;
      if (performance.now() - lastProgress >= 50) {
        lastProgress = performance.now();
        post({type: 'progress', id, done: added * sliceBytes, total: file.size});
      }
      // Coded a block here: let the reads and frames in; else wait for one.
      const waiting = performance.now();
      await (index >= 0 ? nextTurn() : arrival());
      timing[index >= 0 ? 'turns' : 'waiting'] += (performance.now() - waiting) / 1000;
    }
    current = null;
    slices.close();
    if (stateUnknown) {
      Module._dls2mmlAssemblyStateUnknown();
      return;
    }
    if (failure) {
      // Where the draws stopped is no run's: the state is unknown from here.
      owedDraws.lost(`${key} stopped part-way through its conversion`);
      Module._dls2mmlAssemblyAbandon(failure);
      return;
    }
    owedDraws.owe(key, file, drawn, blocks, digests);
    if (!refused) post({type: 'progress', id, done: file.size, total: file.size});
    const finishing = performance.now();
    Module._dls2mmlAssemblyFinish();
    timing.finish = (performance.now() - finishing) / 1000;
  }

  // list: the instruments to keep (as --instruments takes them), or none.
  // Where a bank's time went, in seconds, for the page's timing line.
  let timing = {};

  async function runFile(id, file, list) {
    timing = {owed: 0, keeper: 0, keeperBlocks: 0, blocks: 0, helper: 0, helperIdle: 0, helperBlocks: 0,
      assembly: 0, turns: 0, waiting: 0, finish: 0};
    const kind = kindOf(file.name);
    if (kind === 'skipped') {
      post({type: 'skipped', id});
      return;
    }
    post({type: 'started', id, kind, total: file.size});
    await webIo.prepare();
    webIo.start(id, file);
    const began = performance.now();
    if (kind === 'bank') webIo.keep(file);
    if (kind === 'bank' && list) {
      // A cut bank is small: the conversion job does it all here, with the ledger.
      Module.ccall('dls2mmlConvertInstruments', 'number', ['string', 'string', 'string'],
        [file.name, webIo.keyOf(file), list]);
    } else if (kind === 'bank') {
      await convertBank(id, file, webIo.keyOf(file));
    } else {
      Module.ccall('dls2mmlDecode', 'number', ['string'], [file.name]);
    }
    const seconds = (performance.now() - began) / 1000;
    const {report, blob} = await webIo.finishJob();
    // A whole DLS bank converted: its instruments can be chosen from (listed
    // when the page asks, since that reads the bank whole).
    const choosable = kind === 'bank' && !list && report.ok && isDlsForm(bankHead);
    post(Object.assign({type: 'finished', id, kind, seconds, timing, list: list || null, choosable}, report,
      {blob: report.ok ? blob : null}));
  }

  // The instruments of a converted bank, for the page's chooser; null when
  // they cannot be read.
  async function listFile(id, file) {
    webIo.start(id, file);
    Module.ccall('dls2mmlListInstruments', 'number', ['string'], [file.name]);
    const {listing} = await webIo.finishJob();
    post({type: 'listing', id, listing});
  }

  async function handle(message) {
    if (message.type === 'files') {
      for (let index = 0; index < message.files.length; ++index) {
        await runFile(message.ids[index], message.files[index], message.lists && message.lists[index]);
      }
    } else if (message.type === 'list') {
      await listFile(message.id, message.file);
    } else if (message.type === 'fresh') {
      Module._dls2mmlFreshState(); // the ledger too
      webIo.forgetKept();
      post({type: 'fresh'});
    }
  }

  let draining = false;
  async function drain() {
    if (draining) return;
    draining = true;
    while (queue.length) await handle(queue.shift());
    draining = false;
  }
  self.onmessage = (event) => {
    queue.push(event.data);
    drain();
  };
  post({type: 'ready'});
  drain();
}

// The page gives each worker its role once the instance is ready.
(() => {
  let role = null;
  let started = false;
  const early = []; // the page's messages before the role began
  let begun = false;
  function begin() {
    if (!started || !role || begun) return;
    begun = true;
    if (role.role === 'keeper') keeperRole(role.helpers, early);
    else helperRole(role.keeper);
  }
  self.onmessage = (event) => {
    if (role) early.push(event.data);
    else role = event.data;
    begin();
  };
  function start() {
    started = true;
    begin();
  }
  if (runtimeInitialized) start();
  else Module.onRuntimeInitialized = start;
})();
