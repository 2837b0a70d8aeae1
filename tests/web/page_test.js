// Drives the drop page in headless Chromium and compares what it offers with
// what the command line writes for the same files.
//
//   node page_test.js BUILD_DIR WEB_BUILD_DIR
//
// BUILD_DIR holds dls2mml and make_sample_bank; WEB_BUILD_DIR the built
// index.html, served here from 127.0.0.1. Two drops (file choices) carry the
// block sort's state from one to the next, as one command-line call does.
'use strict';
const assert = require('node:assert/strict');
const {execFileSync, spawnSync} = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const {serve, launch, openPage, drop, linked} = require('./browser');

const [buildDir, webDir] = process.argv.slice(2).map((p) => path.resolve(p));
const converter = path.join(buildDir, 'dls2mml');
const makeBank = path.join(buildDir, 'make_sample_bank');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'dls2mml-web-'));
const results = {passed: 0, failed: 0};

async function check(what, fn) {
  try {
    await fn();
    results.passed++;
    console.log(`ok   ${what}`);
  } catch (error) {
    results.failed++;
    console.log(`FAIL ${what}\n     ${String(error.message).split('\n').join('\n     ')}`);
  }
}

// The window's texts as the window holds them, in code page 932.
const windowTexts = {
  title: [0x44, 0x4C, 0x53, 0x81, 0xA8, 0x4D, 0x4D, 0x4C, 0x95, 0xCF, 0x8A, 0xB7, 0x20, 0x56, 0x65, 0x72, 0x2E, 0x31,
    0x2E, 0x30, 0x31],
  line0: [0x44, 0x4C, 0x53, 0x83, 0x74, 0x83, 0x40, 0x83, 0x43, 0x83, 0x8B, 0x82, 0xF0, 0x83, 0x68, 0x83, 0x8D, 0x83,
    0x62, 0x83, 0x76, 0x82, 0xB5, 0x82, 0xC4],
  line1: [0x89, 0xBA, 0x82, 0xB3, 0x82, 0xA2],
};
const cp932 = (bytes) => new TextDecoder('shift_jis').decode(new Uint8Array(bytes));

// Test inputs, made here: two sample banks, a block that repeats a short
// pattern (its primary index depends on every pivot drawn before), a text
// file, and documents good and damaged.
function makeInputs() {
  const input = (name) => path.join(work, 'in', name);
  fs.mkdirSync(path.join(work, 'in'));
  execFileSync(makeBank, [input('Piano.DLS'), '--size', '300000', '--seed', '3']);
  execFileSync(makeBank, [input('kit.dls'), '--size', '700000', '--seed', '8']);
  fs.writeFileSync(input('song.dls.bak'), Buffer.alloc(524288, 'aaabaabb'));
  fs.writeFileSync(input('notes.txt'), 'not a bank\n');
  fs.writeFileSync(input('empty.DLS'), '');
  fs.writeFileSync(input('a.dlsx'), 'abc');
  // For the pool of workers: banks of several blocks, and one whose block
  // that depends on the state comes after two that do not and before one more.
  const block = 524288;
  execFileSync(makeBank, [input('big1.dls'), '--size', '3000000', '--seed', '11']);
  execFileSync(makeBank, [input('big2.dls'), '--size', '2500000', '--seed', '12']);
  execFileSync(makeBank, [input('gone.dls'), '--size', '1500000', '--seed', '14']);
  execFileSync(makeBank, [input('other.dls'), '--size', '1500000', '--seed', '15']);
  const late = fs.readFileSync(input('big1.dls'));
  fs.writeFileSync(input('late.dls'), Buffer.concat([late.subarray(0, 2 * block), Buffer.alloc(block, 'aaabaabb'),
    late.subarray(2 * block, 2 * block + 400000)]));
  fs.copyFileSync(input('late.dls'), input('later.dls'));
  // Two slices that do not compress, then text that compresses well: the
  // sizes line, estimated from the first slices, has a digit more than the
  // true one, so the page moves the whole text back at the end, over output
  // pages it has already sealed.
  const noise = Buffer.alloc(2 * block);
  for (let i = 0, x = 12345; i < noise.length; ++i) {
    x = (Math.imul(x, 1103515245) + 12345) >>> 0;
    noise[i] = x >>> 24;
  }
  const counting = [];
  for (let i = 0; i < (15 << 20) / 8; ++i) counting.push(`${String(i).padStart(7, '0')}\n`);
  fs.writeFileSync(input('shrinks.dls'), Buffer.concat([noise, Buffer.from(counting.join(''))]));
  fs.mkdirSync(path.join(work, 'doc'));
  fs.copyFileSync(input('kit.dls'), path.join(work, 'doc', 'kit.dls'));
  execFileSync(converter, ['-q', path.join(work, 'doc', 'kit.dls')]);
  fs.copyFileSync(path.join(work, 'doc', 'kit_dls.mml'), input('kit_dls.mml'));
  // A character outside the alphabet on the Base64 text's second line.
  const text = fs.readFileSync(input('kit_dls.mml'));
  const at = text.indexOf('\n', text.indexOf('\n', text.indexOf('\n') + 1) + 1) + 40;
  text[at] = '*'.charCodeAt(0);
  fs.writeFileSync(input('broken_dls.mml'), text);
  return input;
}

// The command line's documents for the banks in one call, in this order.
function nativeDocuments(names, folder, input) {
  const dir = path.join(work, folder);
  fs.mkdirSync(dir);
  for (const name of names) fs.copyFileSync(input(name), path.join(dir, name));
  execFileSync(converter, ['-q', ...names], {cwd: dir});
  return dir;
}

function sameBytes(actual, expectedFile) {
  const expected = fs.readFileSync(expectedFile);
  assert.equal(actual.length, expected.length, `${path.basename(expectedFile)}: length`);
  assert.ok(actual.equals(expected), `${path.basename(expectedFile)}: bytes differ`);
}

async function main() {
  const input = makeInputs();
  const chained = nativeDocuments(['Piano.DLS', 'empty.DLS', 'kit.dls', 'song.dls.bak', 'a.dlsx'], 'native', input);
  const fresh = nativeDocuments(['song.dls.bak'], 'fresh', input);
  const pooled = nativeDocuments(['big1.dls', 'big2.dls', 'late.dls'], 'pooled', input);
  const freshLater = nativeDocuments(['later.dls'], 'fresh-later', input);
  const moved = nativeDocuments(['shrinks.dls'], 'moved', input);
  const faultLine = spawnSync(converter, ['-t', input('broken_dls.mml')], {encoding: 'utf8'}).stderr.trim();

  const server = await serve(webDir);
  const browser = await launch(work);
  const problems = [];
  try {
    const page = await openPage(browser, `http://127.0.0.1:${server.address().port}/`, problems);

    // The browser's languages in order: the page speaks the first of
    // Japanese and English among them, English when neither is there.
    const languageCases = [
      [['ja-JP', 'en-US'], 'ja'], [['fr-FR', 'ja'], 'ja'], [['en-GB', 'ja-JP'], 'en'], [['de-DE', 'fr'], 'en'],
      [['JA'], 'ja'],
    ];
    const afresh = {ja: '初期状態に戻す', en: 'Start afresh'};
    for (const [languages, expected] of languageCases) {
      await check(`browser languages ${languages.join(', ')}: the page speaks ${expected}`, async () => {
        const other = await openPage(browser, `http://127.0.0.1:${server.address().port}/`, problems, languages);
        try {
          assert.equal(await other.$eval('html', (html) => html.lang), expected);
          assert.equal(await other.$eval('#fresh', (button) => button.textContent), afresh[expected]);
          assert.equal(await other.$eval(`#language [data-language="${expected}"]`,
            (button) => button.getAttribute('aria-pressed')), 'true');
        } finally {
          await other.close();
        }
      });
    }

    await check('in Japanese the heading and title are the window\'s texts read as code page 932', async () => {
      const japanese = await openPage(browser, `http://127.0.0.1:${server.address().port}/`, problems, ['ja-JP']);
      try {
        assert.equal(await japanese.title(), cp932(windowTexts.title));
        const lines = await japanese.$$eval('#status span', (spans) => spans.map((s) => s.textContent));
        assert.deepEqual(lines, [cp932(windowTexts.line0), cp932(windowTexts.line1)]);
      } finally {
        await japanese.close();
      }
    });

    const first = await drop(page, [input('Piano.DLS'), input('notes.txt'), input('empty.DLS'), input('kit.dls')]);
    const second = await drop(page, [input('song.dls.bak'), input('kit_dls.mml'), input('broken_dls.mml'),
      input('a.dlsx')]);

    await check('documents named by the output-name rule, sizes and progress shown', async () => {
      const banks = [[first[0], 'Piano.DLS', 'Piano_DLS.mml'], [first[2], 'empty.DLS', 'empty_DLS.mml'],
        [first[3], 'kit.dls', 'kit_dls.mml'], [second[0], 'song.dls.bak', 'song_dls.bak.mml'],
        [second[3], 'a.dlsx', 'a_dlsx.mml']];
      for (const [row, bank, document] of banks) {
        assert.equal(row.state, 'done', `${bank}: ${row.note}`);
        assert.equal(row.download, document);
        assert.ok(row.href.startsWith('blob:'), row.href);
        assert.equal(row.input, fs.statSync(input(bank)).size);
        assert.equal(row.output, fs.statSync(path.join(chained, document)).size);
        if (row.input > 0) assert.deepEqual(row.progress, [row.input, row.input], `${bank}: progress`);
      }
    });

    await check('two drops give the bytes of one command-line call on the same banks', async () => {
      sameBytes(await linked(page, first[0].href), path.join(chained, 'Piano_DLS.mml'));
      sameBytes(await linked(page, first[2].href), path.join(chained, 'empty_DLS.mml'));
      sameBytes(await linked(page, first[3].href), path.join(chained, 'kit_dls.mml'));
      sameBytes(await linked(page, second[0].href), path.join(chained, 'song_dls.bak.mml'));
      sameBytes(await linked(page, second[3].href), path.join(chained, 'a_dlsx.mml'));
    });

    // The documents' files in the browser's own storage: file names by folder.
    const storedDocuments = (on) => on.evaluate(async () => {
      const parent = await (await navigator.storage.getDirectory()).getDirectoryHandle('dls2mml-documents');
      const folders = {};
      for await (const [name, folder] of parent.entries()) {
        folders[name] = [];
        for await (const file of folder.keys()) folders[name].push(file);
      }
      return folders;
    });

    await check('documents are files in the browser\'s storage, a folder per open page; a closed page\'s goes', async () => {
      // Six documents so far; the damaged one left none.
      const before = await storedDocuments(page);
      const [own] = Object.keys(before);
      assert.deepEqual(Object.values(before).map((files) => files.length), [6], JSON.stringify(before));
      await page.evaluate(async () => {
        const parent = await (await navigator.storage.getDirectory()).getDirectoryHandle('dls2mml-documents');
        const stale = await parent.getDirectoryHandle('closed-page', {create: true});
        await stale.getFileHandle('document-1', {create: true});
      });
      const other = await openPage(browser, `http://127.0.0.1:${server.address().port}/`, problems);
      try {
        const [row] = await drop(other, [input('Piano.DLS')]);
        assert.equal(row.state, 'done', row.note);
        const after = await storedDocuments(page);
        assert.ok(!('closed-page' in after), JSON.stringify(after));
        assert.deepEqual(after[own], before[own]);
        assert.equal(Object.keys(after).length, 2, JSON.stringify(after));
        sameBytes(await linked(page, first[0].href), path.join(chained, 'Piano_DLS.mml'));
      } finally {
        await other.close();
      }
    });

    await check('the three-byte bank gives the worked example, line for line', async () => {
      assert.equal((await linked(page, second[3].href)).toString('latin1'),
        '//========== .DLS_DATA ==========\nCuePoint={"QelDlsData((3 26)\n' +
        'dGJyMAEAAAADAAAAAAAAAAAI2yQ2C579eAA=)"}\n');
    });

    await check('the carried state shows: the repeating block differs from a fresh run\'s', async () => {
      const carried = fs.readFileSync(path.join(chained, 'song_dls.bak.mml'));
      assert.ok(!carried.equals(fs.readFileSync(path.join(fresh, 'song_dls.bak.mml'))),
        'the test block does not depend on the state; choose another');
    });

    await check('a converted bank offers its instruments as -l lists them: number, name, patch, wave bytes', async () => {
      await page.click('#files li:nth-child(1) .chooser summary');
      await page.waitForSelector('#files li:nth-child(1) .chooser input[value="2"]', {timeout: 60000});
      const listed = await page.$$eval('#files li:nth-child(1) .chooser tr', (lines) => lines.slice(1).map((line) =>
        [...line.querySelectorAll('td')].slice(1).map((cell) => cell.textContent)));
      const native = execFileSync(converter, ['-l', input('Piano.DLS')], {encoding: 'utf8'});
      const expected = native.split('\n').map((line) =>
        line.match(/^ +(\d+) {2}(\S+) +bank (\d+)\/(\d+) program (\d+), \d+ regions?, (\d+) wave bytes: (.*)$/))
        .filter(Boolean).map(([, number, kind, msb, lsb, program, waveBytes, name]) =>
          [number, name, `${kind} ${msb}/${lsb} program ${program}`, Number(waveBytes).toLocaleString('en-US')]);
      assert.equal(expected.length, 2, native);
      assert.deepEqual(listed, expected);
      assert.equal(await page.$$eval('#files li:nth-child(3) .chooser', (found) => found.length), 0,
        'the empty bank offers no instruments');
    });

    await check('the chosen instruments give the command line\'s document of the smaller bank', async () => {
      const before = await page.$$eval('#files li', (rows) => rows.length);
      await page.click('#files li:nth-child(1) .chooser input[value="2"]');
      await page.click('#files li:nth-child(1) .chooser button');
      await page.waitForFunction((count) => {
        const rows = [...document.querySelectorAll('#files li')];
        return rows.length === count && /^(done|failed)$/.test(rows[count - 1].className);
      }, {timeout: 120000, polling: 100}, before + 1);
      const row = await page.$eval('#files li:last-child', (line) => ({
        state: line.className, name: line.querySelector('.name').textContent,
        note: line.querySelector('.note').textContent, href: line.querySelector('a') && line.querySelector('a').href,
      }));
      assert.equal(row.state, 'done', row.note);
      assert.equal(row.name, 'Piano.DLS, instruments 2');
      assert.match(row.note, /\(1 of 2 instruments, from a bank of [\d,]+ bytes\)$/);
      const expected = path.join(work, 'Piano_kit.mml');
      execFileSync(converter, ['-q', '--instruments=2', '-o', expected, input('Piano.DLS')]);
      sameBytes(await linked(page, row.href), expected);
    });

    await check('a file without ".dls" or ".mml" is listed as skipped', async () => {
      assert.equal(first[1].state, 'skipped');
      assert.equal(first[1].href, null);
    });

    await check('a document gives its bank back', async () => {
      assert.equal(second[1].state, 'done', second[1].note);
      assert.equal(second[1].download, 'kit.dls');
      sameBytes(await linked(page, second[1].href), input('kit.dls'));
    });

    await check('a damaged document shows its fault as the check reports it', async () => {
      assert.equal(second[2].state, 'failed');
      assert.equal(second[2].href, null);
      assert.match(second[2].reason, /^line \d+, column \d+: /);
      assert.equal(second[2].note, `not checked: ${second[2].reason}`, 'the page\'s lead, then the check\'s words');
      assert.equal(`dls2mml: ${input('broken_dls.mml')}: ${second[2].reason}`, faultLine);
    });

    // What the page says in its own words: every text shown but the files'
    // names, the instruments' names, the documents' names and the converter's reasons.
    const pageTexts = () => page.evaluate(() => {
      const skip = '.name, .given, .reason, a, #language, script, style, title';
      const texts = [];
      const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
      for (let node = walker.nextNode(); node; node = walker.nextNode()) {
        const text = node.textContent.trim();
        if (text && !node.parentElement.closest(skip) && node.parentElement.closest('[hidden]') === null) {
          texts.push(text);
        }
      }
      for (const box of document.querySelectorAll('[aria-label]')) texts.push(box.getAttribute('aria-label'));
      return texts;
    });

    await check('the switch says every text of the page in Japanese, a reload keeps it, and back in English', async () => {
      await page.click('#language [data-language="ja"]');
      assert.equal(await page.$eval('html', (html) => html.lang), 'ja');
      // Words of the format and of file names may stay as they are.
      const untranslated = (await pageTexts()).filter((text) =>
        /[A-Za-z]{2,}/.test(text.replace(/\b(DLS|MML|dls|mml|Ver)\b/g, '')));
      assert.deepEqual(untranslated, []);
      const notes = await page.$$eval('#files li.done > .note', (found) => found.map((note) => note.textContent));
      assert.ok(notes.length > 4 && notes.every((note) => /バイト/.test(note)), notes.join('\n'));
      assert.equal(await page.$eval('#files li:nth-child(2) .note', (note) => note.textContent),
        'スキップしました：バンク（名前に「.dls」を含むもの）でも文書（.mml）でもありません');
      const failed = await page.$$eval('#files li.failed > .note', (found) => found.map((note) => note.textContent));
      assert.deepEqual(failed, [`検査で問題が見つかりました：${second[2].reason}`]);
      const again = await openPage(browser, `http://127.0.0.1:${server.address().port}/`, problems, ['en-US']);
      try {
        assert.equal(await again.$eval('html', (html) => html.lang), 'ja', 'the choice outlives the page');
      } finally {
        await again.close();
      }
      await page.click('#language [data-language="en"]');
      assert.equal(await page.$eval('html', (html) => html.lang), 'en');
      const english = await pageTexts();
      assert.ok(english.every((text) => !/[\u3040-\u30ff]/.test(text)), english.join('\n'));
      assert.equal(await page.$eval('#files li:nth-child(2) .note', (note) => note.textContent),
        'skipped: neither a bank (".dls" in its name) nor a document (.mml)');
    });

    await check('a fresh state gives a fresh run\'s document', async () => {
      await page.click('#fresh');
      await page.waitForFunction(() => /no bank/.test(document.getElementById('state-count').textContent));
      const [row] = await drop(page, [input('song.dls.bak')]);
      sameBytes(await linked(page, row.href), path.join(fresh, 'song_dls.bak.mml'));
    });

    await check('a document whose sizes line comes out shorter than estimated keeps the command line\'s bytes',
      async () => {
        const other = await openPage(browser, `http://127.0.0.1:${server.address().port}/`, problems);
        try {
          const [row] = await drop(other, [input('shrinks.dls')]);
          assert.equal(row.state, 'done', row.note);
          const expected = path.join(moved, 'shrinks_dls.mml');
          // The first 1 MiB of the stream holds as many input bytes: the
          // estimate is the input's length, eight digits; the stream has seven.
          const [, bank, stream] = fs.readFileSync(expected, 'latin1').match(/\((\d+) (\d+)\)\n/);
          assert.deepEqual([bank.length, stream.length], [8, 7], 'the stream has fewer digits than its estimate');
          sameBytes(await linked(other, row.href), expected);
        } finally {
          await other.close();
        }
      });

    await check('the page works opened from disk', async () => {
      const local = await openPage(browser, `file://${path.join(webDir, 'index.html')}`, problems);
      const [row] = await drop(local, [input('Piano.DLS')]);
      assert.equal(row.state, 'done', row.note);
      await local.close();
    });

    // A page with a pool of four workers: the blocks that need no state are
    // coded on all of them, the rest in order on the keeper.
    const poolUrl = `http://127.0.0.1:${server.address().port}/`;
    const pool = await openPage(browser, poolUrl, problems, ['en-US'], 4);
    try {
      await check('a pool of four workers: big banks in one drop, a block needing the state in the next', async () => {
        assert.equal(await pool.$eval('body', (body) => body.dataset.workers), '4');
        const banks = await drop(pool, [input('big1.dls'), input('big2.dls')]);
        const [late] = await drop(pool, [input('late.dls')]);
        for (const [row, name] of [[banks[0], 'big1_dls.mml'], [banks[1], 'big2_dls.mml'], [late, 'late_dls.mml']]) {
          assert.equal(row.state, 'done', `${row.name}: ${row.note}`);
          assert.deepEqual(row.progress, [row.input, row.input], `${row.name}: progress`);
          sameBytes(await linked(pool, row.href), path.join(pooled, name));
        }
        // The same bytes converted on a fresh state give another document.
        assert.ok(!fs.readFileSync(path.join(pooled, 'late_dls.mml')).equals(
          fs.readFileSync(path.join(freshLater, 'later_dls.mml'))), 'the test block does not depend on the state');
      });

      await check('an earlier bank changed before a later drop that needs the state: no document, the message', async () => {
        await pool.click('#fresh');
        await pool.waitForFunction(() => /no bank/.test(document.getElementById('state-count').textContent));
        const [gone] = await drop(pool, [input('gone.dls')]);
        assert.equal(gone.state, 'done', gone.note);
        fs.copyFileSync(input('other.dls'), input('gone.dls'));
        const later = new Date(Date.now() + 60000);
        fs.utimesSync(input('gone.dls'), later, later);
        const [refused] = await drop(pool, [input('later.dls')]);
        assert.equal(refused.state, 'failed');
        assert.equal(refused.href, null);
        assert.match(refused.note, /^An earlier bank has changed or is gone .*"Start afresh"/);
        assert.match(refused.reason, /gone\.dls/, 'the converter\'s words name the bank that changed');
        const [unneeded] = await drop(pool, [input('Piano.DLS')]);
        assert.equal(unneeded.state, 'done', 'a bank that needs no state still converts');
        await pool.click('#fresh');
        await pool.waitForFunction(() => /no bank/.test(document.getElementById('state-count').textContent));
        const [again] = await drop(pool, [input('later.dls')]);
        sameBytes(await linked(pool, again.href), path.join(freshLater, 'later_dls.mml'));
      });
    } finally {
      await pool.close();
    }

    await check('no page error and no console error', async () => {
      assert.deepEqual(problems, []);
    });
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(work, {recursive: true, force: true});
  }
  console.log(`${results.passed} passed, ${results.failed} failed`);
  process.exitCode = results.failed ? 1 : 0;
}

main().catch((error) => {
  console.error(error);
  fs.rmSync(work, {recursive: true, force: true});
  process.exitCode = 1;
});
