// The console page: the amplifier's values and alarms from the unit's
// WebSocket, shown as text.
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

function connect() {
  const link = document.getElementById('link');
  const ws = new WebSocket('wss://' + location.host + '/ws');
  ws.onopen = () => { link.textContent = 'connected'; link.className = ''; };
  ws.onmessage = (e) => {
    const m = JSON.parse(e.data);
    if (m.status) show(m.status);
    link.textContent = m.control ? 'connected, in control' : 'connected, watching';
  };
  ws.onclose = () => {
    link.textContent = 'no link';
    link.className = 'down';
    // A new session may be needed: the page itself asks for the login then.
    setTimeout(() => location.reload(), 3000);
  };
}

connect();
