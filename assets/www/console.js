// The console page: the panel's picture on a canvas, its six keys, the
// amplifier's values and alarms as text, and the station's audio both ways,
// over the unit's WebSocket.
'use strict';

const rows = [
  ['band', 'Band', (v) => v],
  ['antenna', 'Antenna', (v) => v],
  ['bank', 'Bank', (v) => v],
  ['tuner', 'Tuner', (v) => v],
  ['tx', 'Transmit', (v) => (v ? 'on' : 'off')],
  ['forward_w', 'Forward', (v) => v.toFixed(1) + ' W'],
  ['reflected_w', 'Reflected', (v) => v.toFixed(1) + ' W'],
  ['input_w', 'Input', (v) => v.toFixed(1) + ' W'],
  ['swr', 'SWR', (v) => v.toFixed(2)],
  ['board_c', 'Board', (v) => v.toFixed(1) + ' \u00b0C'],
  ['heatsink_c', 'Heat sink', (v) => v.toFixed(1) + ' \u00b0C'],
  ['supply_v', 'Supply', (v) => v.toFixed(1) + ' V'],
  ['current_a', 'Current', (v) => v.toFixed(1) + ' A'],
  ['tx_limit_s', 'TX limit', (v) => (v ? v + ' s' : 'off')],
  ['tx_left_s', 'TX left', (v) => (v === null ? '-' : v + ' s')],
];

// The transmit time limit of remote operation: the seconds left while a
// transmission is timed, a warning near the end, and after the limit ended one
// a notice the controller acknowledges before the station transmits again.
function showTxLimit(status) {
  const box = document.getElementById('txlimit');
  const text = document.getElementById('txlimit-text');
  const state = status.tx_limit;
  box.hidden = !(state === 'timing' || state === 'near' || state === 'reached');
  box.className = state === 'near' ? 'warning' : state === 'reached' ? 'error' : '';
  if (state === 'timing' || state === 'near')
    text.textContent = `Transmit time limit ${status.tx_limit_s} s: ${status.tx_left_s} s left`
      + (state === 'near' ? ', then the transmission is ended' : '');
  else if (state === 'reached')
    text.textContent = 'Transmit time limit reached: the transmission was ended. '
      + 'Transmitting again needs an acknowledgement.';
  document.getElementById('ack').hidden = !(state === 'reached' && control);
}

function show(status) {
  const values = document.getElementById('values');
  values.replaceChildren();
  for (const [key, label, format] of rows) {
    if (!(key in status)) continue;
    const dt = document.createElement('dt');
    dt.textContent = label;
    const dd = document.createElement('dd');
    dd.id = 'v-' + key;
    dd.textContent = format(status[key]);
    values.append(dt, dd);
  }
  const alarms = document.getElementById('alarms');
  alarms.replaceChildren();
  for (const a of status.alarms || []) {
    const li = document.createElement('li');
    li.className = a.error ? 'error' : 'warning';
    li.textContent = a.text.join(' ');
    alarms.append(li);
  }
  showTxLimit(status);
}

// An update: "PIC1", a count, per piece x, y, width, height (16 bits) and its
// PNG's length (32 bits), then the PNGs. Pieces are drawn in order, and the
// updates in the order they came.
const screen = document.getElementById('screen');
const ctx = screen.getContext('2d');
let drawing = Promise.resolve();
let updates = 0;
// What came over the socket, for the benchmark and the curious (console).
window.consoleStats = { bytes: 0, updates: 0, messages: 0, pcm: 0, opus: 0 };

async function drawUpdate(buf) {
  const d = new DataView(buf);
  if (buf.byteLength < 6 || d.getUint32(0, false) !== 0x50494331) return;
  const n = d.getUint16(4, true);
  let at = 6 + n * 12;
  const pieces = [];
  for (let i = 0; i < n; i++) {
    const h = 6 + i * 12;
    const len = d.getUint32(h + 8, true);
    pieces.push({ x: d.getUint16(h, true), y: d.getUint16(h + 2, true),
                  png: new Blob([new Uint8Array(buf, at, len)], { type: 'image/png' }) });
    at += len;
  }
  const bitmaps = await Promise.all(pieces.map((p) => createImageBitmap(p.png)));
  bitmaps.forEach((b, i) => { ctx.drawImage(b, pieces[i].x, pieces[i].y); b.close(); });
  updates++;
  window.consoleStats.updates++;
  screen.dataset.updates = updates;
}

let ws = null;
let control = false;

// Audio: the station's received audio ("PCM1", 16-bit mono at 16 kHz) played
// in order a little ahead, and the microphone ("MIC1", 16-bit mono at 48 kHz)
// while "talk" is held. A context starts only after a click, as browsers want.
let audioCtx = null;
let analyser = null;
let playAt = 0;
let listening = false;

function audioContext() {
  if (!audioCtx) {
    audioCtx = new AudioContext({ sampleRate: 48000 });
    analyser = audioCtx.createAnalyser();
    analyser.fftSize = 8192;
    analyser.connect(audioCtx.destination);
    window.consoleAudio = { context: audioCtx, analyser: analyser };
  }
  return audioCtx;
}

function playPcm(buf) {
  if (!listening || !audioCtx || buf.byteLength < 6) return;
  const n = (buf.byteLength - 4) >> 1;
  const d = new DataView(buf, 4);
  window.consoleStats.pcm++;
  const samples = new Float32Array(n);
  for (let i = 0; i < n; i++) samples[i] = d.getInt16(2 * i, true) / 32768;
  schedule(samples, 16000);
}

// Opus through WebCodecs where the browser decodes it: 20 ms packets, a
// fraction of the PCM's bytes.
let opus = null;
let opusTime = 0;

async function opusDecoder() {
  if (!('AudioDecoder' in window)) return null;
  const config = { codec: 'opus', sampleRate: 48000, numberOfChannels: 1 };
  try {
    if (!(await AudioDecoder.isConfigSupported(config)).supported) return null;
    const decoder = new AudioDecoder({
      output: (data) => {
        const samples = new Float32Array(data.numberOfFrames);
        data.copyTo(samples, { planeIndex: 0, format: 'f32-planar' });
        schedule(samples, data.sampleRate);
        data.close();
      },
      error: (e) => { console.error('opus: ' + e); },
    });
    decoder.configure(config);
    return decoder;
  } catch (e) {
    return null;
  }
}

function playOpus(buf) {
  if (!listening || !opus || opus.state !== 'configured') return;
  const d = new DataView(buf);
  const n = d.getUint16(4, true);
  let at = 6;
  for (let i = 0; i < n && at + 2 <= buf.byteLength; i++) {
    const len = d.getUint16(at, true);
    if (at + 2 + len > buf.byteLength) return;
    opus.decode(new EncodedAudioChunk({ type: 'key', timestamp: opusTime, data: new Uint8Array(buf, at + 2, len) }));
    opusTime += 20000;
    at += 2 + len;
    window.consoleStats.opus++;
  }
}

function schedule(samples, rate) {
  const b = audioCtx.createBuffer(1, samples.length, rate);
  b.copyToChannel(samples, 0);
  const src = audioCtx.createBufferSource();
  src.buffer = b;
  src.connect(analyser);
  const now = audioCtx.currentTime;
  // Started, or fallen behind or too far ahead: a tenth of a second from now.
  if (playAt < now + 0.02 || playAt > now + 0.5) playAt = now + 0.1;
  src.start(playAt);
  playAt += b.duration;
}

let mic = null;
let talking = false;
const micBlock = new Int16Array(960); // 20 ms
let micHave = 0;

function sendMic(samples) {
  for (const v of samples) {
    micBlock[micHave++] = Math.max(-1, Math.min(1, v)) * 32767;
    if (micHave === micBlock.length) {
      const m = new Uint8Array(4 + 2 * micBlock.length);
      m.set([77, 73, 67, 49]); // "MIC1"
      m.set(new Uint8Array(micBlock.buffer), 4);
      if (ws && ws.readyState === WebSocket.OPEN && ws.bufferedAmount < 65536) ws.send(m);
      micHave = 0;
    }
  }
}

async function openMic() {
  const ctx = audioContext();
  await ctx.resume();
  if (mic) return;
  const stream = await navigator.mediaDevices.getUserMedia({
    audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false },
  });
  await ctx.audioWorklet.addModule('mic.js');
  const node = new AudioWorkletNode(ctx, 'mic-capture');
  ctx.createMediaStreamSource(stream).connect(node);
  // Pulled by the graph, heard by nobody.
  const mute = ctx.createGain();
  mute.gain.value = 0;
  node.connect(mute).connect(ctx.destination);
  node.port.onmessage = (e) => { if (talking) sendMic(e.data); };
  mic = { stream, node };
}

const listenButton = document.getElementById('listen');
listenButton.addEventListener('click', async () => {
  listening = !listening;
  audioContext().resume();
  playAt = 0;
  listenButton.className = listening ? 'on' : '';
  if (!listening) {
    send({ listen: false });
    return;
  }
  // PCM when the browser cannot decode Opus (or is told to: consoleAudioPcm).
  if (!opus && !window.consoleAudioPcm) opus = await opusDecoder();
  const form = opus && !window.consoleAudioPcm ? 'opus' : 'pcm';
  window.consoleAudio.form = form;
  send({ listen: form === 'opus' ? 'opus' : true });
});
const talkButton = document.getElementById('talk');
talkButton.addEventListener('pointerdown', (e) => {
  if (!control || talking) return;
  talkButton.setPointerCapture(e.pointerId);
  talking = true;
  micHave = 0;
  talkButton.className = 'on';
  send({ talk: true });
  openMic().catch((err) => { console.error('microphone: ' + err); });
});
for (const ev of ['pointerup', 'pointercancel', 'lostpointercapture'])
  talkButton.addEventListener(ev, () => {
    if (!talking) return;
    talking = false;
    talkButton.className = '';
    send({ talk: false });
  });

function send(ask) {
  if (ws && ws.readyState === WebSocket.OPEN) ws.send(JSON.stringify(ask));
}

// Press and release: the unit times the hold as its own keys do.
const held = new Set();
function press(key) {
  if (!control || held.has(key)) return;
  held.add(key);
  send({ key: key, down: true });
}
function release(key) {
  if (!held.delete(key)) return;
  send({ key: key, down: false });
}

for (const b of document.querySelectorAll('#keys button')) {
  const key = Number(b.dataset.key);
  b.addEventListener('pointerdown', (e) => { b.setPointerCapture(e.pointerId); press(key); });
  for (const ev of ['pointerup', 'pointercancel', 'lostpointercapture']) b.addEventListener(ev, () => release(key));
  b.addEventListener('contextmenu', (e) => e.preventDefault());
}
window.addEventListener('keydown', (e) => {
  if (e.repeat || e.key < '1' || e.key > '6') return;
  press(Number(e.key));
});
window.addEventListener('keyup', (e) => { if (e.key >= '1' && e.key <= '6') release(Number(e.key)); });
window.addEventListener('blur', () => { for (const k of [...held]) release(k); });
document.getElementById('take').addEventListener('click', () => send({ take: true }));
document.getElementById('ack').addEventListener('click', () => send({ ack: true }));

function connect() {
  const link = document.getElementById('link');
  ws = new WebSocket('wss://' + location.host + '/ws');
  ws.binaryType = 'arraybuffer';
  ws.onopen = () => { link.textContent = 'connected'; link.className = ''; };
  ws.onmessage = (e) => {
    window.consoleStats.messages++;
    window.consoleStats.bytes += typeof e.data === 'string' ? e.data.length : e.data.byteLength;
    if (typeof e.data !== 'string') {
      const buf = e.data;
      const tag = buf.byteLength >= 6 ? new DataView(buf).getUint32(0, false) : 0;
      if (tag === 0x50434d31) playPcm(buf); // "PCM1"
      else if (tag === 0x4f505331) playOpus(buf); // "OPS1"
      else drawing = drawing.then(() => drawUpdate(buf)).catch(() => {});
      return;
    }
    const m = JSON.parse(e.data);
    control = m.control;
    if (m.status) show(m.status);
    document.getElementById('keys').className = control ? '' : 'watching';
    document.getElementById('take').hidden = !m.free;
    link.textContent = control ? 'connected, in control' : 'connected, watching';
  };
  ws.onclose = () => {
    control = false;
    link.textContent = 'no link';
    link.className = 'down';
    // A new session may be needed: the page itself asks for the login then.
    setTimeout(() => location.reload(), 3000);
  };
}

connect();
