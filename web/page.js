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

  function makeRow(file) {
    const row = element('li', 'waiting');
    const parts = {
      row,
      name: element('span', 'name', file.name),
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
      rows.set(id, makeRow(file));
      return id;
    });
    worker.postMessage({type: 'files', files, ids});
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
    parts.row.dataset.input = String(from);
    parts.row.dataset.output = String(to);
    parts.row.dataset.seconds = String(message.seconds);
  }

  worker.onmessage = ({data: message}) => {
    if (message.type === 'ready') {
      document.body.classList.add('ready');
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
