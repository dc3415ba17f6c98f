// SPDX-License-Identifier: MIT
// The panel's behaviour. It logs in to the broker over WebSockets as the
// person (mqtt.js, MQTT 5), follows the bridges' retained line status and
// radio state, and sends radioctl command lines to the chosen radio on the
// person's own request topic, T/R/request/USER, with a response topic
// under their reply tree, T/reply/USER/..., and correlation data, so the
// broker's ACL keeps each person's replies their own. Each request has a
// deadline (its message expiry) and asks for the bridge's interim message:
// its log line says "queued" once a bridge took it, then the outcome;
// "no-bridge" when none took it by the deadline, and "bridge-lost" when
// the bridge went offline after it took it. It shows one status line, the
// radio's state as radioctl prints it, and one log line per request; the
// controls are disabled, with the reason, while the line's bridge is
// offline, and an online line is chosen first. A value radioctl would
// refuse is refused beside its field (RadioValues, values.js) and nothing
// is sent. Profiles are saved, compared and applied through the same
// requests, with RadioProfile (profile.js). Whatever comes from the
// network is written as text (textContent, new Option), never as markup.
// The password lives only in mqtt.js's options while the page is open; it
// leaves its field once the broker has taken or refused the login.
'use strict';

(() => {
  const kBase = new URLSearchParams(location.search).get('base') || 'radioline';
  const kExpirySeconds = 10;  // a request's deadline: no bridge starts it later
  const kTakenGraceMs = 2000;  // for a bridge's word that it took a request to come back
  const kAnswerWaitMs = 30000;  // past the deadline, for the answer to a request a bridge took
  const kReconnectMs = 1000;
  const kLogLines = 100;
  const kUnknown = '\u2014';
  const kRefusedLogin = [134, 135];  // bad user name or password, not authorized
  const kReaders = ['version', 'get-codeplug', 'get-config', 'get-offset', 'get-split'];

  // Each control: its button; its fields, each with its label, the kind
  // of value it takes, radioctl's name for that value and an example; and
  // the requests it sends, given the fields' words.
  const kControls = [
    ['Set frequency', [['Frequency', 'frequency', 'FREQ', '145.5M']], words => [`set-freq ${words}`]],
    ['Select mode', [['Mode slot', 'mode', 'MODE', '0 to 99']], words => [`set-mode ${words}`]],
    ['Store VFO', [], () => ['store-vfo']],
    ['Recall mode', [], () => ['recall-mode']],
    ['Read all', [], () => kReaders],
    ['Set duplex', [['Duplex code', 'duplex', 'CODE', '0x11']], words => [`set-duplex ${words}`]],
    ['Set TX tone', [['TX tone', 'tone', 'TONE', '88.5']], words => [`set-pl ${words}`]],
    ['Set RX tone', [['RX tone', 'tone', 'TONE', '88.5']], words => [`set-pl ${words} --rx`]],
    ['Set offset', [['Offset', 'offset', 'HZ', '-600k']], words => [`set-offset ${words}`]],
    ['Set split', [['Split TX', 'split', 'TX', '600k'], ['Split RX', 'split', 'RX', '0']],
      words => [`set-split ${words}`]],
    ['Set config', [['Config byte 0', 'byte', 'D0', '0x12'], ['Config byte 1', 'byte', 'D1', '0x34']],
      words => [`set-config ${words}`]],
    ['Write codeplug', [['Codeplug', 'codeplug', 'HEX', '00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff']],
      words => [`set-codeplug ${words}`]],
  ];

  const hex = byte => Number(byte).toString(16).padStart(2, '0');
  const tone = hertz => hertz !== undefined && `${Number(hertz).toFixed(1)} Hz`;
  // Each value of the radio state, written as radioctl prints it; the
  // radio cannot report what was last set, the bridge remembers it.
  const kStateFields = [
    ['version', state => state.version],
    ['freq', state => state.last_set.freq !== undefined && `${state.last_set.freq} Hz`],
    ['mode', state => state.last_set.mode],
    ['duplex', state => state.last_set.duplex],
    ['tx-pl', state => tone(state.last_set.pl && state.last_set.pl.tx)],
    ['rx-pl', state => tone(state.last_set.pl && state.last_set.pl.rx)],
    ['offset', state => state.offset !== undefined && `${state.offset} Hz`],
    ['split', state => state.split && `tx ${state.split.tx} Hz, rx ${state.split.rx} Hz`],
    ['config', state => state.config && state.config.map(byte => `0x${hex(byte)}`).join(' ')],
    ['codeplug', state => state.codeplug && state.codeplug.map(hex).join(' ')],
  ];

  // The topic layout, in this one place: BASE/LINE/status,
  // BASE/LINE/RADIO/state, BASE/LINE/RADIO/request/USER and
  // BASE/LINE/reply/USER/SESSION, both ways: topic([LINE, 'status']) is
  // the topic of those levels under BASE, and topic(TOPIC) the levels of
  // TOPIC under BASE ([LINE, 'status']), null for a topic elsewhere.
  function topic(levelsOrTopic) {
    const head = `${kBase}/`;
    if (Array.isArray(levelsOrTopic)) return head + levelsOrTopic.join('/');
    return levelsOrTopic.startsWith(head) ? levelsOrTopic.slice(head.length).split('/') : null;
  }

  const element = id => document.getElementById(id);
  const create = (tag, properties = {}) => Object.assign(document.createElement(tag), properties);
  const session = `panel-${crypto.getRandomValues(new Uint32Array(2)).join('-')}`;
  const lines = new Map();  // line name -> { status, radios: Map(radio name -> state) }
  const pending = new Map();  // correlation data -> the request awaiting its reply
  let client = null;
  let user = '';
  let connectedOnce = false;  // so a lost connection reads as reconnecting
  let refused = [];  // topics the broker would not let the page read
  let requests = 0;
  const wanted = {};  // the line and radio the person chose

  function setText(target, text) {
    if (target.textContent !== text) target.textContent = text;
  }

  function lineOf(name) {
    if (!lines.has(name)) lines.set(name, { status: null, radios: new Map() });
    return lines.get(name);
  }

  const online = status => Boolean(status) && status.state === 'online';

  // Fills a chooser with `names` and shows it only when there is a choice
  // to make; the person's choice holds while it is there, else `first`.
  function choose(id, names, first = names[0]) {
    const select = element(id);
    if ([...select.options].map(option => option.value).join('/') !== names.join('/')) {
      select.replaceChildren(...names.map(name => new Option(name, name)));
    }
    select.value = names.includes(wanted[id]) ? wanted[id] : first || '';
    element(`${id}-chooser`).hidden = names.length < 2;
    return select.value;
  }

  function chosen() {
    const names = [...lines.keys()].sort();
    const line = choose('line', names, names.find(name => online(lines.get(name).status)));
    const radios = line ? lines.get(line).radios : new Map();
    const radio = choose('radio', [...radios.keys()].sort());
    return { line, radio, status: line ? lines.get(line).status : null, state: radios.get(radio) };
  }

  function statusText({ line, radio, status, state }) {
    if (!client) return 'not connected';
    if (!client.connected) return connectedOnce ? 'reconnecting' : 'connecting';
    if (refused.length) return `connected, but the broker refuses to let ${user} read ${refused.join(', ')}`;
    if (!line) return 'connected; no bridge has announced a line';
    const up = online(status);
    const lost = up && status.line === 'lost';
    const text = `line ${line}: ${up ? (lost ? 'line lost' : 'online') : 'offline'}`;
    if (!radio) return text;
    const available = up && !lost && state.available === true;
    return `${text}; radio ${radio} ${available ? 'available' : 'not available'}`;
  }

  function render() {
    const view = chosen();
    setText(element('status'), statusText(view));
    for (const [id, show] of kStateFields) {
      let text;
      try {
        text = view.state && show(view.state);
      } catch (error) {
        text = undefined;  // a value of an unexpected shape is shown as unknown
      }
      setText(element(id), text || text === 0 ? String(text) : kUnknown);
    }
    const offline = Boolean(client && client.connected && view.line) && !online(view.status);
    setText(element('controls-why'), offline ? `the bridge of line ${view.line} is offline: nothing can be sent` : '');
    element('controls').disabled = !(client && client.connected && view.radio) || offline;
    element('profile').disabled = element('controls').disabled || profileBusy;
  }

  // A JSON object, null for an empty payload, undefined for anything else.
  function parsed(payload) {
    try {
      const message = payload.length ? JSON.parse(payload.toString()) : null;
      return message === null || (typeof message === 'object' && !Array.isArray(message)) ? message : undefined;
    } catch (error) {
      return undefined;
    }
  }

  // Takes a retained status or state, or a reply, apart by its topic.
  function receive(name, payload, packet) {
    const levels = topic(name);
    if (!levels) return;
    const [line, ...rest] = levels;
    const message = parsed(payload);
    if (rest[0] === 'reply') return answer(packet.properties, message);
    if (message === undefined) return;
    if (rest.length === 1 && rest[0] === 'status') {
      lineOf(line).status = message;
      if (!online(message)) lost(line);
    } else if (rest.length === 2 && rest[1] === 'state') {
      const radios = lineOf(line).radios;
      if (message) radios.set(rest[0], { ...message, last_set: message.last_set || {} });
      else radios.delete(rest[0]);
    }
    render();
  }

  function answer(properties, reply) {
    const id = properties && properties.correlationData ? properties.correlationData.toString() : '';
    if (!reply) return finish(id, 'unreadable reply');
    if (reply.queued === true && !('ok' in reply)) return taken(id);
    const error = reply.error || {};
    finish(id, reply.ok === true ? 'ok' : `${error.code}: ${error.message}`, reply);
  }

  // A bridge took the request: its answer comes, unless the bridge goes away.
  function taken(id) {
    const request = pending.get(id);
    if (!request || request.taken) return;
    request.taken = true;
    request.entry.textContent = `${request.text}: queued \u2026`;
    clearTimeout(request.timer);
    request.timer = setTimeout(() => finish(id, `bridge-lost: no answer ${kAnswerWaitMs / 1000} s past ` +
      'the deadline from the bridge that took the request; it may or may not have run'),
    request.deadline + kAnswerWaitMs - performance.now());
  }

  // The bridge of `line` went offline: what it took has no answer coming.
  function lost(line) {
    for (const [id, request] of pending) {
      if (request.line === line && request.taken) {
        finish(id, 'bridge-lost: the bridge went offline after it took the request; it may or may not have run');
      }
    }
  }

  function finish(id, outcome, reply = null) {
    const request = pending.get(id);
    if (!request) return;
    pending.delete(id);
    clearTimeout(request.timer);
    const took = Math.round(performance.now() - request.started);
    request.entry.textContent = `${request.text}: ${outcome} (${took} ms)`;
    request.resolve({ outcome, reply });
  }

  // Sends one command line to the chosen radio, or to `target`'s; resolves
  // with its outcome ('ok' or the failure as the log shows it) and reply.
  function send(text, { line, radio } = chosen()) {
    const id = String(++requests);
    const entry = create('li', { textContent: `${text}: \u2026` });
    const log = element('log');
    log.prepend(entry);
    while (log.children.length > kLogLines) log.lastElementChild.remove();
    const started = performance.now();
    const request = { text, line, entry, started, deadline: started + kExpirySeconds * 1000 };
    const answered = new Promise(resolve => { request.resolve = resolve; });
    request.timer = setTimeout(() => finish(id, 'no-bridge: no bridge took the request, and none will run it'),
      kExpirySeconds * 1000 + kTakenGraceMs);
    pending.set(id, request);
    const properties = {
      responseTopic: topic([line, 'reply', user, session]),
      correlationData: new TextEncoder().encode(id),
      messageExpiryInterval: kExpirySeconds,
    };
    const payload = JSON.stringify({ command: text, interim: true });
    client.publish(topic([line, radio, 'request', user]), payload, { qos: 0, properties },
      error => error && finish(id, `not sent: ${error.message}`));
    // mqtt.js corks its stream while it writes a packet and uncorks it on
    // the next turn of the event loop, a timer in the browser that fires a
    // millisecond or more late; uncorking now sends the request at once, as
    // one WebSocket message.
    if (client.stream && client.stream.uncork) client.stream.uncork();
    return answered;
  }

  // Checks the form's fields and sends its requests, or shows the first
  // problem beside its field and sends nothing.
  function submit(form, inputs, fields, requests) {
    const reads = fields.map(([, kind, name], index) => RadioValues.read(kind, name, inputs[index].value));
    const bad = reads.findIndex(read => read.problem);
    for (const input of inputs) input.removeAttribute('aria-invalid');
    const alert = form.querySelector('[role=alert]');
    if (alert) setText(alert, bad < 0 ? '' : reads[bad].problem);
    if (bad >= 0) {
      inputs[bad].setAttribute('aria-invalid', 'true');
      return inputs[bad].focus();
    }
    requests(reads.flatMap(read => read.words).join(' ')).forEach(text => send(text));
  }

  // One form per control: a label and a field for each value, the button
  // (a form's submit, so Enter in a field presses it) and room for a
  // problem; controls without fields share one row of buttons.
  function buildControls() {
    let row = null;
    for (const [control, [button, fields, requests]] of kControls.entries()) {
      const form = create('form', { className: ['', 'control', 'control pair'][fields.length] });
      const inputs = fields.map(([label, kind, , example], index) => {
        const input = create('input', { id: `field-${control}-${index}`,
          placeholder: example, autocomplete: 'off', spellcheck: false });
        if (kind === 'tone') input.setAttribute('list', 'tones');
        form.append(create('label', { htmlFor: input.id, textContent: label }), input);
        return input;
      });
      form.append(create('button', { textContent: button }));
      form.addEventListener('submit', event => {
        event.preventDefault();
        submit(form, inputs, fields, requests);
      });
      if (fields.length) {
        form.append(create('p', { className: 'problem' }));
        form.lastChild.setAttribute('role', 'alert');
        element('controls').append(form);
        row = null;
      } else {
        if (!row) element('controls').append(row = create('div', { className: 'buttons' }));
        row.append(form);
      }
    }
  }

  // Profiles: "Save profile" reads the radio through the bridge and
  // downloads it, what the radio cannot report taken from what the bridge
  // last set; "Apply profile" checks a file against the profile schema,
  // shows how it differs from the radio, and applies it on confirmation, a
  // line per key, stopping at the first failure.
  let schema = null;  // profile.schema.json, fetched once
  let offered = null;  // the profile whose differences are shown: { target, profile }
  let profileBusy = false;

  function report(lines) {
    element('profile-lines').replaceChildren(...lines.map(text => create('li', { textContent: text })));
  }

  const say = text => element('profile-lines').append(create('li', { textContent: text }));

  function offer(shown) {
    offered = shown;
    element('profile-confirm').hidden = !shown;
  }

  // The reply of `text` sent to `target`; a failure throws as the log shows it.
  async function ask(target, text) {
    const { outcome, reply } = await send(text, target);
    if (outcome !== 'ok') throw new Error(`${text}: ${outcome}`);
    return reply;
  }

  const reading = async (target, key) => (await ask(target, RadioProfile.readerOf(key)))[key];

  async function busyWith(work) {
    profileBusy = true;
    setText(element('profile-problem'), '');
    render();
    try {
      await work();
    } catch (error) {
      setText(element('profile-problem'), error.message);
    } finally {
      profileBusy = false;
      render();
    }
  }

  async function saveProfile() {
    offer(null);
    report([]);
    const target = chosen();
    const lastSet = RadioProfile.fromBridge(target.state.last_set);
    const { version } = await ask(target, 'version');
    const profile = { radio: { version, address: `0x${target.radio}`, line: target.line,
      set_by_bridge: Object.keys(lastSet) }, ...lastSet };
    for (const key of RadioProfile.readableKeys) profile[key] = await reading(target, key);
    const file = new Blob([`${JSON.stringify(profile, null, 2)}\n`], { type: 'application/json' });
    const link = create('a', { download: `${target.line}-${target.radio}.json`, href: URL.createObjectURL(file) });
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href));
    say(`saved ${link.download}`);
  }

  async function offerProfile(file) {
    offer(null);
    report([]);
    let profile;
    try {
      profile = JSON.parse(await file.text());
    } catch (error) {
      throw new Error(`${file.name} is not JSON: ${error.message}`);
    }
    if (!schema) {
      const response = await fetch('profile.schema.json');
      if (!response.ok) throw new Error(`the profile schema did not load: ${response.status} ${response.statusText}`);
      schema = await response.json();
    }
    const problem = RadioProfile.problem(schema, profile);
    if (problem) throw new Error(`${file.name}: ${problem}`);
    const target = chosen();
    const readings = {};
    for (const key of Object.keys(profile).filter(RadioProfile.readable)) readings[key] = await reading(target, key);
    const lines = RadioProfile.diffLines(profile, readings);
    report(lines.length ? lines : [`nothing differs on radio ${target.radio}`]);
    if (lines.length) offer({ target, profile });
  }

  // One step of a profile: 'set', 'unchanged' or where the mode is left; a failure throws.
  async function applyStep(target, { key, send: lines, wanted, left }) {
    if (left !== undefined) return `left at slot ${left}`;
    if (wanted !== undefined && RadioProfile.same(key, await reading(target, key), wanted)) return 'unchanged';
    for (const text of lines) await ask(target, text);
    if (wanted === undefined) return 'set';
    const back = await reading(target, key);
    if (!RadioProfile.same(key, back, wanted)) throw new Error(RadioProfile.readBack(key, back, wanted));
    return 'set';
  }

  async function applyOffered() {
    const { target, profile } = offered;
    offer(null);
    report([]);
    const state = lineOf(target.line).radios.get(target.radio);
    const applied = [];
    for (const step of RadioProfile.steps(profile, state && state.last_set.mode)) {
      let result;
      try {
        result = await applyStep(target, step);
      } catch (error) {
        say(`${step.key}: failed: ${error.message}`);
        return say(`applied before it: ${applied.join(', ') || 'nothing'}`);
      }
      say(`${step.key}: ${result}`);
      if (result === 'set') applied.push(step.key);
    }
  }

  function loginRefused() {
    element('login').password.value = '';
    element('login-problem').textContent =
      'login refused: the broker does not take this user name and password';
    disconnect();
  }

  function connect(event) {
    event.preventDefault();
    disconnect();
    const form = event.target;
    const broker = form.broker.value.trim();
    user = form.user.value.trim();
    element('login-problem').textContent = '';
    try {
      client = mqtt.connect(broker, {
        username: user, password: form.password.value, protocolVersion: 5, clientId: session,
        timerVariant: 'native', reconnectPeriod: kReconnectMs, queueQoSZero: false,
      });
    } catch (error) {
      element('login-problem').textContent = `cannot connect to '${broker}': ${error.message}`;
      return;
    }
    client.on('connect', () => {
      form.password.value = '';
      connectedOnce = true;
      lines.clear();  // what is retained comes again with the subscription
      element('login').hidden = true;
      element('panel').hidden = false;
      const topics = [topic(['+', 'status']), topic(['+', '+', 'state']),
        topic(['+', 'reply', user, session])];
      client.subscribe(topics, { qos: 0 }, error => {
        const codes = error && error.packet ? error.packet.granted : [];
        refused = topics.filter((filter, at) => codes[at] >= 128);
        render();
      });
      render();
    });
    client.on('error', error => (kRefusedLogin.includes(error.code) ? loginRefused() : render()));
    client.on('message', receive);
    for (const change of ['reconnect', 'close', 'offline']) client.on(change, render);
    render();
  }

  function disconnect() {
    if (client) client.end(true);
    client = null;
    connectedOnce = false;
    refused = [];
    lines.clear();
    for (const id of [...pending.keys()]) finish(id, 'disconnected');
    element('login').hidden = false;
    element('panel').hidden = true;
    render();
  }

  element('login').broker.value = location.host
    ? `${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}` : '';
  element('login').addEventListener('submit', connect);
  element('disconnect').addEventListener('click', disconnect);
  for (const id of ['line', 'radio']) {
    element(id).addEventListener('change', event => {
      wanted[id] = event.target.value;
      offer(null);  // its differences were another radio's
      render();
    });
  }
  element('save-profile').addEventListener('click', () => busyWith(saveProfile));
  element('apply-profile').addEventListener('click', () => element('profile-file').click());
  element('profile-file').addEventListener('change', event => {
    const [file] = event.target.files;
    event.target.value = '';  // so that the same file chosen again is read again
    if (file) busyWith(() => offerProfile(file));
  });
  element('profile-apply').addEventListener('click', () => busyWith(applyOffered));
  element('profile-cancel').addEventListener('click', () => {
    offer(null);
    report(['not applied']);
  });
  buildControls();
})();
