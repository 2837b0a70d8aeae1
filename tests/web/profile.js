// Where the drop page's workers spend their time on one bank: each worker's
// JavaScript and WebAssembly sampled while the bank converts, the functions
// with the most time of their own listed per worker (the keeper first).
//
//   node profile.js WEB_BUILD_DIR BANK [TOP]
//
// WebAssembly functions show by name only in a build that keeps them
// (tools/web.sh -DDLS2MML_WEB_PROFILING=ON); otherwise as wasm-function[N].
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const {serve, launch, openPage, drop} = require('./browser');

// Self time in seconds per function name of one sampled profile.
function selfTimes(profile) {
  const byId = new Map(profile.nodes.map((node) => [node.id, node]));
  const times = new Map();
  profile.samples.forEach((id, i) => {
    const frame = byId.get(id).callFrame;
    const place = frame.lineNumber >= 0 ? `:${frame.lineNumber + 1}:${frame.columnNumber + 1}` : '';
    const name = frame.functionName || `(anonymous${place})`;
    times.set(name, (times.get(name) || 0) + (profile.timeDeltas[i] || 0) / 1e6);
  });
  return times;
}

async function main() {
  const [webDir, bank] = process.argv.slice(2, 4).map((p) => path.resolve(p));
  const top = Number(process.argv[4] || 12);
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'dls2mml-profile-'));
  const server = await serve(webDir);
  const browser = await launch(work);
  const problems = [];
  try {
    const page = await openPage(browser, `http://127.0.0.1:${server.address().port}/`, problems);
    const count = Number(await page.$eval('body', (body) => body.dataset.workers));
    // The keeper starts first and starts the helpers; wait for all of them.
    const deadline = Date.now() + 30000;
    while (page.workers().length < count + 1 && Date.now() < deadline)
      await new Promise((resolve) => setTimeout(resolve, 50));
    const workers = page.workers();
    for (const worker of workers) {
      await worker.client.send('Profiler.enable');
      await worker.client.send('Profiler.setSamplingInterval', {interval: 500});
      await worker.client.send('Profiler.start');
    }
    const began = process.hrtime.bigint();
    const [row] = await drop(page, [bank], 1800000);
    const wall = Number(process.hrtime.bigint() - began) / 1e9;
    if (row.state !== 'done') throw new Error(`${row.name}: ${row.note}`);
    console.log(`${path.basename(bank)}: ${wall.toFixed(2)} s from choice to link, ${workers.length} workers`);
    for (const [index, worker] of workers.entries()) {
      const {profile} = await worker.client.send('Profiler.stop');
      const times = [...selfTimes(profile)].sort((a, b) => b[1] - a[1]);
      const busy = times.filter(([name]) => name !== '(idle)' && name !== '(program)')
        .reduce((sum, [, seconds]) => sum + seconds, 0);
      console.log(`worker ${index} (${index === 0 ? 'the first started' : 'started after'}): ${busy.toFixed(2)} s busy`);
      for (const [name, seconds] of times.slice(0, top))
        console.log(`  ${seconds.toFixed(3).padStart(7)} s  ${name.slice(0, 100)}`);
    }
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(work, {recursive: true, force: true});
  }
  if (problems.length) {
    console.error(`page problems: ${problems}`);
    process.exitCode = 1;
  }
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
