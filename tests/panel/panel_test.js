// SPDX-License-Identifier: MIT
// The panel in headless Chromium, served from the installed tree by a private mosquitto's
// websockets listener under the per-user ACL, working radiosim through radiobridge; all on free
// loopback ports.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const cp = require('node:child_process');
const { once } = require('node:events');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const { chromium } = require('playwright-core');

const { RADIOSIM, RADIOBRIDGE, MOSQUITTO, BUILD_DIR, EXAMPLES_DIR } = process.env;
const dir = fs.mkdtempSync(`${os.tmpdir()}/panel-`);
const file = name => `${dir}/${name}`;
const panelDir = file('prefix/share/radioline/panel');
const out = `${BUILD_DIR}/panel-test`;
const kMarkup = '<img src=x onerror=alert(1)>';
const procs = {};
const problems = [];  // console errors (a policy's refusals among them), page errors, requests to other hosts
let browser, page, origin, port, mqttPort;

// A port nobody listens on now: the one the kernel picks for a fresh socket.
const freePort = () => new Promise(resolve => {
  const server = net.createServer().listen(0, '127.0.0.1', () => server.close(resolve.bind(null, server.address().port)));
});

// Starts a program; resolves once `ready` shows in its output, fails if it exits or takes 10 s.
function start(name, program, args, ready) {
  const proc = procs[name] = Object.assign(cp.spawn(program, args), { text: '' });
  return new Promise((resolve, reject) => {
    const read = chunk => (proc.text += chunk).includes(ready) && resolve();
    const fail = () => reject(new Error(`${name} did not start: ${proc.text}`));
    for (const stream of [proc.stdout, proc.stderr]) stream.on('data', read);
    proc.once('exit', fail);
    setTimeout(fail, 10000).unref();
  });
}

async function stop(name, signal = 'SIGTERM') {
  procs[name].kill(signal);
  await once(procs[name], 'exit');
}

const startSim = (...args) => start('sim', RADIOSIM,
  ['--link', file('radio'), '--stay', '--state', file('state'), '--wire-baud', '19200', ...args], '/');
const publishAsBridge = (topic, message) => cp.execFileSync('mosquitto_pub', ['-h', '127.0.0.1',
  '-p', String(mqttPort), '-u', 'bridge', '-P', 'bridge-secret', '-r', '-t', `radioline/${topic}`, '-m', message]);

async function open(password = 'alice-secret') {
  const opened = await browser.newPage();
  opened.on('console', message => message.type() === 'error' && problems.push(message.text()));
  opened.on('pageerror', error => problems.push(error.message));
  opened.on('request', request => request.url().startsWith(origin) || problems.push(request.url()));
  await opened.goto(`${origin}/`);
  assert.equal(await opened.getByRole('textbox', { name: 'Broker' }).inputValue(), `ws://127.0.0.1:${port}`);
  await opened.getByRole('textbox', { name: 'User' }).fill('alice');
  await opened.getByLabel('Password').fill(password);
  await opened.getByRole('button', { name: 'Connect', exact: true }).click();
  return opened;
}

const shows = (on, selector, text, timeout = 5000) => on.locator(selector, { hasText: text }).first()
  .waitFor({ timeout }).catch(async () => assert.fail(`${selector}: ${await on.locator(selector).first().textContent()}`));
const field = (on, label) => on.getByRole('group', { name: 'Controls' }).getByLabel(label, { exact: true });
const latest = (text, timeout) => shows(page, '[role=log] li >> nth=0', text, timeout);

async function press(button, fields = {}) {
  for (const [label, value] of Object.entries(fields)) await field(page, label).fill(value);
  await page.getByRole('button', { name: button }).click();
}

// Chooses a file holding `profile` for Apply profile.
async function choose(name, profile) {
  const [chooser] = await Promise.all([page.waitForEvent('filechooser'), page.getByRole('button', { name: 'Apply profile' }).click()]);
  await chooser.setFiles({ name, mimeType: 'application/json', buffer: Buffer.from(JSON.stringify(profile)) });
}

before(async () => {
  [mqttPort, port] = [await freePort(), await freePort()];
  origin = `http://127.0.0.1:${port}`;
  cp.execFileSync('cmake', ['--install', BUILD_DIR, '--component', 'panel', '--prefix', file('prefix')]);
  fs.writeFileSync(file('passwords'), 'bridge:bridge-secret\nalice:alice-secret\n');
  cp.execFileSync('mosquitto_passwd', ['-U', file('passwords')]);
  fs.writeFileSync(file('bridge-password'), 'bridge-secret\n');
  fs.copyFileSync(`${EXAMPLES_DIR}/radioline.acl`, file('acl'));
  // A websockets listener binds to an interface named, not to an address.
  fs.writeFileSync(file('mosquitto.conf'), [`user ${os.userInfo().username}`, 'set_tcp_nodelay true',
    `password_file ${file('passwords')}`, `acl_file ${file('acl')}`, `listener ${mqttPort} 127.0.0.1`,
    `listener ${port} lo`, 'protocol websockets', `http_dir ${panelDir}`, ''].join('\n'));
  await start('broker', MOSQUITTO, ['-c', file('mosquitto.conf')], ' running');
  await startSim();
  await start('bridge', RADIOBRIDGE, ['-d', file('radio'), '--name', 'shack', '--broker', `127.0.0.1:${mqttPort}`,
    '--user', 'bridge', '--password-file', file('bridge-password')], 'broker connected');
  // A second line, offline and first by name, with two radios, one of which reports markup as its version.
  publishAsBridge('attic/status', '{"state":"offline"}');
  publishAsBridge('attic/20/state', JSON.stringify({ version: kMarkup }));
  publishAsBridge('attic/22/state', '{}');
  // Playwright adds --headless, --no-sandbox and the switches that keep Chromium off the network.
  browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--disable-gpu', '--disable-quic'] });
  fs.mkdirSync(out, { recursive: true });
});

after(async () => {
  if (browser) await browser.close();
  for (const proc of Object.values(procs)) proc.kill('SIGKILL');
  fs.rmSync(dir, { recursive: true, force: true });
});

test('refuses a wrong password beside the login form', async () => {
  const refused = await open('wrong');
  await shows(refused, '#login [role=alert]', 'login refused: ');
  assert.equal(await refused.getByLabel('Password').inputValue(), '');
});

test('shows the lines, the radios and their state, all as text', async () => {
  page = await open();
  await shows(page, '[role=status]', 'line shack: online; radio 20 available');
  assert.ok(await page.getByRole('button', { name: 'Connect', exact: true }).isHidden());
  await page.getByRole('combobox', { name: 'Line' }).selectOption('attic');
  await shows(page, '[role=status]', 'line attic: offline; radio 20 not available');
  assert.equal(await page.getByRole('region', { name: 'Radio state' }).getByLabel('Version').textContent(), kMarkup);
  assert.ok(await page.getByRole('combobox', { name: 'Radio' }).isVisible());
  assert.ok(await page.getByRole('button', { name: 'Store VFO' }).isDisabled());
  await shows(page, '#controls [role=note]', 'the bridge of line attic is offline');
  await page.getByRole('combobox', { name: 'Line' }).selectOption('shack');
});

// Each row: fields filled, the button pressed, what radiosim's state file then holds (by dotted key)
// and what the radio state then shows.
const kCodeplug = '00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f';
const kRoundTrips = [
  [{ Frequency: '145.5M' }, 'Set frequency', { 'vfo.frequency': 145500000 }, ['freq', '145500000 Hz']],
  [{ 'Mode slot': '3' }, 'Select mode', { mode: 3 }],
  [{}, 'Store VFO', { 'slots.3.frequency': 145500000 }],
  [{ Frequency: '433920k' }, 'Set frequency', { 'vfo.frequency': 433920000 }],
  [{}, 'Recall mode', { 'vfo.frequency': 145500000 }],
  [{ 'Duplex code': '0x11' }, 'Set duplex', { 'vfo.duplex': 17 }],
  [{ 'TX tone': '88.5' }, 'Set TX tone', { 'vfo.tx_tone': 885 }, ['tx-pl', '88.5 Hz']],
  [{ 'RX tone': '123.4' }, 'Set RX tone', { 'vfo.rx_tone': 1234 }, ['rx-pl', '123.4 Hz']],
  [{ Offset: '-600k' }, 'Set offset', { tx_offset: -600000 }, ['offset', '-600000 Hz']],
  [{ 'Split TX': '5k', 'Split RX': '-6000' }, 'Set split', { rx_split: -6000, tx_split: 5000 }, ['split', 'tx 5000 Hz, rx -6000 Hz']],
  [{ 'Config byte 0': '0x12', 'Config byte 1': '52' }, 'Set config', { config: '12 34' }, ['config', '0x12 0x34']],
  [{ Codeplug: kCodeplug.replace(/ /g, '') }, 'Write codeplug', { 'vfo.codeplug': kCodeplug }, ['codeplug', kCodeplug]],
];

test('works every control on the radio', async () => {
  for (const [fields, button, held, [id, shown] = []] of kRoundTrips) {
    await press(button, fields);
    await latest(/: ok \(\d+ ms\)$/);
    const state = JSON.parse(fs.readFileSync(file('state'), 'utf8'));
    for (const [key, value] of Object.entries(held)) assert.equal(key.split('.').reduce((o, k) => o[k], state), value, button);
    if (id) await shows(page, `#${id}`, new RegExp(`^${shown}$`));
  }
  await press('Read all');
  await page.locator('[role=log] li', { hasText: /^(version|get-.*): ok/ }).nth(4).waitFor();
  for (const [name, width, height, colorScheme] of [['desktop', 1280, 900, 'light'], ['phone', 390, 844, 'dark']]) {
    await page.setViewportSize({ width, height });
    await page.emulateMedia({ colorScheme });
    await page.screenshot({ path: `${out}/${name}.png`, fullPage: true });
  }
});

test('refuses a bad value beside its field and sends nothing', async () => {
  const before = [await page.locator('[role=log] li').count(), procs.sim.text];
  await field(page, 'Split TX').fill('1x');
  await field(page, 'Split TX').press('Enter');  // a field's Enter submits its form
  const alert = page.locator('form', { has: page.getByLabel('Split TX') }).getByRole('alert');
  assert.equal(await alert.textContent(), "TX '1x' is not a VCO split in Hz");
  assert.deepEqual([await page.locator('[role=log] li').count(), procs.sim.text], before);
});

test('shows a change made in another page', async () => {
  const other = await open();
  await shows(other, '#offset', '-600000 Hz');
  await press('Set offset', { Offset: '+700k' });
  await latest('ok');
  await shows(other, '#offset', '700000 Hz', 1000);
  await other.close();
});

test('saves the radio as a profile file', async () => {
  const [download] = await Promise.all([page.waitForEvent('download'), page.getByRole('button', { name: 'Save profile' }).click()]);
  assert.equal(download.suggestedFilename(), 'shack-20.json');
  assert.deepEqual(JSON.parse(fs.readFileSync(await download.path(), 'utf8')), {
    radio: { version: 'radiosim 1.0', address: '0x20', line: 'shack', set_by_bridge: ['mode', 'duplex', 'tx_tone', 'rx_tone'] },
    mode: 3, duplex: 17, tx_tone: 88.5, rx_tone: 123.4, offset: 700000, split: { tx: 5000, rx: -6000 }, config: [0x12, 0x34],
    codeplug: [...Array(16).keys()] });
});

test('applies a profile file once its differences are shown', async () => {
  const report = () => page.getByRole('list', { name: 'Profile report' }).getByRole('listitem').allTextContents();
  await choose('bad.json', { offset: '600k' });
  await shows(page, '#profile [role=alert]', 'bad.json: offset: must be an integer');
  await choose('club.json', { channels: [{ slot: 5, frequency: 146520000 }], offset: 600000, config: [0x12, 0x34], tx_tone: 67 });
  await shows(page, '#profile-lines li', 'tx_tone:');
  assert.deepEqual(await report(), ['channel 5: cannot be read, would be set', 'offset: radio +700000 Hz, profile +600000 Hz',
    'tx_tone: cannot be read, would be set']);
  await page.getByRole('button', { name: 'Apply these changes' }).click();
  await shows(page, '#profile-lines li', 'config:');
  assert.deepEqual(await report(), ['channel 5: set', 'mode: set', 'tx_tone: set', 'offset: set', 'config: unchanged']);
  const state = JSON.parse(fs.readFileSync(file('state'), 'utf8'));
  assert.deepEqual([state.slots[5].frequency, state.mode, state.vfo.tx_tone, state.tx_offset], [146520000, 3, 670, 600000]);
});

test('reports the time from Set frequency to its ok', { timeout: 60000 }, async () => {
  const times = [];
  for (let i = 0; i < 21; ++i) {
    await field(page, 'Frequency').fill(`${144 + i / 10}M`);
    times.push(await page.evaluate(() => new Promise(resolve => {
      const log = document.querySelector('[role=log]');
      const started = performance.now();
      new MutationObserver((_, observer) => {
        if (!/: ok \(/.test(log.firstElementChild.textContent)) return;
        resolve(performance.now() - started);
        observer.disconnect();
      }).observe(log, { childList: true, subtree: true });
      document.querySelector('#controls button').click();  // the first control's, Set frequency
    })));
  }
  const median = times.sort((a, b) => a - b)[times.length >> 1];
  const wire = (17 * 10 * 1000) / 19200;  // set-freq: 11 bytes out, 6 back, 10 bits each
  fs.writeFileSync(`${out}/timing.txt`, `click to ok: median ${median.toFixed(1)} ms over ${times.length}, ` +
    `wire ${wire.toFixed(2)} ms, ${(median - wire).toFixed(1)} ms over the wire\n`);
});

test('shows each failure the bridge or the line reports', async () => {
  await stop('sim');
  await press('Store VFO');
  await latest(/store-vfo: line-lost: /);
  await shows(page, '[role=status]', 'line shack: line lost; radio 20 not available');
  await startSim('--refuse-every', '1');
  await shows(page, '[role=status]', 'line shack: online', 10000);
  await press('Store VFO');
  await latest(/store-vfo: refused: /);
  await choose('tune.json', { frequency: 1 });
  await page.getByRole('button', { name: 'Apply these changes' }).click();
  await shows(page, '#profile-lines li', 'applied before it: nothing');
  assert.match((await page.locator('#profile-lines li').allTextContents()).join('\n'), /^frequency: failed: set-freq 1: refused: [^\n]+\napplied/);
  await stop('broker');
  await shows(page, '[role=status]', 'reconnecting');
  assert.ok(await page.getByRole('button', { name: 'Store VFO' }).isDisabled());
  await start('broker', MOSQUITTO, ['-c', file('mosquitto.conf')], ' running');
  await shows(page, '[role=status]', 'line shack: online', 10000);
  procs.bridge.kill('SIGSTOP');
  await press('Recall mode');
  await latest(/recall-mode: no-bridge: .* \(1\d{4} ms\)$/, 14000);
  await stop('bridge', 'SIGKILL');
  await shows(page, '[role=status]', 'line shack: offline; radio 20 not available');
});

test('keeps to its own files, its own host and its policy', () => {
  const own = fs.readdirSync(panelDir).filter(name => name !== 'mqtt.min.js');
  assert.ok(own.reduce((size, name) => size + fs.statSync(`${panelDir}/${name}`).size, 0) < 60 * 1024);
  assert.deepEqual(problems, []);
});
