// The browser console in Debian's Chromium, driven by Playwright, against the
// simulator's amplifier unit: after the access code (its refusals are
// WebConsoleTest's) the canvas shows exactly the panel's framebuffer after each
// change (moving needles, a page change, the status page, a menu); a click on
// key 6 turns the page, a long press acts as the panel's own long press; a
// second browser watches (that its keys do nothing is WebConsoleTest's);
// "Take control" is seen only while nobody is in control, and a watcher takes
// control with it; the station's audio is heard in the page, and the browser's
// microphone reaches the station's playback only while "talk" is held.
//   node console.mjs PANEL_SIM WORK_DIR
import assert from 'node:assert/strict';
import path from 'node:path';
import {
  changedFrom, count, fbDigest, launchChromium, openConsole, played, playedBytes, showsPanel, sleep, runMain,
  startStation, testArgs, toneOf, waitFor, writeToneWav,
} from './station.mjs';

const [simExe, work] = testArgs('console.mjs');
let st = null;
let browser = null;

async function main() {
  st = await startStation(simExe, work, { audio: true });

  const micWav = path.join(work, 'mic-1000hz.wav');
  writeToneWav(micWav, 1000, 3);
  browser = await launchChromium({ micWav });
  const page = await openConsole(browser, st, 'connected, in control');
  await showsPanel(st, page, 'the first picture');
  // `act` changes the panel, and the page shows the change.
  const shown = async (what, act) => {
    const digest = fbDigest(st);
    await act();
    await changedFrom(st, digest, what);
    await showsPanel(st, page, what);
  };

  // Needles moving: the transceiver transmits into the amplifier.
  await shown('transmitting', () => st.sim.stdin.write(' '));
  await waitFor('the forward power in the values', async () =>
    parseFloat(await page.textContent('#v-forward_w').catch(() => '0')) > 1);
  await shown('transmission ended', () => st.sim.stdin.write(' '));

  // A click on key 6: the panel turns its page.
  const turns = count(st.syslog(), 'type to ');
  await shown('page change', () => page.click('#keys button[data-key="6"]'));
  await waitFor('the page turned', () => count(st.syslog(), 'type to ') === turns + 1);

  // A long press of key 6: the status page, as the panel's own long press,
  // and no page turn on release.
  await shown('the status page', async () => {
    await page.locator('#keys button[data-key="6"]').hover();
    await page.mouse.down();
    await sleep(1200);
    await page.mouse.up();
  });
  await sleep(300);
  assert.equal(count(st.syslog(), 'type to '), turns + 1, 'a long press turned the page');
  // Key 6 closes the status page, without turning the page.
  await shown('status page closed', async () => {
    await page.keyboard.down('6');
    await sleep(150);
    await page.keyboard.up('6');
  });
  assert.equal(count(st.syslog(), 'type to '), turns + 1);

  // A second browser watches: the same picture.
  const watcher = await openConsole(browser, st, 'connected, watching');
  // Someone is in control: neither browser is offered to take it.
  for (const [who, p] of [['controller', page], ['watcher', watcher]])
    assert.equal(await p.locator('#take').isVisible(), false, `the ${who} is offered "Take control"`);
  await showsPanel(st, watcher, 'the watcher');

  // The controller opens the menu; both browsers show it.
  await shown('the menu', () => page.click('#keys button[data-key="5"]'));
  await showsPanel(st, watcher, 'the menu, watched');

  // The station's 700 Hz tone, heard in the page (its analyser): as Opus
  // through WebCodecs, which Chromium has, then as PCM.
  const heard = {};
  for (const form of ['opus', 'pcm']) {
    if (form === 'pcm') {
      const opusOnly = await page.evaluate(() => window.consoleStats);
      assert.ok(opusOnly.opus > 0 && opusOnly.pcm === 0, `Opus: ${opusOnly.opus} packets, ${opusOnly.pcm} PCM blocks`);
      await page.click('#listen'); // off
      await page.evaluate(() => { window.consoleAudioPcm = true; });
      await sleep(500); // what was scheduled has played
    }
    await page.click('#listen');
    await waitFor('the form chosen', async () => (await page.evaluate(() => window.consoleAudio.form)) === form);
    // Some of it played first, so that the analyser hears this form.
    await waitFor(`${form} audio`, async () => (await page.evaluate((f) => window.consoleStats[f], form)) >= 10);
    await waitFor(`the station tone in the page (${form})`, async () => {
      heard[form] = await page.evaluate(() => {
        const a = window.consoleAudio.analyser;
        const d = new Float32Array(a.frequencyBinCount);
        a.getFloatFrequencyData(d);
        let best = 1;
        for (let i = 2; i < d.length; i++) if (d[i] > d[best]) best = i;
        return d[best] > -60 ? (best * a.context.sampleRate) / a.fftSize : 0;
      });
      return Math.abs(heard[form] - 700) < 15;
    });
  }

  // The microphone's 1000 Hz tone: played while "talk" is held, not before
  // and not after.
  const quiet = played(st);
  assert.ok(quiet.length === 0 || toneOf(quiet).rms < 50, `the station played ${quiet.length} frames before "talk"`);
  const from = playedBytes(st);
  await page.locator('#talk').hover();
  await page.mouse.down();
  await sleep(2000);
  await page.mouse.up();
  await sleep(300);
  const talked = played(st, from);
  assert.ok(talked.length > 48000, `only ${talked.length} frames played while talking`);
  const tone = toneOf(talked.slice(talked.length >> 2, (talked.length >> 2) + 24000));
  assert.ok(Math.abs(tone.hz - 1000) <= 10 && tone.rms > 1000, `the station played ${tone.hz} Hz at ${tone.rms} RMS`);
  // The microphone stays open; past what was queued (at most 100 ms, 200
  // allowed), nothing more is played.
  const released = playedBytes(st);
  await sleep(1000);
  const after = played(st, released + 4 * 9600);
  const afterTone = toneOf(after);
  assert.ok(after.length === 0 || afterTone.rms < 50,
    `the station played ${after.length} frames at ${afterTone.rms} RMS (${afterTone.hz} Hz) after "talk"`);

  // The controller leaves: the watcher is offered control, takes it, and the
  // offer goes.
  await page.close();
  await waitFor('"Take control" shown to the watcher', () => watcher.locator('#take').isVisible());
  await watcher.click('#take');
  await waitFor('the watcher in control',
    async () => (await watcher.textContent('#link')) === 'connected, in control');
  assert.equal(await watcher.locator('#take').isVisible(), false, 'the new controller is offered "Take control"');

  console.log(`console.mjs: the page heard ${heard.opus.toFixed(0)} Hz (Opus), ${heard.pcm.toFixed(0)} Hz (PCM); ` +
    `the station played ${tone.hz} Hz while talking`);
  console.log('console.mjs: all checks passed');
}

await runMain('console.mjs', main, () => ({ st, browser }));
