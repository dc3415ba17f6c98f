// SPDX-License-Identifier: MIT
// The panel's profile rules: its schema check refuses what the Python package refuses, in the same
// words; its diff lines and its plan are the ones radioctl prints and sends.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const vm = require('node:vm');

const read = path => fs.readFileSync(`${__dirname}/../../${path}`, 'utf8');
const RadioProfile = vm.runInThisContext(`${read('web/profile.js')}; RadioProfile`);
const kPlug = [...Array(16).keys()];

test('checks profiles as the Python package does', () => {
  const schema = JSON.parse(read('schema/profile.schema.json'));
  for (const [profile, message] of JSON.parse(read('tests/profile_checks.json'))) {
    assert.equal(RadioProfile.problem(schema, profile), message || '', JSON.stringify(profile));
  }
});

test('says what differs and applies in a safe order', () => {
  const profile = { radio: {}, codeplug: kPlug, offset: 600000, frequency: 5, split: { rx: -100, tx: 100 },
    channels: [{ slot: 7, tx_tone: 100 }, { slot: 2, frequency: 1, rx_tone: 88.5, offset: -5 }], config: [1, 2] };
  const radio = { codeplug: kPlug, offset: -600000, split: { tx: 0, rx: 0 }, config: [0, 0] };
  assert.deepEqual(RadioProfile.diffLines(profile, radio), ['offset: radio -600000 Hz, profile +600000 Hz',
    'frequency: cannot be read, would be set', 'split: radio tx 0 Hz rx 0 Hz, profile tx +100 Hz rx -100 Hz',
    'channel 7: cannot be read, would be set', 'channel 2: cannot be read, would be set', 'config: radio 00 00, profile 01 02']);
  assert.deepEqual(RadioProfile.steps(profile, 4).map(step => [step.key, ...step.send]), [
    ['channel 2', 'set-mode 2', 'set-freq 1', 'set-pl 88.5 --rx', 'set-offset -5', 'store-vfo'],
    ['channel 7', 'set-mode 7', 'set-pl 100', 'store-vfo'], ['mode', 'set-mode 4'], ['frequency', 'set-freq 5'],
    ['offset', 'set-offset 600000'], ['split', 'set-split 100 -100'], ['config', 'set-config 1 2'],
    ['codeplug', `set-codeplug 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f`]]);
  assert.deepEqual(RadioProfile.steps(profile)[2], { key: 'mode', left: 7 });
});
