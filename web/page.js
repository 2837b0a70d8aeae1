// The drop page: hands dropped or chosen files to the worker in order and
// lists each with its progress, its sizes and its result for download.
'use strict';
(() => {
  const list = document.getElementById('files');
  const stateCount = document.getElementById('state-count');
  const fatal = document.getElementById('fatal');
  const source = document.getElementById('worker-source').textContent;
  const worker = new Worker(URL.createObjectURL(new Blob([source], {type: 'text/javascript'})));
  const rows = new Map();
  let nextId = 0;
  let banksOnState = 0;

  const bytes = (n) => `${n.toLocaleString('en-US')} bytes`;

  function element(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function makeRow(file, title) {
    const row = element('li', 'waiting');
    const parts = {
      row,
      file,
      name: element('span', 'name', title || file.name),
      result: element('span', 'result'),
      note: element('span', 'note', 'waiting'),
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
    rows.set(id, Object.assign(makeRow(file, `${file.name}, instruments ${list}`), {id}));
    worker.postMessage({type: 'files', files: [file], ids: [id], lists: [list]});
  }

  const patchOf = (i) => `${i.drums ? 'drums' : 'melodic'} ${i.bankMsb}/${i.bankLsb} program ${i.program}`;

  // "choose instruments…" under a converted DLS bank. Opening it asks the
  // worker for the instruments (it reads the bank whole for that), each then
  // shown with its number, name, patch and the bytes of wave data it uses.
  function addChooser(parts) {
    const chooser = element('details', 'chooser');
    const waiting = element('p', 'quiet', 'reading the bank\'s instruments…');
    chooser.append(element('summary', null, 'choose instruments…'), waiting);
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
      parts.chooser.append(element('p', 'note', 'its instruments cannot be read: not a sound DLS bank'));
      return;
    }
    const table = element('table');
    const head = element('tr');
    for (const title of ['', '#', 'name', 'patch', 'wave bytes']) {
      head.append(element('th', title === '#' || title === 'wave bytes' ? 'number' : null, title));
    }
    table.append(head);
    const boxes = [];
    for (const instrument of listing.instruments) {
      const line = element('tr');
      const box = element('input');
      box.type = 'checkbox';
      box.value = String(instrument.number);
      box.setAttribute('aria-label', `instrument ${instrument.number}`);
      boxes.push(box);
      const cell = element('td');
      cell.append(box);
      line.append(cell, element('td', 'number', String(instrument.number)),
        element('td', null, instrument.name || '(no name)'), element('td', null, patchOf(instrument)),
        element('td', 'number', instrument.waveBytes.toLocaleString('en-US')));
      table.append(line);
    }
    const total = element('p', 'quiet', `${bytes(listing.waveBytes)} of wave data in all, each wave counted once`);
    const button = element('button', null, 'Convert the chosen instruments');
    button.type = 'button';
    const say = element('span', 'note');
    button.addEventListener('click', () => {
      const numbers = boxes.filter((box) => box.checked).map((box) => Number(box.value));
      if (!numbers.length) {
        say.textContent = 'choose one instrument at least';
        return;
      }
      say.textContent = '';
      convertChosen(parts.file, numbers);
    });
    parts.chooser.append(table, total, button, say);
  }

  function showState() {
    stateCount.textContent = banksOnState === 0 ? 'no bank converted on it yet'
      : `${banksOnState} bank${banksOnState === 1 ? '' : 's'} converted on it so far`;
  }

  function finished(parts, message) {
    parts.progress.hidden = true;
    if (message.kind === 'bank') {
      ++banksOnState;
      showState();
    }
    if (!message.ok) {
      parts.row.className = 'failed';
      parts.note.textContent = message.reason;
      return;
    }
    parts.row.className = 'done';
    const link = element('a', null, message.name);
    link.download = message.name;
    link.href = URL.createObjectURL(message.blob);
    parts.result.append(link);
    const [from, to] = message.kind === 'bank' ? [message.inputBytes, message.documentBytes]
      : [parts.total, message.bankBytes];
    parts.note.textContent = message.kind === 'bank' ? `bank ${bytes(from)} → document ${bytes(to)}`
      : `document ${bytes(from)}, checked → bank ${bytes(to)}`;
    if (message.list) {
      parts.note.textContent += ` (${message.instrumentsKept} of ${message.instrumentsInBank} instruments,` +
        ` from a bank of ${bytes(message.wholeBankBytes)})`;
    }
    if (message.choosable) addChooser(parts);
    parts.row.dataset.input = String(from);
    parts.row.dataset.output = String(to);
    parts.row.dataset.seconds = String(message.seconds);
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
      parts.note.textContent = 'skipped: neither a bank (".dls" in its name) nor a document (.mml)';
    } else if (message.type === 'started') {
      parts.row.className = 'working';
      parts.total = message.total;
      parts.note.textContent = message.kind === 'bank' ? 'converting' : 'checking';
      parts.progress.max = Math.max(1, message.total);
      parts.progress.value = 0;
      parts.progress.hidden = false;
    } else if (message.type === 'progress') {
      parts.progress.value = message.done;
    } else if (message.type === 'finished') {
      finished(parts, message);
    }
  };
  worker.onerror = (event) => {
    fatal.hidden = false;
    fatal.textContent = `The converter stopped: ${event.message || 'unknown error'}. Reload the page to start again.`;
  };

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
