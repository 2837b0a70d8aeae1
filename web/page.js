// The drop page: hands dropped or chosen files in order to the keeper of its
// pool of workers and lists each with its progress, its sizes and its result
// for download, in the page's language.
'use strict';
(() => {
  const list = document.getElementById('files');
  const stateCount = document.getElementById('state-count');
  const fatal = document.getElementById('fatal');
  const source = document.getElementById('worker-source').textContent;
  const workerUrl = URL.createObjectURL(new Blob([source], {type: 'text/javascript'}));

  // --- the pool of workers ---
  // One per core, fewer where the device says its memory is short: each has
  // its own instance of the converter, whose memory starts at 32 MiB and
  // grows to about this much while it codes a block.
  const instanceMiB = 64;
  function poolSize() {
    let size = Math.max(1, Math.floor(navigator.hardwareConcurrency || 1));
    // At most a quarter of the memory the device reports, in whole instances.
    if (navigator.deviceMemory) size = Math.min(size, Math.floor(navigator.deviceMemory * 1024 / 4 / instanceMiB));
    return Math.max(1, Math.min(size, 32));
  }
  // The keeper takes the files and holds the pivot state; it reaches each
  // helper through a channel of its own (no memory is shared). The helpers
  // code the blocks, one per core; the keeper only hands them out and puts
  // the frames together (and codes the rare block that needs the state), so
  // that it answers a helper's frame at once with the next block.
  const worker = new Worker(workerUrl);
  const helperPorts = [];
  for (let i = 0; i < poolSize(); ++i) {
    const helper = new Worker(workerUrl);
    const channel = new MessageChannel();
    helper.postMessage({role: 'helper', keeper: channel.port1}, [channel.port1]);
    helper.onerror = (event) => stopped(event);
    helperPorts.push(channel.port2);
  }
  worker.postMessage({role: 'keeper', helpers: helperPorts}, helperPorts);
  document.body.dataset.workers = String(helperPorts.length);
  const rows = new Map();
  let nextId = 0;
  let banksOnState = 0;

  // --- the page's language ---
  // First of Japanese and English among the browser's languages, English
  // otherwise; a choice made with the switch is kept where the browser lets
  // the page keep it (a page opened from disk may not).
  const languageKey = 'dls2mml.language';
  function storedLanguage() {
    try {
      return localStorage.getItem(languageKey);
    } catch (error) {
      return null;
    }
  }
  function browserLanguage() {
    for (const tag of navigator.languages || [navigator.language || '']) {
      const primary = String(tag).toLowerCase().split('-')[0];
      if (primary in pageWords) return primary;
    }
    return 'en';
  }
  let language = pageWords[storedLanguage()] ? storedLanguage() : browserLanguage();
  let words = pageWords[language];
  // Each shown text is kept as a function of the words, so a change of
  // language can say everything again.
  const spoken = new Set();
  function say(node, text) {
    node.wordsFor = typeof text === 'function' ? text : () => text;
    node.textContent = node.wordsFor(words);
    spoken.add(node);
  }
  function sayAttribute(node, name, text) {
    node.attributesFor = Object.assign(node.attributesFor || {}, {[name]: text});
    node.setAttribute(name, text(words));
    spoken.add(node);
  }
  function speak(chosen) {
    language = chosen;
    words = pageWords[language];
    document.documentElement.lang = language;
    for (const node of spoken) {
      if (!node.isConnected) {
        spoken.delete(node);
        continue;
      }
      if (node.wordsFor) node.textContent = node.wordsFor(words);
      for (const [name, text] of Object.entries(node.attributesFor || {})) node.setAttribute(name, text(words));
    }
    for (const button of document.querySelectorAll('#language button')) {
      button.setAttribute('aria-pressed', String(button.dataset.language === language));
    }
  }
  for (const node of document.querySelectorAll('[data-text]')) say(node, (w) => w[node.dataset.text]);
  for (const button of document.querySelectorAll('#language button')) {
    button.addEventListener('click', () => {
      try {
        localStorage.setItem(languageKey, button.dataset.language);
      } catch (error) {
        // Not kept: this page shows the choice until it is closed.
      }
      speak(button.dataset.language);
    });
  }

  // Text nodes made by the page: text is a string (a file's or the
  // converter's own words) or a function of the words.
  function element(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) say(node, text);
    return node;
  }

  function makeRow(file, title) {
    const row = element('li', 'waiting');
    const parts = {
      row,
      file,
      name: element('span', 'name', title || file.name),
      result: element('span', 'result'),
      note: element('span', 'note', (w) => w.waiting),
      progress: element('progress'),
    };
    parts.progress.hidden = true;
    row.append(parts.name, parts.result, parts.note, parts.progress);
    list.append(row);
    return parts;
  }

  function addFiles(fileList) {
    const files = Array.from(fileList);
    if (!files.length) return;
    const ids = files.map((file) => {
      const id = nextId++;
      rows.set(id, Object.assign(makeRow(file), {id}));
      return id;
    });
    worker.postMessage({type: 'files', files, ids});
  }

  // Numbers as a list for the converter: runs of three or more as ranges (1-3,7).
  function listOf(numbers) {
    const items = [];
    for (let i = 0; i < numbers.length;) {
      let j = i;
      while (j + 1 < numbers.length && numbers[j + 1] === numbers[j] + 1) ++j;
      if (j - i >= 2) items.push(`${numbers[i]}-${numbers[j]}`);
      else for (let k = i; k <= j; ++k) items.push(String(numbers[k]));
      i = j + 1;
    }
    return items.join(',');
  }

  // The bank cut to the chosen instruments, converted as the next file of the run.
  function convertChosen(file, numbers) {
    const list = listOf(numbers);
    const id = nextId++;
    rows.set(id, Object.assign(makeRow(file, (w) => w.chosenTitle(file.name, list)), {id}));
    worker.postMessage({type: 'files', files: [file], ids: [id], lists: [list]});
  }

  const patchOf = (i) => (w) => w.patch(i.drums, i.bankMsb, i.bankLsb, i.program);

  // "choose instruments…" under a converted DLS bank. Opening it asks the
  // worker for the instruments (it reads the bank whole for that), each then
  // shown with its number, name, patch and the bytes of wave data it uses.
  function addChooser(parts) {
    const chooser = element('details', 'chooser');
    const waiting = element('p', 'quiet', (w) => w.readingInstruments);
    chooser.append(element('summary', null, (w) => w.chooseInstruments), waiting);
    chooser.addEventListener('toggle', () => {
      if (!chooser.open || parts.asked) return;
      parts.asked = true;
      worker.postMessage({type: 'list', id: parts.id, file: parts.file});
    });
    parts.chooser = chooser;
    parts.waiting = waiting;
    parts.row.append(chooser);
  }

  function fillChooser(parts, listing) {
    parts.waiting.remove();
    if (!listing) {
      parts.chooser.append(element('p', 'note', (w) => w.noInstruments));
      return;
    }
    const table = element('table');
    const head = element('tr');
    pageWords.en.columns.forEach((title, column) => {
      head.append(element('th', column === 1 || column === 4 ? 'number' : null, (w) => w.columns[column]));
    });
    table.append(head);
    const boxes = [];
    for (const instrument of listing.instruments) {
      const line = element('tr');
      const box = element('input');
      box.type = 'checkbox';
      box.value = String(instrument.number);
      sayAttribute(box, 'aria-label', (w) => w.instrumentLabel(instrument.number));
      boxes.push(box);
      const cell = element('td');
      cell.append(box);
      line.append(cell, element('td', 'number', String(instrument.number)),
        element('td', 'given', instrument.name || ((w) => w.noName)), element('td', null, patchOf(instrument)),
        element('td', 'number', (w) => w.number(instrument.waveBytes)));
      table.append(line);
    }
    const total = element('p', 'quiet', (w) => w.waveTotal(listing.waveBytes));
    const button = element('button', null, (w) => w.convertChosen);
    button.type = 'button';
    const hint = element('span', 'note');
    button.addEventListener('click', () => {
      const numbers = boxes.filter((box) => box.checked).map((box) => Number(box.value));
      if (!numbers.length) {
        say(hint, (w) => w.chooseOne);
        return;
      }
      say(hint, '');
      convertChosen(parts.file, numbers);
    });
    parts.chooser.append(table, total, button, hint);
  }

  function showState() {
    const count = banksOnState;
    say(stateCount, (w) => (count === 0 ? w.stateNone : w.stateSome(count)));
  }

  // A failure: the page's own message for the failure's kind where it has
  // one, else a lead in the page's words and the converter's reason in its own.
  function showFailure(parts, message) {
    parts.note.wordsFor = null; // its parts speak for themselves
    parts.note.textContent = '';
    const lead = (w) => (message.kind === 'bank' ? w.bankFailed : w.documentFailed);
    const own = (w) => message.failureKind && w.failures[message.failureKind];
    if (message.stateUnknown) {
      parts.note.append(element('span', 'lead', (w) => w.stateUnknown), ' ', element('span', 'reason', message.reason));
    } else if (own(words)) {
      parts.note.append(element('span', 'lead', (w) => own(w) || lead(w) + message.reason));
    } else {
      parts.note.append(element('span', 'lead', lead), element('span', 'reason', message.reason));
    }
  }

  function finished(parts, message) {
    parts.progress.hidden = true;
    if (message.kind === 'bank') {
      ++banksOnState;
      showState();
    }
    if (!message.ok) {
      parts.row.className = 'failed';
      showFailure(parts, message);
      return;
    }
    parts.row.className = 'done';
    const link = element('a', null, message.name);
    link.download = message.name;
    link.href = URL.createObjectURL(message.blob);
    parts.result.append(link);
    const [from, to] = message.kind === 'bank' ? [message.inputBytes, message.documentBytes]
      : [parts.total, message.bankBytes];
    const summary = message.kind === 'bank' ? (w) => w.bankDone(from, to) : (w) => w.documentDone(from, to);
    const chosen = message.list ? (w) => w.chosenPart(message.instrumentsKept, message.instrumentsInBank,
      message.wholeBankBytes) : () => '';
    say(parts.note, (w) => summary(w) + chosen(w));
    if (message.choosable) addChooser(parts);
    parts.row.dataset.input = String(from);
    parts.row.dataset.output = String(to);
    parts.row.dataset.seconds = String(message.seconds);
    if (message.timing) parts.row.dataset.timing = JSON.stringify(message.timing);
  }

  worker.onmessage = ({data: message}) => {
    if (message.type === 'ready') {
      document.body.classList.add('ready');
      return;
    }
    if (message.type === 'listing') {
      const parts = rows.get(message.id);
      if (parts && parts.chooser) fillChooser(parts, message.listing);
      return;
    }
    if (message.type === 'fresh') {
      banksOnState = 0;
      showState();
      return;
    }
    const parts = rows.get(message.id);
    if (!parts) return;
    if (message.type === 'skipped') {
      parts.row.className = 'skipped';
      say(parts.note, (w) => w.skipped);
    } else if (message.type === 'started') {
      parts.row.className = 'working';
      parts.total = message.total;
      say(parts.note, (w) => (message.kind === 'bank' ? w.converting : w.checking));
      parts.progress.max = Math.max(1, message.total);
      parts.progress.value = 0;
      parts.progress.hidden = false;
    } else if (message.type === 'progress') {
      parts.progress.value = message.done;
    } else if (message.type === 'finished') {
      finished(parts, message);
    }
  };
  function stopped(event) {
    fatal.hidden = false;
    say(fatal, (w) => w.fatal(event.message));
  }
  worker.onerror = stopped;

  speak(language);
  showState();
  document.getElementById('fresh').addEventListener('click', () => worker.postMessage({type: 'fresh'}));
  const chooser = document.getElementById('choose');
  chooser.addEventListener('change', () => {
    addFiles(chooser.files);
    chooser.value = ''; // choosing the same files again is a new drop
  });

  let dragDepth = 0;
  document.addEventListener('dragenter', (event) => {
    event.preventDefault();
    ++dragDepth;
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', () => {
    if (--dragDepth <= 0) {
      dragDepth = 0;
      document.body.classList.remove('dragging');
    }
  });
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    event.dataTransfer.dropEffect = 'copy';
  });
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    dragDepth = 0;
    document.body.classList.remove('dragging');
    addFiles(event.dataTransfer.files);
  });
})();
