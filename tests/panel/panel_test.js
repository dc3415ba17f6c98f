// SPDX-License-Identifier: MIT
// The panel in headless Chromium, served from the installed tree by a private mosquitto's
// websockets listener, working radiosim through radiobridge; all on free loopback ports.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const cp = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

const { RADIOSIM, RADIOBRIDGE, BUILD_DIR } = process.env;
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'panel-'));
const file = name => path.join(dir, name);
const out = path.join(BUILD_DIR, 'panel-test');
const kMarkup = '<img src=x onerror=alert(1)>';
const kWireMs = (17 * 10 * 1000) / 19200;  // set-freq: 11 bytes out, 6 back, at 19200 baud
const procs = {};
const problems = [];  // console errors, page errors, dialogs and requests to other hosts
let browser, page, origin, ports;

const freePort = () => new Promise(resolve => {
  const server = net.createServer().listen(0, '127.0.0.1', () => {
    const { port } = server.address();
    server.close(() => resolve(port));
  });
});

// Starts a program; resolves once `ready` shows in its output.
function start(name, program, args, ready) {
  const proc = cp.spawn(program, args);
  procs[name] = Object.assign(proc, { text: '' });
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`${name}: ${proc.text}`)), 10000);
    for (const stream of [proc.stdout, proc.stderr]) {
      stream.on('data', chunk => {
        proc.text += chunk;
        if (!proc.text.includes(ready)) return;
        clearTimeout(timer);
        resolve();
      });
    }
  });
}

function stop(name, signal = 'SIGTERM') {
  const proc = procs[name];
  delete procs[name];
  if (proc.exitCode !== null || proc.signalCode !== null) return Promise.resolve();
  const exited = new Promise(resolve => proc.once('exit', resolve));
  proc.kill(signal);
  return exited;
}

const startBroker = () => start('broker', 'mosquitto', ['-c', file('mosquitto.conf')], ' running');
const startSim = (...args) => start('sim', RADIOSIM,
  ['--link', file('radio'), '--stay', '--state', file('state'), '--wire-baud', '19200', ...args], '/');
const pub = (topic, message) => cp.execFileSync('mosquitto_pub', ['-p', String(ports.mqtt),
  '-u', 'bridge', '-P', 'bridge-secret', '-r', '-t', `radioline/${topic}`, '-m', message]);

async function open() {
  const opened = await browser.newPage();
  opened.on('console', message => message.type() === 'error' && problems.push(message.text()));
  opened.on('pageerror', error => problems.push(error.message));
  opened.on('dialog', dialog => {
    problems.push(`dialog ${dialog.message()}`);
    dialog.dismiss();
  });
  opened.on('request', request => request.url().startsWith(origin) || problems.push(request.url()));
  opened.on('websocket', socket => socket.url().startsWith(origin.replace('http', 'ws')) || problems.push(socket.url()));
  await opened.goto(`${origin}/`);
  return opened;
}

async function login(on, password = 'alice-secret') {
  await on.getByRole('textbox', { name: 'User' }).fill('alice');
  await on.getByLabel('Password').fill(password);
  await on.getByRole('button', { name: 'Connect' }).click();
}

const shows = (on, selector, text, timeout = 5000) => on.locator(selector, { hasText: text }).first()
  .waitFor({ timeout }).catch(async () => assert.fail(`${selector}: ${await on.locator(selector).first().textContent()}`));
const stateOf = (on, name) => on.getByRole('region', { name: 'Radio state' }).getByLabel(name, { exact: true });
const field = (on, label) => on.getByRole('group', { name: 'Controls' }).getByLabel(label, { exact: true });
const lastRequest = (on, text, timeout) => shows(on, '[role=log] li >> nth=0', text, timeout);

async function press(on, button, fields = {}) {
  for (const [label, value] of Object.entries(fields)) await field(on, label).fill(value);
  await on.getByRole('button', { name: button }).click();
}

before(async () => {
  ports = { mqtt: await freePort(), ws: await freePort() };
  origin = `http://127.0.0.1:${ports.ws}`;
  cp.execFileSync('cmake', ['--install', BUILD_DIR, '--component', 'panel', '--prefix', file('prefix')]);
  fs.writeFileSync(file('passwords'), 'bridge:bridge-secret\nalice:alice-secret\n');
  cp.execFileSync('mosquitto_passwd', ['-U', file('passwords')]);
  fs.writeFileSync(file('bridge-password'), 'bridge-secret\n');
  fs.writeFileSync(file('acl'), 'user bridge\ntopic readwrite radioline/#\n\n' +
    'pattern write radioline/+/+/request/%u\npattern read radioline/+/reply/%u/#\n' +
    'pattern read radioline/+/status\npattern read radioline/+/+/state\n');
  // A websockets listener binds to an interface by name, not by address.
  fs.writeFileSync(file('mosquitto.conf'), [`user ${os.userInfo().username}`, 'set_tcp_nodelay true',
    `password_file ${file('passwords')}`, `acl_file ${file('acl')}`, `listener ${ports.mqtt} 127.0.0.1`,
    `listener ${ports.ws} lo`, 'protocol websockets', `http_dir ${file('prefix/share/radioline/panel')}`, ''].join('\n'));
  await startBroker();
  await startSim();
  await start('bridge', RADIOBRIDGE, ['-d', file('radio'), '--name', 'shack', '--broker', `127.0.0.1:${ports.mqtt}`,
    '--user', 'bridge', '--password-file', file('bridge-password')], 'broker connected');
  pub('spare/status', '{"state":"offline"}');
  pub('spare/20/state', JSON.stringify({ available: true, version: kMarkup, last_set: {} }));
  browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--headless', '--no-sandbox',
    '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'] });
  page = await open();
  fs.mkdirSync(out, { recursive: true });
});

after(async () => {
  if (browser) await browser.close();
  for (const name of Object.keys(procs)) await stop(name, 'SIGKILL');
  fs.rmSync(dir, { recursive: true, force: true });
});

test('refuses a wrong password beside the login form', async () => {
  assert.equal(await page.getByRole('textbox', { name: 'Broker' }).inputValue(), `ws://127.0.0.1:${ports.ws}`);
  await login(page, 'wrong');
  await shows(page, '#login [role=alert]', 'login refused: ');
});

test('shows the lines, the radio and its state, all as text', async () => {
  await login(page);
  await shows(page, '[role=status]', 'line shack: online; radio 20 available');
  assert.equal(await page.getByRole('status').count(), 1);
  await page.getByRole('combobox', { name: 'Line' }).selectOption('spare');
  await shows(page, '[role=status]', 'line spare: offline; radio 20 not available');
  assert.equal(await stateOf(page, 'Version').textContent(), kMarkup);
  assert.equal(await page.locator('main img').count(), 0);
  await page.getByRole('combobox', { name: 'Line' }).selectOption('shack');
  await shows(page, '#offset', /^0 Hz$/);
});

// Each row: fields filled, the button pressed, what radiosim's state file then holds.
const kRoundTrips = [
  [{ Frequency: '145.5M' }, 'Set frequency', /^vfo\.frequency = 145500000$/m],
  [{ 'Mode slot': '3' }, 'Select mode', /^mode = 3$/m],
  [{}, 'Store VFO', /^slot\.3\.frequency = 145500000$/m],
  [{ Frequency: '433920k' }, 'Set frequency', /^vfo\.frequency = 433920000$/m],
  [{}, 'Recall mode', /^vfo\.frequency = 145500000$/m],
  [{ 'Duplex code': '0x11' }, 'Set duplex', /^vfo\.duplex = 17$/m],
  [{ 'TX tone': '88.5' }, 'Set TX tone', /^vfo\.tx_tone = 885$/m],
  [{ 'RX tone': '123.4' }, 'Set RX tone', /^vfo\.rx_tone = 1234$/m],
  [{ Offset: '-600k' }, 'Set offset', /^tx_offset = -600000$/m],
  [{ 'Split TX': '5k', 'Split RX': '-6000' }, 'Set split', /^rx_split = -6000\ntx_split = 5000$/m],
  [{ 'Config byte 0': '0x12', 'Config byte 1': '52' }, 'Set config', /^config = 12 34$/m],
  [{ Codeplug: '000102030405060708090a0b0c0d0e0f' }, 'Write codeplug', /^vfo\.codeplug = 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f$/m],
];

test('works every control on the radio', async () => {
  for (const [fields, button, held] of kRoundTrips) {
    await press(page, button, fields);
    await lastRequest(page, /: ok \(\d+ ms\)$/);
    assert.match(fs.readFileSync(file('state'), 'utf8'), held, button);
  }
  await press(page, 'Read all');
  await page.locator('[role=log] li', { hasText: /^(version|get-.*): ok/ }).nth(4).waitFor();
  await shows(page, '#codeplug', '00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f');
  await shows(page, '#split', 'tx 5000 Hz, rx -6000 Hz');
  await shows(page, '#config', '0x12 0x34');
  await page.setViewportSize({ width: 1280, height: 900 });
  await page.screenshot({ path: path.join(out, 'desktop.png'), fullPage: true });
  await page.setViewportSize({ width: 390, height: 844 });
  await page.screenshot({ path: path.join(out, 'phone.png'), fullPage: true });
});

test('refuses a bad value beside its field and sends nothing', async () => {
  const requests = await page.locator('[role=log] li').count();
  const [simLog, stateFile] = [procs.sim.text, fs.readFileSync(file('state'), 'utf8')];
  for (const [label, value, message] of [['Frequency', '145.0000005M', "FREQ '145.0000005M' is finer than 1 Hz"],
    ['Split TX', '1x', "TX '1x' is not a VCO split in Hz"], ['Codeplug', '01 02', 'HEX: At least 16 required but received 2']]) {
    const input = field(page, label);
    await input.fill(value);
    await input.press('Enter');
    const form = page.locator('form', { has: page.getByLabel(label, { exact: true }) });
    assert.equal(await form.getByRole('alert').textContent(), message);
  }
  assert.equal(await page.locator('[role=log] li').count(), requests);
  assert.deepEqual([procs.sim.text, fs.readFileSync(file('state'), 'utf8')], [simLog, stateFile]);
});

test('shows a change made in another page', async () => {
  const other = await open();
  await login(other);
  await shows(other, '#offset', '-600000 Hz');
  await press(page, 'Set offset', { Offset: '+700k' });
  await lastRequest(page, 'ok');
  await shows(other, '#offset', '700000 Hz', 1000);
  await other.close();
});

test('reports the time from Set frequency to its ok', async () => {
  const times = [];
  for (let i = 0; i < 21; ++i) {
    await field(page, 'Frequency').fill(`${144 + i / 10}M`);
    times.push(await page.evaluate(() => new Promise(resolve => {
      const log = document.querySelector('[role=log]');
      const started = performance.now();
      new MutationObserver((_, observer) => {
        if (!/: ok \(/.test(log.firstElementChild.textContent)) return;
        observer.disconnect();
        resolve(performance.now() - started);
      }).observe(log, { childList: true, subtree: true, characterData: true });
      setTimeout(() => resolve(NaN), 12000);
      document.querySelector('#set-freq button').click();
    })));
  }
  const median = times.sort((a, b) => a - b)[times.length >> 1];
  const report = `click to ok: median ${median.toFixed(2)} ms over ${times.length}, wire ${kWireMs.toFixed(2)} ms, ` +
    `over the wire ${(median - kWireMs).toFixed(2)} ms\n`;
  fs.writeFileSync(path.join(out, 'timing.txt'), report);
  console.log(report);
});

test('shows a lost line, a refusal, a lost broker and a lost bridge', async () => {
  await stop('sim');
  await press(page, 'Store VFO');
  await lastRequest(page, /store-vfo: line-lost: /);
  await shows(page, '[role=status]', 'line shack: line lost');
  await startSim('--refuse-every', '1');
  await shows(page, '[role=status]', 'line shack: online', 10000);
  await press(page, 'Store VFO');
  await lastRequest(page, /store-vfo: refused: /);
  await stop('broker');
  await shows(page, '[role=status]', 'reconnecting');
  await startBroker();
  await shows(page, '[role=status]', 'line shack: online', 10000);
  procs.bridge.kill('SIGSTOP');
  await press(page, 'Recall mode');
  await lastRequest(page, /recall-mode: no answer from the bridge \(1\d{4} ms\)$/, 12000);
  await stop('bridge', 'SIGKILL');
  await shows(page, '[role=status]', 'line shack: offline');
});

test('keeps to its own files, its own host and its policy', () => {
  const panel = file('prefix/share/radioline/panel');
  const own = fs.readdirSync(panel).filter(name => name !== 'mqtt.min.js');
  assert.ok(own.reduce((size, name) => size + fs.statSync(path.join(panel, name)).size, 0) < 60 * 1024);
  assert.deepEqual(problems, []);
});
