// The simulator's amplifier unit serving its browser console, and Debian's
// Chromium driven by Playwright: what the browser test and the console's
// benchmark share.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

// Installed by scripts/install-deps in the user's cache, at the version this
// folder's package.json locks.
const locked = JSON.parse(fs.readFileSync(new URL('./package.json', import.meta.url))).dependencies['playwright-core'];
const cache = process.env.XDG_CACHE_HOME || path.join(os.homedir(), '.cache');
const { chromium } = createRequire(path.join(cache, 'amp-panel', `playwright-${locked}`, 'package.json'))(
  'playwright-core');

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
export const read = (p) => (fs.existsSync(p) ? fs.readFileSync(p, 'utf8') : '');
export const count = (text, what) => text.split(what).length - 1;

// A test's simulator and work folder, from its command line.
export function testArgs(name) {
  const [simExe, work] = process.argv.slice(2);
  if (simExe && work) return [simExe, work];
  console.error(`usage: node ${name} PANEL_SIM WORK_DIR`);
  process.exit(2);
}

export async function waitFor(what, check, ms = 15000) {
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

// Starts `panel-sim` in a fresh root under `work` with the console on a free
// port; keys go to its standard input (" " transmit on/off, "x" the end).
// With `audio`, the unit has its sound interface (a 700 Hz tone captured, what
// it plays in ROOT/sim/played.raw) and its audio threads on. `setup`: more
// lines of the setup file; `timeScale`: the program's clock that much faster.
export async function startStation(simExe, work, { audio = false, setup = '', timeScale = 1 } = {}) {
  const root = path.join(work, 'root');
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(path.join(root, 'opt', 'set'), { recursive: true });
  const port = await freePort();
  // The unit's setup: only the console's port; the panel writes the rest.
  fs.writeFileSync(path.join(root, 'opt', 'set', 'setup.txt'), `WebPort: ${port}\n` + (audio
    ? 'EnableRead: 1\nEnableWrite: 1\nAudioIn: tavin\nAudioOut: tavout\nMultiplier: 2\nAudioCompress: 0\n'
    : '') + setup);
  const st = {
    root,
    fbPath: path.join(root, 'dev', 'fb0'),
    syslogPath: path.join(root, 'syslog.log'),
    url: `https://127.0.0.1:${port}/`,
    out: '',
    playedPath: path.join(root, 'sim', 'played.raw'),
    sim: spawn(simExe, ['--root', root, '--no-window', '--time-scale', String(timeScale)]
      .concat(audio ? ['--audio'] : []),
      { stdio: ['pipe', 'pipe', 'pipe'] }),
  };
  st.sim.stdout.on('data', (d) => { st.out += d; });
  st.sim.stderr.on('data', (d) => { st.out += d; });
  st.syslog = () => read(st.syslogPath);
  await waitFor('the simulator', () => st.out.includes('browser console at ' + st.url), 60000);
  await waitFor('the console', () => st.syslog().includes(`web: console at https port ${port}`), 60000);
  const codeLine = /^Code: ([0-9A-Z]{12})$/m;
  await waitFor('the access code', () => codeLine.test(read(path.join(root, 'opt/set/remote.txt'))));
  st.code = read(path.join(root, 'opt/set/remote.txt')).match(codeLine)[1];
  return st;
}

// Ends the panel with F12 (the simulator then ends), else terminates it.
export async function stopStation(st) {
  if (!st || st.sim.exitCode !== null) return;
  st.sim.stdin.write('x');
  const ended = await Promise.race([new Promise((r) => st.sim.on('exit', () => r(true))), sleep(20000)]);
  if (!ended) st.sim.kill('SIGTERM');
}

// Runs a test's main; on a failure prints the end of the simulator's output and
// of the panel's log; always closes the browser and ends the station, then exits.
// `parts` gives the test's station and browser as they are at that moment.
export async function runMain(name, main, parts) {
  let failed = false;
  try {
    await main();
  } catch (e) {
    failed = true;
    console.error(`${name}: FAILED: ` + (e.stack || e));
    const { st } = parts();
    if (st) {
      console.error('--- simulator output (end) ---\n' + st.out.slice(-3000));
      console.error('--- panel log (end) ---\n' + st.syslog().slice(-3000));
    }
  } finally {
    const { st, browser } = parts();
    if (browser) await browser.close().catch(() => {});
    await stopStation(st);
  }
  process.exit(failed ? 1 : 0);
}

// The panel program, the simulator's child.
export function panelPid(st) {
  const children = read(`/proc/${st.sim.pid}/task/${st.sim.pid}/children`).trim().split(/\s+/);
  return children.find((pid) => pid && read(`/proc/${pid}/comm`).trim() === 'panel');
}

// Processor time a process has used, in seconds.
export function cpuSeconds(pid) {
  const stat = read(`/proc/${pid}/stat`);
  const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
  return (Number(fields[11]) + Number(fields[12])) / 100; // utime, stime in ticks of 1/100 s
}

// With `micWav`, the browser's microphone plays that WAV file, looped.
export function launchChromium({ micWav = null } = {}) {
  const args = ['--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required'];
  if (micWav)
    args.push('--use-fake-ui-for-media-stream', '--use-fake-device-for-media-stream',
      '--use-file-for-fake-audio-capture=' + micWav);
  return chromium.launch({ executablePath: '/usr/bin/chromium', args });
}

// A new browser (its own cookies) with the unit's own certificate accepted, as
// an operator accepts it once, and the microphone allowed.
export async function newConsolePage(browser) {
  const context = await browser.newContext({ ignoreHTTPSErrors: true, permissions: ['microphone'] });
  return context.newPage();
}

// A WAV file of a sine tone: 16-bit mono at 48 kHz, half of full scale.
export function writeToneWav(file, hz, seconds) {
  const n = 48000 * seconds;
  const b = Buffer.alloc(44 + 2 * n);
  b.write('RIFF', 0); b.writeUInt32LE(36 + 2 * n, 4); b.write('WAVEfmt ', 8);
  b.writeUInt32LE(16, 16); b.writeUInt16LE(1, 20); b.writeUInt16LE(1, 22);
  b.writeUInt32LE(48000, 24); b.writeUInt32LE(96000, 28); b.writeUInt16LE(2, 32); b.writeUInt16LE(16, 34);
  b.write('data', 36); b.writeUInt32LE(2 * n, 40);
  for (let i = 0; i < n; i++) b.writeInt16LE(Math.round(16384 * Math.sin((2 * Math.PI * hz * i) / 48000)), 44 + 2 * i);
  fs.writeFileSync(file, b);
}

// The left channel of what the unit played (S16 stereo at 48 kHz), from byte `from`.
export function played(st, from = 0) {
  const b = fs.existsSync(st.playedPath) ? fs.readFileSync(st.playedPath) : Buffer.alloc(0);
  const out = [];
  for (let i = Math.max(0, from - (from % 4)); i + 4 <= b.length; i += 4) out.push(b.readInt16LE(i));
  return out;
}

export function playedBytes(st) {
  return fs.existsSync(st.playedPath) ? fs.statSync(st.playedPath).size : 0;
}

// The strongest frequency in `samples` at 48 kHz between 100 and 4000 Hz
// (Goertzel, 5 Hz steps) and the level (RMS) of the samples.
export function toneOf(samples) {
  let best = 0;
  let bestPower = -1;
  for (let hz = 100; hz <= 4000; hz += 5) {
    const k = 2 * Math.cos((2 * Math.PI * hz) / 48000);
    let s1 = 0;
    let s2 = 0;
    for (const x of samples) { const s0 = x + k * s1 - s2; s2 = s1; s1 = s0; }
    const power = s1 * s1 + s2 * s2 - k * s1 * s2;
    if (power > bestPower) { bestPower = power; best = hz; }
  }
  const rms = Math.sqrt(samples.reduce((a, x) => a + x * x, 0) / Math.max(1, samples.length));
  return { hz: best, rms };
}

export async function login(page, url, code) {
  await page.goto(url);
  await page.fill('input[name=code]', code);
  await Promise.all([page.waitForNavigation(), page.click('button')]);
}

// A new browser logged in to the station's console, once its page says `link`
// ('connected, in control' or 'connected, watching').
export async function openConsole(browser, st, link) {
  const page = await newConsolePage(browser);
  await login(page, st.url, st.code);
  await page.waitForSelector('#screen');
  await waitFor(link, async () => (await page.textContent('#link')) === link);
  return page;
}

// FNV-1a over R, G, B of every pixel: the framebuffer holds B, G, R, 0.
export function fbDigest(st) {
  const b = fs.readFileSync(st.fbPath);
  if (b.length < 800 * 480 * 4) return -1;
  let h = 0x811c9dc5;
  for (let i = 0; i < 800 * 480 * 4; i += 4)
    for (const k of [2, 1, 0]) { h ^= b[i + k]; h = Math.imul(h, 0x01000193); }
  return h >>> 0;
}

// The same over the canvas's R, G, B.
export function canvasDigest(page) {
  return page.evaluate(() => {
    const c = document.getElementById('screen');
    const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let h = 0x811c9dc5;
    for (let i = 0; i < d.length; i += 4)
      for (let k = 0; k < 3; k++) { h ^= d[i + k]; h = Math.imul(h, 0x01000193); }
    return h >>> 0;
  });
}

// Waits until the canvas and the framebuffer agree (read close together; a
// change between the two reads is simply tried again).
export async function showsPanel(st, page, what, ms = 15000) {
  await waitFor(what + ': the canvas equal to the framebuffer', async () => {
    const before = fbDigest(st);
    const canvas = await canvasDigest(page);
    return canvas === before && fbDigest(st) === before;
  }, ms);
}

export async function changedFrom(st, digest, what) {
  await waitFor(what + ': the framebuffer changes', () => fbDigest(st) !== digest);
}
