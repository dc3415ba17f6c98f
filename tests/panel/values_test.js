// SPDX-License-Identifier: MIT
// The panel's value checks agree with radioctl's: what one refuses the other refuses in the
// same words, and what the panel sends radioctl takes.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const vm = require('node:vm');

const { RadioValues } = vm.runInNewContext(
  `${fs.readFileSync(`${__dirname}/../../web/values.js`, 'utf8')}; ({ RadioValues })`, { TextEncoder });

// radioctl's usage message for `args`, or '' when it takes them (it then fails to open the line).
function radioctlSays(args) {
  const run = spawnSync(process.env.RADIOCTL, ['-d', '/nonexistent', ...args], { encoding: 'utf8' });
  return run.status === 2 ? run.stderr.trim().replace(/^radioctl: [a-z-]+: /, '') : '';
}

// Each row: the field's kind, radioctl's name for it, the command its words follow and what a
// person might type.
const kFields = [
  ['frequency', 'FREQ', 'set-freq', ['145.5M', '433920k', '1.5G', '145.5MHz', '.5k', '+7', '145.0000005M', '145.5.5',
    '-5', '99999999999', '12345678901234567890', '1e6', '145,5M', '', '1 2', '1.0001k', '0.0005K', 'M', '.5', '1\x01',
    '145é', `${'1'.repeat(63)}é`]],
  ['offset', 'HZ', 'set-offset', ['-600k', '+600k', '-0.6M', '3G', '-2147483649', '-0']],
  ['split', 'RX', 'set-split 0', ['-6000', '2.147483647G', '2147483648', 'x']],
  ['tone', 'TONE', 'set-pl', ['88.5', '100', '0.0', '999.9', '88.55', '1000', '88.5k', '88.5Hz']],
  ['mode', 'MODE', 'set-mode', ['3', '007', '99', '100', '0x10', '+1', '3.0']],
  ['duplex', 'CODE', 'set-duplex', ['17', '0x11', '0XfF', '256', '0x100', '0x', '0xfg']],
  ['byte', 'D1', 'set-config 0', ['52', '0x34', '-1', 'ff', '256']],
  ['codeplug', 'HEX', 'set-codeplug', ['000102030405060708090a0b0c0d0e0f', '0 1 2 3 4 5 6 7 8 9 a b c d e 0xf', '01 02',
    '100 1 2 3 4 5 6 7 8 9 a b c d e f', 'zz 1 2 3 4 5 6 7 8 9 a b c d e f', '00010203040506070809x0b0c0d0e0f']],
];

// The words sent are what was typed, or a codeplug's 32 digits cut into its 16 bytes.
for (const [kind, name, command, texts] of kFields) {
  test(`reads ${kind} values as radioctl does`, () => {
    for (const text of texts) {
      const { words, problem } = RadioValues.read(kind, name, text);
      assert.equal(problem, radioctlSays([...command.split(' '), ...words]), `'${text}'`);
    }
  });
}
