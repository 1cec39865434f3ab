// The browser console's cost, measured against the simulator's amplifier unit
// with Debian's Chromium (see bench/bench_console).
//   node console_bench.mjs PANEL_SIM WORK_DIR SECONDS
import {
  cpuSeconds, launchChromium, login, newConsolePage, panelPid, showsPanel, sleep, startStation, stopStation,
} from '../tests/browser/station.mjs';

const [simExe, work, secondsArg] = process.argv.slice(2);
const seconds = Number(secondsArg || 10);
if (!simExe || !work || !(seconds > 0)) {
  console.error('usage: node console_bench.mjs PANEL_SIM WORK_DIR SECONDS');
  process.exit(2);
}

const stats = (page) => page.evaluate(() => ({ ...window.consoleStats }));

// The panel's share of a core and what each page received, over `seconds`.
async function measure(st, pid, pages) {
  const before = await Promise.all(pages.map(stats));
  const cpu0 = cpuSeconds(pid);
  const t0 = Date.now();
  await sleep(seconds * 1000);
  const wall = (Date.now() - t0) / 1000;
  const cpu = (100 * (cpuSeconds(pid) - cpu0)) / wall;
  const after = await Promise.all(pages.map(stats));
  const per = pages.map((_, i) => ({
    bytes: (after[i].bytes - before[i].bytes) / wall,
    updates: (after[i].updates - before[i].updates) / wall,
  }));
  const mean = (k) => (per.length ? per.reduce((a, p) => a + p[k], 0) / per.length : 0);
  return { cpu, bytes: mean('bytes'), updates: mean('updates') };
}

async function openConsoles(browser, st, n) {
  const pages = [];
  for (let i = 0; i < n; i++) {
    const page = await newConsolePage(browser);
    await login(page, st.url, st.code);
    await page.waitForSelector('#screen');
    await showsPanel(st, page, 'a new console', 30000);
    pages.push(page);
  }
  return pages;
}

const rows = [];
function row(what, browsers, m, base) {
  rows.push([what, String(browsers), browsers ? (m.bytes / 1024).toFixed(1) : '-',
    browsers ? m.updates.toFixed(1) : '-', m.cpu.toFixed(2),
    base === undefined ? '' : (Math.abs(m.cpu - base) < 0.005 ? 0 : m.cpu - base).toFixed(2)]);
}

let st = null;
let browser = null;
let failed = false;
try {
  st = await startStation(simExe, work);
  await sleep(3000); // the start-up's pictures are over
  const pid = panelPid(st);
  if (!pid) throw new Error('no panel process under the simulator');
  browser = await launchChromium();

  // No browser, then one, on the still main page (no transmission yet).
  const still0 = await measure(st, pid, []);
  row('still page', 0, still0);
  const first = await openConsoles(browser, st, 1);
  await sleep(1000);
  row('still page', 1, await measure(st, pid, first), still0.cpu);

  // Transmitting: the needles move; one browser, none, eight.
  st.sim.stdin.write(' ');
  await sleep(2000);
  const moving1 = await measure(st, pid, first);
  await first[0].context().close();
  await sleep(1000);
  const moving0 = await measure(st, pid, []);
  row('needles moving', 0, moving0);
  row('needles moving', 1, moving1, moving0.cpu);
  const eight = await openConsoles(browser, st, 8);
  await sleep(1000);
  row('needles moving', 8, await measure(st, pid, eight), moving0.cpu);
  st.sim.stdin.write(' ');
  await Promise.all(eight.slice(1).map((p) => p.context().close()));
  await sleep(3000);

  // A page change: key 6 on the panel, the bytes it took and when it was shown.
  const one = eight[0];
  const before = await stats(one);
  const t0 = Date.now();
  await one.click('#keys button[data-key="6"]');
  await sleep(300);
  await showsPanel(st, one, 'the page change');
  const shownMs = Date.now() - t0;
  await sleep(500);
  const after = await stats(one);

  const head = ['case', 'browsers', 'KiB/s each', 'updates/s each', 'panel % core', 'added'];
  const width = head.map((h, i) => Math.max(h.length, ...rows.map((r) => r[i].length)));
  const line = (r) => r.map((c, i) => (i ? c.padStart(width[i]) : c.padEnd(width[i]))).join('  ');
  console.log(`console benchmark, ${seconds} s a case (panel process only; Chromium not counted)`);
  console.log(line(head));
  for (const r of rows) console.log(line(r));
  console.log(`page change: ${after.bytes - before.bytes} bytes in ${after.updates - before.updates} updates, ` +
    `the canvas equal to the panel ${shownMs} ms after the click`);
} catch (e) {
  failed = true;
  console.error('console_bench: ' + (e.stack || e));
} finally {
  if (browser) await browser.close().catch(() => {});
  await stopStation(st);
}
process.exit(failed ? 1 : 0);
