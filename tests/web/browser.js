// The drop page in headless Chromium: a static server on 127.0.0.1, the
// browser, and the page's own controls (the file button, the result links).
'use strict';
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const puppeteer = require('puppeteer-core');

function serve(root) {
  const types = {'.html': 'text/html; charset=utf-8', '.js': 'text/javascript'};
  const server = http.createServer((request, response) => {
    const name = path.normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname)).replace(/^\/+/, '');
    const file = path.join(root, name || 'index.html');
    if (!file.startsWith(root) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, {'Content-Type': types[path.extname(file)] || 'application/octet-stream'});
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

async function launch(work) {
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    protocolTimeout: 1800000, // a large bank's conversion is one long wait
    userDataDir: fs.mkdtempSync(path.join(work, 'profile-')),
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
}

// Opens the page and keeps every page error and console error it reports.
// languages: what the browser says it prefers (navigator.languages), if
// given; cores: the cores it reports (navigator.hardwareConcurrency), if given.
async function openPage(browser, url, problems, languages, cores) {
  const page = await browser.newPage();
  if (cores) {
    await page.evaluateOnNewDocument((count) => {
      Object.defineProperty(navigator, 'hardwareConcurrency', {get: () => count});
    }, cores);
  }
  if (languages) {
    await page.evaluateOnNewDocument((list) => {
      Object.defineProperty(navigator, 'languages', {get: () => list});
      Object.defineProperty(navigator, 'language', {get: () => list[0]});
    }, languages);
  }
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  page.on('console', (message) => {
    if (message.type() === 'error') problems.push(`console error: ${message.text()}`);
  });
  await page.goto(url);
  await page.waitForSelector('body.ready', {timeout: 30000});
  return page;
}

// Chooses files (a drop) and waits until every listed file is settled.
async function drop(page, files, timeout = 120000) {
  const before = await page.$$eval('#files li', (rows) => rows.length);
  const chooser = await page.$('#choose');
  await chooser.uploadFile(...files);
  await page.waitForFunction((count) => {
    const rows = [...document.querySelectorAll('#files li')];
    return rows.length === count && rows.every((row) => /^(done|failed|skipped)$/.test(row.className));
  }, {timeout, polling: 20}, before + files.length);
  return page.$$eval('#files li', (rows, from) => rows.slice(from).map((row) => {
    const link = row.querySelector('a');
    return {
      state: row.className, name: row.querySelector('.name').textContent,
      note: row.querySelector('.note').textContent,
      reason: row.querySelector('.note .reason') && row.querySelector('.note .reason').textContent,
      download: link && link.download, href: link && link.href,
      input: row.dataset.input && Number(row.dataset.input), output: row.dataset.output && Number(row.dataset.output),
      seconds: row.dataset.seconds && Number(row.dataset.seconds),
      timing: row.dataset.timing && JSON.parse(row.dataset.timing),
      progress: [row.querySelector('progress').value, row.querySelector('progress').max],
    };
  }), before);
}

async function linked(page, href) {
  const base64 = await page.evaluate(async (url) => {
    const bytes = new Uint8Array(await (await fetch(url)).arrayBuffer());
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(text);
  }, href);
  return Buffer.from(base64, 'base64');
}

// The SHA-256 of a linked result, computed in the page (for results too large to carry over).
async function linkedDigest(page, href) {
  return page.evaluate(async (url) => {
    const digest = await crypto.subtle.digest('SHA-256', await (await fetch(url)).arrayBuffer());
    return [...new Uint8Array(digest)].map((b) => b.toString(16).padStart(2, '0')).join('');
  }, href);
}

module.exports = {serve, launch, openPage, drop, linked, linkedDigest};
