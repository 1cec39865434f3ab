// The transmit time limit with a browser console in control, in Debian's
// Chromium driven by Playwright, against the simulator's amplifier unit with
// RemoteTxLimit 20 on a clock twice as fast: while the transceiver transmits
// the page shows the limit and the seconds left, a warning ten seconds before
// the end, then the notice that the limit ended the transmission with a button
// to acknowledge it (the controller's only); after the click the notice goes
// from the page and from the station's alarm keys.
//   node txlimit.mjs PANEL_SIM WORK_DIR
import assert from 'node:assert/strict';
import { launchChromium, openConsole, runMain, startStation, testArgs, waitFor } from './station.mjs';

const [simExe, work] = testArgs('txlimit.mjs');
let st = null;
let browser = null;

const text = (page, sel) => page.textContent(sel).catch(() => '');
const statusJson = (page) => page.evaluate(() => fetch('/status.json').then((r) => r.json()));

async function main() {
  st = await startStation(simExe, work, { setup: 'RemoteTxLimit: 20\n', timeScale: 2 });
  browser = await launchChromium();
  const page = await openConsole(browser, st, 'connected, in control');
  const watcher = await openConsole(browser, st, 'connected, watching');

  // Before any transmission: the limit in the values and /status.json, no notice.
  await waitFor('the limit in the values', async () => (await text(page, '#v-tx_limit_s')) === '20 s');
  assert.equal(await page.locator('#txlimit').isVisible(), false, 'a notice before any transmission');
  let json = await statusJson(page);
  assert.deepEqual([json.tx_limit_s, json.tx_left_s, json.tx_limit], [20, null, 'idle'], JSON.stringify(json));

  // The transceiver transmits: the seconds left count down.
  st.sim.stdin.write(' ');
  await waitFor('the limit counting', async () => /^Transmit time limit 20 s: \d+ s left$/.test(
    await text(page, '#txlimit-text')) && page.locator('#txlimit').isVisible(), 20000);
  json = await statusJson(page);
  assert.equal(json.tx_limit, 'timing', JSON.stringify(json));
  assert.ok(json.tx_left_s > 10 && json.tx_left_s <= 20, JSON.stringify(json));

  // Ten seconds before the end: the warning, in both pages.
  for (const p of [page, watcher])
    await waitFor('the warning', async () => (await p.locator('#txlimit.warning').isVisible()) &&
      (await text(p, '#txlimit-text')).endsWith('then the transmission is ended'), 20000);
  assert.equal(await page.locator('#ack').isVisible(), false, 'the acknowledgement offered before the limit');

  // At the limit: the notice, the button for the controller only, and the
  // station's alarm key in the page's list.
  await waitFor('the limit reached', async () => (await page.locator('#txlimit.error').isVisible()) &&
    (await text(page, '#txlimit-text')).startsWith('Transmit time limit reached'), 20000);
  await waitFor('the button', () => page.locator('#ack').isVisible());
  assert.ok((await text(page, '#alarms')).includes('TX limit RESET to TX'), await text(page, '#alarms'));
  await waitFor('the notice watched', () => watcher.locator('#txlimit.error').isVisible());
  assert.equal(await watcher.locator('#ack').isVisible(), false, 'a watcher is offered the acknowledgement');
  json = await statusJson(page);
  assert.deepEqual([json.tx_left_s, json.tx_limit], [null, 'reached'], JSON.stringify(json));

  // This transceiver is keyed by its PTT line, which no receive request
  // releases: its operator lets go, the power falls and the station goes to standby.
  st.sim.stdin.write(' ');
  await waitFor('standby', () => st.syslog().includes('no RF: the amplifier is in standby'), 30000);
  assert.equal(await page.locator('#txlimit.error').isVisible(), true, 'the notice went without an acknowledgement');

  // The acknowledgement: the notice and its alarm key go.
  await page.click('#ack');
  await waitFor('the notice gone', async () => !(await page.locator('#txlimit').isVisible()) &&
    !(await text(page, '#alarms')).includes('TX limit'));
  await waitFor('the notice gone, watched', async () => !(await watcher.locator('#txlimit').isVisible()));
  assert.ok(st.syslog().includes('acknowledges the transmit time limit'));
  json = await statusJson(page);
  assert.deepEqual([json.tx_left_s, json.tx_limit], [null, 'idle'], JSON.stringify(json));
  console.log('txlimit.mjs: all checks passed');
}

await runMain('txlimit.mjs', main, () => ({ st, browser }));
