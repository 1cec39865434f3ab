// The browser console in Debian's Chromium, driven by Playwright, against the
// simulator's amplifier unit: a wrong code is refused and throttled; after the
// right one the canvas shows exactly the panel's framebuffer after each change
// (moving needles, a page change, the status page, a menu); a click on key 6
// turns the page, a long press acts as the panel's own long press; a second
// browser watches and its keys do nothing.
//   node console.mjs PANEL_SIM WORK_DIR
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { chromium } from 'playwright-core';

const [simExe, work] = process.argv.slice(2);
if (!simExe || !work) {
  console.error('usage: node console.mjs PANEL_SIM WORK_DIR');
  process.exit(2);
}
const root = path.join(work, 'root');
const fbPath = path.join(root, 'dev', 'fb0');
const syslogPath = path.join(root, 'syslog.log');
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function waitFor(what, check, ms = 15000) {
  const end = Date.now() + ms;
  for (;;) {
    if (await check()) return;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await sleep(50);
  }
}

function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.on('error', reject);
    s.listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

const read = (p) => (fs.existsSync(p) ? fs.readFileSync(p, 'utf8') : '');
const count = (text, what) => text.split(what).length - 1;

// FNV-1a over R, G, B of every pixel: the framebuffer holds B, G, R, 0.
function fbDigest() {
  const b = fs.readFileSync(fbPath);
  if (b.length < 800 * 480 * 4) return -1;
  let h = 0x811c9dc5;
  for (let i = 0; i < 800 * 480 * 4; i += 4)
    for (const k of [2, 1, 0]) { h ^= b[i + k]; h = Math.imul(h, 0x01000193); }
  return h >>> 0;
}

// The same over the canvas's R, G, B.
function canvasDigest(page) {
  return page.evaluate(() => {
    const c = document.getElementById('screen');
    const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let h = 0x811c9dc5;
    for (let i = 0; i < d.length; i += 4)
      for (let k = 0; k < 3; k++) { h ^= d[i + k]; h = Math.imul(h, 0x01000193); }
    return h >>> 0;
  });
}

// The canvas and the framebuffer agree (read close together; a change between
// the two reads is simply tried again).
async function showsPanel(page, what) {
  await waitFor(what + ': the canvas equal to the framebuffer', async () => {
    const before = fbDigest();
    const canvas = await canvasDigest(page);
    return canvas === before && fbDigest() === before;
  });
}

async function changedFrom(digest, what) {
  await waitFor(what + ': the framebuffer changes', () => fbDigest() !== digest);
}

let sim = null;
let simOut = '';
let browser = null;

async function login(page, url, code) {
  await page.goto(url);
  await page.fill('input[name=code]', code);
  const [response] = await Promise.all([page.waitForNavigation(), page.click('button')]);
  return response;
}

async function main() {
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(path.join(root, 'opt', 'set'), { recursive: true });
  const port = await freePort();
  // The unit's setup: only the console's port; the panel writes the rest.
  fs.writeFileSync(path.join(root, 'opt', 'set', 'setup.txt'), `WebPort: ${port}\n`);
  sim = spawn(simExe, ['--root', root, '--no-window'], { stdio: ['pipe', 'pipe', 'pipe'] });
  sim.stdout.on('data', (d) => { simOut += d; });
  sim.stderr.on('data', (d) => { simOut += d; });
  const url = `https://127.0.0.1:${port}/`;
  await waitFor('the simulator', () => simOut.includes('browser console at ' + url), 60000);
  await waitFor('the console', () => read(syslogPath).includes(`web: console at https port ${port}`), 60000);
  await waitFor('the access code', () => /^Code: [0-9A-Z]{12}$/m.test(read(path.join(root, 'opt/set/remote.txt'))));
  const code = read(path.join(root, 'opt/set/remote.txt')).match(/^Code: ([0-9A-Z]{12})$/m)[1];
  const wrong = (code[0] === 'A' ? 'B' : 'A') + code.slice(1);

  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  // The unit's own certificate, accepted once as an operator does.
  const controller = await browser.newContext({ ignoreHTTPSErrors: true });
  const page = await controller.newPage();

  // A wrong code: refused; at once the right one: throttled.
  let r = await login(page, url, wrong);
  assert.equal(r.status(), 403);
  assert.equal(await page.locator('input[name=code]').count(), 1);
  r = await login(page, url, code);
  assert.equal(r.status(), 429);
  assert.equal(await page.locator('#screen').count(), 0);
  assert.equal(await page.locator('input[name=code]').count(), 1);
  await sleep(1100);
  r = await login(page, url, code);
  assert.equal(new URL(page.url()).pathname, '/');
  await page.waitForSelector('#screen');
  await waitFor('control', async () => (await page.textContent('#link')) === 'connected, in control');
  await showsPanel(page, 'the first picture');

  // Needles moving: the transceiver transmits into the amplifier.
  let digest = fbDigest();
  sim.stdin.write(' ');
  await changedFrom(digest, 'transmitting');
  await waitFor('the forward power in the values', async () =>
    parseFloat(await page.textContent('#v-forward_w').catch(() => '0')) > 1);
  await showsPanel(page, 'transmitting');
  digest = fbDigest();
  sim.stdin.write(' ');
  await changedFrom(digest, 'transmission ended');
  await showsPanel(page, 'after transmitting');

  // A click on key 6: the panel turns its page.
  const turns = count(read(syslogPath), 'type to ');
  digest = fbDigest();
  await page.click('#keys button[data-key="6"]');
  await waitFor('the page turned', () => count(read(syslogPath), 'type to ') === turns + 1);
  await changedFrom(digest, 'page change');
  await showsPanel(page, 'page change');

  // A long press of key 6: the status page, as the panel's own long press,
  // and no page turn on release.
  digest = fbDigest();
  const key6 = page.locator('#keys button[data-key="6"]');
  await key6.hover();
  await page.mouse.down();
  await sleep(1200);
  await page.mouse.up();
  await changedFrom(digest, 'long press');
  await showsPanel(page, 'the status page');
  await sleep(300);
  assert.equal(count(read(syslogPath), 'type to '), turns + 1, 'a long press turned the page');
  // Key 6 closes the status page, without turning the page.
  digest = fbDigest();
  await page.keyboard.down('6');
  await sleep(150);
  await page.keyboard.up('6');
  await changedFrom(digest, 'status page closed');
  await showsPanel(page, 'status page closed');
  assert.equal(count(read(syslogPath), 'type to '), turns + 1);

  // A second browser watches: the same picture, and its keys do nothing.
  const watcherContext = await browser.newContext({ ignoreHTTPSErrors: true });
  const watcher = await watcherContext.newPage();
  await login(watcher, url, code);
  await watcher.waitForSelector('#screen');
  await waitFor('watching', async () => (await watcher.textContent('#link')) === 'connected, watching');
  await showsPanel(watcher, 'the watcher');
  await watcher.click('#keys button[data-key="6"]');
  await watcher.keyboard.press('6');
  await sleep(1500);
  assert.equal(count(read(syslogPath), 'type to '), turns + 1, "a watcher's key turned the page");

  // The controller opens the menu; both browsers show it.
  digest = fbDigest();
  await page.click('#keys button[data-key="5"]');
  await changedFrom(digest, 'menu');
  await showsPanel(page, 'the menu');
  await showsPanel(watcher, 'the menu, watched');
  console.log('console.mjs: all checks passed');
}

let failed = false;
try {
  await main();
} catch (e) {
  failed = true;
  console.error('console.mjs: FAILED: ' + (e.stack || e));
  console.error('--- simulator output (end) ---\n' + simOut.slice(-3000));
  console.error('--- panel log (end) ---\n' + read(syslogPath).slice(-3000));
} finally {
  if (browser) await browser.close().catch(() => {});
  if (sim && sim.exitCode === null) {
    sim.stdin.write('x'); // F12: the panel ends
    const ended = await Promise.race([new Promise((r) => sim.on('exit', () => r(true))), sleep(20000)]);
    if (!ended) sim.kill('SIGTERM');
  }
}
process.exit(failed ? 1 : 0);
