// Times one bank in the drop page against the command line on this machine.
//
//   node bench.js BUILD_DIR WEB_BUILD_DIR BANK [RUNS]
//
// RUNS rounds, each a command-line conversion (a fresh process) and then a
// drop of the bank on the page (one pool of workers for all rounds), timed by
// the page's own clock from the choice (the file input's change) to the
// finished link; also as this script sees it, which adds the driver's own
// round trips (about 70 ms), and by the keeper itself. The medians are
// compared, and the page's CPU time is split by thread. The
// first page document, made on a fresh state like each process's, must equal
// the command line's.
'use strict';
const {execFileSync} = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const zlib = require('node:zlib');
const {serve, launch, openPage, drop, linkedDigest} = require('./browser');

// The fields after the name in a /proc stat file (state first), or null
// when the process or thread is gone.
function statFields(file) {
  try {
    const text = fs.readFileSync(file, 'utf8');
    return {name: text.slice(text.indexOf('(') + 1, text.lastIndexOf(')')),
      fields: text.slice(text.lastIndexOf(')') + 2).split(' ')};
  } catch (error) {
    return null; // gone meanwhile
  }
}
const ticksOf = (fields) => Number(fields[11]) + Number(fields[12]); // user and system

// The processes under pid, itself included: their ids and stat fields.
function processesUnder(pid) {
  const stats = new Map();
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    const stat = statFields(`/proc/${name}/stat`);
    if (stat) stats.set(Number(name), stat.fields);
  }
  const under = (id) => {
    for (let at = id; at; at = stats.has(at) ? Number(stats.get(at)[1]) : 0) if (at === pid) return true;
    return false;
  };
  return [...stats].filter(([id]) => under(id));
}

// CPU seconds (user and system) used so far by the processes under pid,
// itself included.
function cpuOf(pid) {
  return processesUnder(pid).reduce((total, [, fields]) => total + ticksOf(fields), 0) / 100;
}

// CPU ticks of every thread of the processes under pid, keyed by process
// kind and thread name (threads of one name summed): where a page's CPU goes.
function threadCpuOf(pid) {
  const totals = new Map();
  for (const [id] of processesUnder(pid)) {
    try {
      const type = /--type=([\w-]+)/.exec(fs.readFileSync(`/proc/${id}/cmdline`, 'utf8'));
      const kind = type ? type[1] : 'browser';
      for (const tid of fs.readdirSync(`/proc/${id}/task`)) {
        const stat = statFields(`/proc/${id}/task/${tid}/stat`);
        if (!stat) continue;
        const key = `${kind}: ${stat.name.replace(/\d+$/, '')}`;
        totals.set(key, (totals.get(key) || 0) + ticksOf(stat.fields));
      }
    } catch (error) {
      // gone meanwhile
    }
  }
  return totals;
}

// CPU seconds (user and system) of this process's finished children.
function childrenCpu() {
  const {fields} = statFields('/proc/self/stat');
  return (Number(fields[13]) + Number(fields[14])) / 100;
}

async function main() {
  const [buildDir, webDir, bank] = process.argv.slice(2, 5).map((p) => path.resolve(p));
  const runs = Number(process.argv[5] || 3);
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'dls2mml-bench-'));
  const copy = path.join(work, path.basename(bank));
  fs.copyFileSync(bank, copy);
  const times = [];
  const wall = [];
  const seen = []; // as this script sees it
  const worker = [];
  const timings = [];
  const nativeCpu = [];
  const pageCpu = [];
  const threadCpu = new Map(); // ticks over all rounds, by process kind and thread name
  let pageDigest = null;
  let nativeDigest = null;
  let workers = null;
  const server = await serve(webDir);
  const browser = await launch(work);
  const problems = [];
  try {
    const page = await openPage(browser, `http://127.0.0.1:${server.address().port}/`, problems);
    workers = await page.$eval('body', (body) => body.dataset.workers);
    // The page's clock at the choice and when the bank's row is done.
    await page.evaluate(() => {
      window.benchMarks = {};
      document.getElementById('choose').addEventListener('change', () => {
        window.benchMarks = {chosen: performance.now()};
      }, true);
      new MutationObserver(() => {
        const last = document.querySelector('#files li:last-child');
        if (last && last.className === 'done' && !window.benchMarks.done) window.benchMarks.done = performance.now();
      }).observe(document.getElementById('files'), {subtree: true, attributes: true, childList: true});
    });
    // Interleaved: the machine's other work weighs on both alike.
    for (let i = 0; i < runs; ++i) {
      let began = process.hrtime.bigint();
      let cpu = childrenCpu();
      execFileSync(path.join(buildDir, 'dls2mml'), ['-q', '-f', copy]);
      times.push(Number(process.hrtime.bigint() - began) / 1e9);
      nativeCpu.push(childrenCpu() - cpu);
      if (i === 0) {
        const document = fs.readdirSync(work).find((name) => name.endsWith('.mml'));
        nativeDigest = crypto.createHash('sha256').update(fs.readFileSync(path.join(work, document))).digest('hex');
      }
      began = process.hrtime.bigint();
      cpu = cpuOf(browser.process().pid);
      const threadsBefore = threadCpuOf(browser.process().pid);
      const [row] = await drop(page, [bank], 1800000);
      seen.push(Number(process.hrtime.bigint() - began) / 1e9);
      const marks = await page.evaluate(() => window.benchMarks);
      wall.push((marks.done - marks.chosen) / 1000);
      pageCpu.push(cpuOf(browser.process().pid) - cpu);
      for (const [key, ticks] of threadCpuOf(browser.process().pid)) {
        threadCpu.set(key, (threadCpu.get(key) || 0) + ticks - (threadsBefore.get(key) || 0));
      }
      if (row.state !== 'done') throw new Error(`${row.name}: ${row.note}`);
      worker.push(row.seconds);
      timings.push(row.timing);
      if (i === 0) pageDigest = await linkedDigest(page, row.href);
    }
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(work, {recursive: true, force: true});
  }

  const html = fs.readFileSync(path.join(webDir, 'index.html'));
  const median = (list) => {
    const sorted = [...list].sort((a, b) => a - b);
    const middle = Math.floor(sorted.length / 2);
    return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
  };
  const show = (list) => list.map((t) => t.toFixed(2)).join(' ');
  console.log(`bank: ${path.basename(bank)}, ${fs.statSync(bank).size} bytes; page workers: ${workers}`);
  console.log(`command line: ${median(times).toFixed(3)} s (median of ${runs}: ${show(times)})`);
  console.log(`page: ${median(wall).toFixed(3)} s from choice to link, worker ${median(worker).toFixed(3)} s ` +
    `(median of ${runs}: ${show(wall)}): ${(median(wall) / median(times)).toFixed(2)}x the command line`);
  console.log(`page as the driver sees it: ${median(seen).toFixed(3)} s (median of ${runs}: ${show(seen)}): ` +
    `${(median(seen) / median(times)).toFixed(2)}x`);
  console.log(`CPU time (user and system): command line ${median(nativeCpu).toFixed(2)} s, page (every browser ` +
    `process) ${median(pageCpu).toFixed(2)} s: ${(median(pageCpu) / median(nativeCpu)).toFixed(2)}x; ` +
    `load average ${os.loadavg().map((l) => l.toFixed(2)).join(' ')}`);
  console.log(`page CPU by thread, mean of the rounds: ${[...threadCpu].filter(([, ticks]) => ticks > 0)
    .sort((a, b) => b[1] - a[1]).slice(0, 8).map(([key, ticks]) => `${key} ${(ticks / 100 / runs).toFixed(2)} s`)
    .join('; ')}`);
  console.log(`the keeper's part, each round: ${timings.map((t) => `owed draws ${t.owed.toFixed(2)} s, ` +
    `${t.keeperBlocks} of ${t.blocks} blocks in ${t.keeper.toFixed(2)} s`).join('; ')}`);
  // Where the worker's time went, median seconds over the rounds: the
  // helpers' blocks and their idle gaps, the keeper's assembly, its waits.
  const parts = ['helper', 'helperIdle', 'assembly', 'turns', 'waiting', 'finish'];
  console.log(`worker time (medians): ${parts.filter((name) => name in timings[0])
    .map((name) => `${name} ${median(timings.map((t) => t[name])).toFixed(3)} s`).join(', ')}`);
  console.log(`page download: ${html.length} bytes (${zlib.gzipSync(html, {level: 9}).length} gzip-compressed)`);
  console.log(`documents equal: ${pageDigest === nativeDigest}${problems.length ? `; page problems: ${problems}` : ''}`);
  process.exitCode = pageDigest === nativeDigest && !problems.length ? 0 : 1;
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
