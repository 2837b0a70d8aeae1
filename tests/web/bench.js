// Times one bank in the drop page against the command line on this machine.
//
//   node bench.js BUILD_DIR WEB_BUILD_DIR BANK [RUNS]
//
// The command line: best wall time of RUNS conversions, each a fresh process.
// The page: best of RUNS drops of the bank, timed from the choice to the
// finished link (and by the worker itself); the first page document, made on
// a fresh state like each process's, must equal the command line's.
'use strict';
const {execFileSync} = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const zlib = require('node:zlib');
const {serve, launch, openPage, drop, linkedDigest} = require('./browser');

async function main() {
  const [buildDir, webDir, bank] = process.argv.slice(2, 5).map((p) => path.resolve(p));
  const runs = Number(process.argv[5] || 3);
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'dls2mml-bench-'));
  const copy = path.join(work, path.basename(bank));
  fs.copyFileSync(bank, copy);
  const times = [];
  for (let i = 0; i < runs; ++i) {
    const began = process.hrtime.bigint();
    execFileSync(path.join(buildDir, 'dls2mml'), ['-q', copy]);
    times.push(Number(process.hrtime.bigint() - began) / 1e9);
  }
  const document = fs.readdirSync(work).find((name) => name.endsWith('.mml'));
  const nativeDigest = crypto.createHash('sha256').update(fs.readFileSync(path.join(work, document))).digest('hex');

  const server = await serve(webDir);
  const browser = await launch(work);
  const problems = [];
  const wall = [];
  const worker = [];
  let pageDigest = null;
  try {
    const page = await openPage(browser, `http://127.0.0.1:${server.address().port}/`, problems);
    for (let i = 0; i < runs; ++i) {
      const began = process.hrtime.bigint();
      const [row] = await drop(page, [bank], 1800000);
      wall.push(Number(process.hrtime.bigint() - began) / 1e9);
      if (row.state !== 'done') throw new Error(`${row.name}: ${row.note}`);
      worker.push(row.seconds);
      if (i === 0) pageDigest = await linkedDigest(page, row.href);
    }
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(work, {recursive: true, force: true});
  }

  const html = fs.readFileSync(path.join(webDir, 'index.html'));
  const best = (list) => Math.min(...list);
  console.log(`bank: ${path.basename(bank)}, ${fs.statSync(bank).size} bytes`);
  console.log(`command line: ${best(times).toFixed(3)} s (best of ${runs})`);
  console.log(`page: ${best(wall).toFixed(3)} s from choice to link, worker ${best(worker).toFixed(3)} s ` +
    `(best of ${runs}): ${(best(wall) / best(times)).toFixed(2)}x the command line`);
  console.log(`page download: ${html.length} bytes (${zlib.gzipSync(html, {level: 9}).length} gzip-compressed)`);
  console.log(`documents equal: ${pageDigest === nativeDigest}${problems.length ? `; page problems: ${problems}` : ''}`);
  process.exitCode = pageDigest === nativeDigest && !problems.length ? 0 : 1;
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
