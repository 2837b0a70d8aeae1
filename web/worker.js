// The page's worker: takes the dropped files in order, runs each through the
// converter compiled to WebAssembly and posts back progress and results.
// Appended to the module's own loader, so Module and HEAPU8 are in scope.
'use strict';

// The file calls of file_system_web.cpp and the reports of web_entry.cpp.
var webIo = (() => {
  const pageSize = 1 << 20;
  const reader = new FileReaderSync();
  let input = null;
  let inputPosition = 0;
  let job = null; // {id, lastProgress}
  let pages = [];
  let length = 0;
  let committed = null;
  let report = null;
  let listing = null; // the bank's instruments, for the page's chooser

  function post(message) { self.postMessage(message); }

  function progress() {
    const now = performance.now();
    if (inputPosition < input.size && now - job.lastProgress < 50) return;
    job.lastProgress = now;
    post({type: 'progress', id: job.id, done: inputPosition, total: input.size});
  }

  // Runs fn(place, page offset, page, piece length) over the pages covering
  // [offset, offset + count), making missing pages when make is set.
  function eachPiece(offset, count, make, fn) {
    let done = 0;
    while (done < count) {
      const at = offset + done;
      const index = Math.floor(at / pageSize);
      const within = at - index * pageSize;
      const n = Math.min(pageSize - within, count - done);
      if (!pages[index] && make) pages[index] = new Uint8Array(pageSize);
      fn(done, within, pages[index], n);
      done += n;
    }
  }

  return {
    start(id, file) {
      input = file;
      inputPosition = 0;
      job = {id, lastProgress: -Infinity};
      committed = null;
      report = null;
      listing = null;
    },
    finishJob() {
      const result = {report, blob: committed, listing};
      listing = null;
      input = null;
      job = null;
      committed = null;
      pages = [];
      length = 0;
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
      pages = [];
      length = 0;
      return 1;
    },
    outputWriteAt(offset, pointer, count) {
      try {
        eachPiece(offset, count, true, (done, within, page, n) =>
          page.set(HEAPU8.subarray(pointer + done, pointer + done + n), within));
        length = Math.max(length, offset + count);
        return 1;
      } catch (error) {
        return 0; // no memory for another page
      }
    },
    outputReadAt(offset, pointer, count) {
      if (offset + count > length) return 0;
      eachPiece(offset, count, false, (done, within, page, n) => {
        if (page) HEAPU8.set(page.subarray(within, within + n), pointer + done);
        else HEAPU8.fill(0, pointer + done, pointer + done + n);
      });
      return 1;
    },
    outputTruncate(newLength) {
      length = Math.min(length, newLength);
      const kept = Math.ceil(length / pageSize);
      pages.length = Math.min(pages.length, kept);
      const last = pages[kept - 1];
      if (last) last.fill(0, length - (kept - 1) * pageSize);
    },
    outputCommit() {
      const parts = [];
      for (let index = 0; index * pageSize < length; ++index) {
        const page = pages[index] || new Uint8Array(pageSize);
        parts.push(page.subarray(0, Math.min(pageSize, length - index * pageSize)));
      }
      committed = new Blob(parts, {type: 'application/octet-stream'});
      pages = [];
    },
    outputDiscard() {
      pages = [];
      length = 0;
    },
    converted(ok, reason, name, inputBytes, streamBytes, documentBytes) {
      report = {ok: !!ok, reason, name, inputBytes, streamBytes, documentBytes};
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

(() => {
  const queue = [];
  let ready = false;

  // The converter's own rule tells banks from documents (dls2mmlKindOfName).
  function kindOf(name) {
    return ['skipped', 'bank', 'document'][Module.ccall('dls2mmlKindOfName', 'number', ['string'], [name])];
  }

  // list: the instruments to keep (as --instruments takes them), or none.
  function runFile(id, file, list) {
    const kind = kindOf(file.name);
    if (kind === 'skipped') {
      self.postMessage({type: 'skipped', id});
      return;
    }
    self.postMessage({type: 'started', id, kind, total: file.size});
    webIo.start(id, file);
    const began = performance.now();
    if (kind === 'bank' && list) {
      Module.ccall('dls2mmlConvertInstruments', 'number', ['string', 'string'], [file.name, list]);
    } else {
      Module.ccall(kind === 'bank' ? 'dls2mmlConvert' : 'dls2mmlDecode', 'number', ['string'], [file.name]);
    }
    const seconds = (performance.now() - began) / 1000;
    const {report, blob} = webIo.finishJob();
    // A whole DLS bank converted: its instruments can be chosen from (listed
    // when the page asks, since that reads the bank whole).
    const choosable = kind === 'bank' && !list && report.ok && isDlsForm(file);
    self.postMessage(Object.assign({type: 'finished', id, kind, seconds, list: list || null, choosable}, report,
      {blob: report.ok ? blob : null}));
  }

  // The file starts as a RIFF 'DLS ' form.
  function isDlsForm(file) {
    const head = new Uint8Array(new FileReaderSync().readAsArrayBuffer(file.slice(0, 12)));
    return head.length === 12 && String.fromCharCode(...head.subarray(0, 4)) === 'RIFF' &&
      String.fromCharCode(...head.subarray(8, 12)) === 'DLS ';
  }

  // The instruments of a converted bank, for the page's chooser; null when
  // they cannot be read.
  function listFile(id, file) {
    webIo.start(id, file);
    Module.ccall('dls2mmlListInstruments', 'number', ['string'], [file.name]);
    const {listing} = webIo.finishJob();
    self.postMessage({type: 'listing', id, listing});
  }

  function handle(message) {
    if (message.type === 'files') {
      message.files.forEach((file, index) => runFile(message.ids[index], file, message.lists && message.lists[index]));
    } else if (message.type === 'list') {
      listFile(message.id, message.file);
    } else if (message.type === 'fresh') {
      Module._dls2mmlFreshState();
      self.postMessage({type: 'fresh'});
    }
  }

  function drain() {
    while (ready && queue.length) handle(queue.shift());
  }

  self.onmessage = (event) => {
    queue.push(event.data);
    drain();
  };

  function start() {
    ready = true;
    self.postMessage({type: 'ready'});
    drain();
  }
  if (runtimeInitialized) start();
  else Module.onRuntimeInitialized = start;
})();
