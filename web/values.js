// SPDX-License-Identifier: MIT
// Reading what a person types into the panel's fields as radioctl reads its
// arguments: the same kinds of value, notations, ranges and messages, so
// that the panel refuses what radioctl would refuse, in radioctl's words,
// before anything is sent. Numbers are read as a digit string and a power
// of ten, as radioctl reads them, so "145.5M" is exactly 145500000 and a
// value finer than its unit is refused, never rounded. A codeplug is
// radioctl's sixteen hex bytes, or the same as 32 hex digits in one word.
// Pure functions of their arguments; the page's script calls read().
'use strict';

const RadioValues = (() => {
  const kind = (syntax, decimals, multipliers, min, max, what, unit) => ({
    syntax, decimals, multipliers, min, max, what, unit,
  });
  const kInt32Min = -2147483648;
  const kInt32Max = 2147483647;
  const kKinds = {
    // syntax: 'scaled' is [-|+]digits[.digits][multiplier][Hz], 'decimal'
    // digits, 'decimalOrHex' digits or 0x and hex digits, 'hex' hex digits
    // with or without 0x; decimals: the value counts 10^-decimals units.
    //           syntax          places  k,M,G  min        max         what                 unit
    frequency: kind('scaled',       0,   true,  0,         9999999999, 'a frequency in Hz', ' Hz'),
    offset:    kind('scaled',       0,   true,  kInt32Min, kInt32Max,  'an offset in Hz',   ' Hz'),
    split:     kind('scaled',       0,   true,  kInt32Min, kInt32Max,  'a VCO split in Hz', ' Hz'),
    tone:      kind('scaled',       1,   false, 0,         9999,       'a tone in Hz',      ' Hz'),
    mode:      kind('decimal',      0,   false, 0,         99,         'a mode number',     ''),
    duplex:    kind('decimalOrHex', 0,   false, 0,         255,        'a duplex code',     ''),
    byte:      kind('decimalOrHex', 0,   false, 0,         255,        'a byte',            ''),
    hexByte:   kind('hex',          0,   false, 0,         255,        'a hex byte',        ''),
  };
  const kExponents = { k: 3, K: 3, M: 6, G: 9 };
  const kScaled = /^([-+]?)(\d*)(?:\.(\d*))?([kKMG]?)(?:Hz)?$/;
  const kMaxEchoed = 64;
  const kCodeplugBytes = 16;
  const kCompactCodeplug = /^[0-9a-fA-F]{32}$/;

  const printableAscii = byte => byte >= 0x20 && byte < 0x7f;

  // `text` as radioctl quotes it: its UTF-8 bytes cut to 64 ("..." marks
  // the cut, which may fall inside a character), every byte outside
  // printable ASCII as \xNN.
  function echoed(text) {
    const bytes = new TextEncoder().encode(text);
    const shown = Array.from(bytes.subarray(0, kMaxEchoed), byte => (printableAscii(byte)
      ? String.fromCharCode(byte) : `\\x${byte.toString(16).padStart(2, '0')}`)).join('');
    return bytes.length > kMaxEchoed ? `${shown}...` : shown;
  }

  // The digits shifted by the exponent, refusing to drop a digit that is not 0.
  function scale(negative, digits, exponent) {
    if (exponent < 0) {
      const keep = Math.max(digits.length + exponent, 0);
      if (/[^0]/.test(digits.slice(keep))) return { reading: 'tooFine' };
      digits = digits.slice(0, keep);
    } else {
      digits += '0'.repeat(exponent);
    }
    // A number too long to hold exactly is far out of every range.
    const value = Number(digits);
    return { reading: 'number', value: negative ? -value : value };
  }

  function readScaled(text, row) {
    const parts = kScaled.exec(text);
    if (!parts || !(parts[2] || parts[3]) || (parts[4] && !row.multipliers)) {
      return { reading: 'notANumber' };
    }
    const [, sign, whole, fraction = '', multiplier] = parts;
    const exponent = row.decimals - fraction.length + (kExponents[multiplier] || 0);
    return scale(sign === '-', whole + fraction, exponent);
  }

  function readInteger(text, row) {
    const prefixed = text.length > 2 && /^0[xX]/.test(text);
    const hex = row.syntax === 'hex' || (row.syntax === 'decimalOrHex' && prefixed);
    const digits = hex && prefixed ? text.slice(2) : text;
    if (!(hex ? /^[0-9a-fA-F]+$/ : /^[0-9]+$/).test(digits)) return { reading: 'notANumber' };
    return { reading: 'number', value: parseInt(digits, hex ? 16 : 10) };
  }

  // A value in the person's notation, without its unit.
  function format(row, value) {
    if (row.syntax === 'hex') return value.toString(16).padStart(2, '0');
    const digits = String(Math.abs(value)).padStart(row.decimals + 1, '0');
    const point = digits.length - row.decimals;
    const shown = row.decimals ? `${digits.slice(0, point)}.${digits.slice(point)}` : digits;
    return value < 0 ? `-${shown}` : shown;
  }

  // The problem with one word as a value of `kindName`, or '' when it is one.
  function problemWith(kindName, word) {
    const row = kKinds[kindName];
    const read = row.syntax === 'scaled' ? readScaled(word, row) : readInteger(word, row);
    if (read.reading === 'number' && (read.value < row.min || read.value > row.max)) {
      read.reading = 'outOfRange';
    }
    switch (read.reading) {
      case 'notANumber': return `is not ${row.what}`;
      case 'tooFine': return `is finer than ${format(row, 1)}${row.unit}`;
      case 'outOfRange':
        return `is out of range (${format(row, row.min)} to ${format(row, row.max)}${row.unit})`;
      default: return '';
    }
  }

  // The words a field adds to its command and the count radioctl expects.
  function wordsOf(kindName, text) {
    const words = text.split(/\s+/).filter(Boolean);
    if (kindName !== 'codeplug') return { words, count: 1, each: kindName };
    const compact = words.length === 1 && kCompactCodeplug.test(words[0]);
    return { words: compact ? words[0].match(/../g) : words, count: kCodeplugBytes, each: 'hexByte' };
  }

  // Reads the text of a field of `kindName` ('frequency', ..., 'codeplug')
  // that radioctl names `name` ("FREQ"): returns the words to send, or the
  // problem as radioctl words it ("FREQ '1x' is not a frequency in Hz").
  function read(kindName, name, text) {
    const { words, count, each } = wordsOf(kindName, text);
    if (words.length === 0) return { words, problem: `${name} is required` };
    if (words.length < count) {
      return { words, problem: `${name}: At least ${count} required but received ${words.length}` };
    }
    if (words.length > count) return { words, problem: `unexpected argument '${echoed(words[count])}'` };
    for (const word of words) {
      const problem = problemWith(each, word);
      if (problem) return { words, problem: `${name} '${echoed(word)}' ${problem}` };
    }
    return { words, problem: '' };
  }

  return { read };
})();
