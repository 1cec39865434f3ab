// The console page: the panel's picture on a canvas, its six keys, and the
// amplifier's values and alarms as text, over the unit's WebSocket.
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
];

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
}

// An update: "PIC1", a count, per piece x, y, width, height (16 bits) and its
// PNG's length (32 bits), then the PNGs. Pieces are drawn in order, and the
// updates in the order they came.
const screen = document.getElementById('screen');
const ctx = screen.getContext('2d');
let drawing = Promise.resolve();
let updates = 0;
// What came over the socket, for the benchmark and the curious (console).
window.consoleStats = { bytes: 0, updates: 0, messages: 0 };

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
      drawing = drawing.then(() => drawUpdate(buf)).catch(() => {});
      return;
    }
    const m = JSON.parse(e.data);
    if (m.status) show(m.status);
    control = m.control;
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
