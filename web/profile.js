// SPDX-License-Identifier: MIT
// Radio profiles as the panel reads, compares and applies them, in pure
// functions of their arguments: the check of a profile against the
// profile schema (profile.schema.json, the file radioctl and the Python
// package read, served beside the page), the lines that say how a profile
// and a radio differ, and the radioctl command lines that apply it, in a
// safe order. The check knows the part of JSON Schema that file uses
// (type, minimum, maximum, enum, required, properties and
// additionalProperties false, items, minItems, maxItems, uniqueItems, $ref
// into $defs, and the file's own x-decimals, a number's most decimal
// places) and refuses a schema that uses more; a problem names the value's
// place (channels[2].frequency) in the Python package's words. Decimal
// places are counted on the number's shortest decimal form, so 0.3 has one
// and 88.55 two. The page's script does the sending.
'use strict';

const RadioProfile = (() => {
  const kKnown = new Set(['$schema', '$id', '$defs', 'title', 'description', 'type', 'minimum',
    'maximum', 'x-decimals', 'enum', 'required', 'properties', 'additionalProperties', 'items',
    'minItems', 'maxItems', 'uniqueItems', '$ref']);
  const kTypes = {
    integer: Number.isInteger,
    number: Number.isFinite,
    string: value => typeof value === 'string',
    object: value => value !== null && typeof value === 'object' && !Array.isArray(value),
    array: Array.isArray,
  };
  const kArticles = { integer: 'an integer', number: 'a number', string: 'a string', object: 'an object', array: 'an array' };

  const signedHz = hertz => (hertz ? `${hertz > 0 ? '+' : ''}${hertz} Hz` : '0 Hz');
  const hexBytes = data => data.map(byte => byte.toString(16).padStart(2, '0')).join(' ');
  // The command lines of the values a channel and a profile set, in the order they are set.
  const kVfo = {
    frequency: hertz => `set-freq ${hertz}`,
    duplex: code => `set-duplex ${code}`,
    tx_tone: hertz => `set-pl ${hertz}`,
    rx_tone: hertz => `set-pl ${hertz} --rx`,
    offset: hertz => `set-offset ${hertz}`,
  };
  // The keys the radio reports: the reader (whose reply holds the key), the setter, the value as shown.
  const kReadable = {
    offset: { read: 'get-offset', set: kVfo.offset, shown: signedHz },
    split: { read: 'get-split', set: ({ tx, rx }) => `set-split ${tx} ${rx}`,
      shown: ({ tx, rx }) => `tx ${signedHz(tx)} rx ${signedHz(rx)}` },
    config: { read: 'get-config', set: data => `set-config ${data.join(' ')}`, shown: hexBytes },
    codeplug: { read: 'get-codeplug', set: data => `set-codeplug ${hexBytes(data)}`, shown: hexBytes },
  };
  const kOrder = ['frequency', 'duplex', 'tx_tone', 'rx_tone', 'offset', 'split', 'config', 'codeplug'];
  // What the bridge last set that the radio cannot report, under the profile's keys.
  const kLastSet = [
    ['frequency', set => set.freq], ['mode', set => set.mode], ['duplex', set => set.duplex],
    ['tx_tone', set => set.pl && set.pl.tx], ['rx_tone', set => set.pl && set.pl.rx],
  ];

  // A number's shortest decimal form as whole digits and a count of decimal places.
  function decimal(number) {
    const [mantissa, exponent = '0'] = String(number).split('e');
    const [whole, fraction = ''] = mantissa.split('.');
    return { digits: BigInt(whole + fraction), places: fraction.length - Number(exponent) };
  }

  // '' when `value` has at most `places` decimal places (or no limit is set), else the problem.
  function decimalsProblem(value, places) {
    if (places === undefined || decimal(value).places <= places) return '';
    return `must be a multiple of ${(10 ** -places).toFixed(places)}`;
  }

  function resolve(root, rules) {
    while (rules.$ref) rules = rules.$ref.slice(2).split('/').reduce((node, name) => node[name], root);
    return rules;
  }

  function range({ minimum: low, maximum: high }, value) {
    if ((low === undefined || value >= low) && (high === undefined || value <= high)) return '';
    if (low !== undefined && high !== undefined) return `must be from ${low} to ${high}`;
    return high === undefined ? `must be at least ${low}` : `must be at most ${high}`;
  }

  function count({ minItems: low = 0, maxItems: high }, length) {
    if (low === high && length !== low) return `must hold ${low} items`;
    if (length < low) return `must hold at least ${low} items`;
    if (high !== undefined && length > high) return `must hold at most ${high} items`;
    return '';
  }

  const at = (name, text) => text && `${name}: ${text}`;
  // Own keys only: a key such as "constructor" is no property of a schema's.
  const has = (object, key) => Object.prototype.hasOwnProperty.call(object, key);

  function objectProblem(root, rules, value, place) {
    const known = rules.properties || {};
    const prefix = place ? `${place}.` : '';
    for (const [key, item] of Object.entries(value)) {
      const found = has(known, key) ? problemAt(root, known[key], item, prefix + key)
        : rules.additionalProperties === false && `${prefix}${key}: unknown key`;
      if (found) return found;
    }
    const missing = (rules.required || []).find(key => !has(value, key));
    return missing === undefined ? '' : `${prefix}${missing}: is required`;
  }

  function arrayProblem(root, rules, value, place) {
    const seen = [];
    for (const [index, item] of value.entries()) {
      const found = problemAt(root, rules.items || {}, item, `${place}[${index}]`);
      if (found) return found;
      const text = JSON.stringify(item);
      if (rules.uniqueItems && seen.includes(text)) return `${place}[${index}]: repeats an earlier item`;
      seen.push(text);
    }
    return '';
  }

  function problemAt(root, schemaRules, value, place) {
    const rules = resolve(root, schemaRules);
    const unknown = Object.keys(rules).filter(key => !kKnown.has(key));
    if (unknown.length) throw new Error(`the profile schema uses ${unknown}, which this check does not know`);
    const name = place || 'profile';
    const { type } = rules;
    if (type && !kTypes[type](value)) return `${name}: must be ${kArticles[type]}`;
    if (rules.enum && !rules.enum.some(item => JSON.stringify(item) === JSON.stringify(value))) {
      return `${name}: must be one of ${rules.enum.map(item => JSON.stringify(item)).join(', ')}`;
    }
    if (type === 'integer' || type === 'number') {
      return at(name, range(rules, value) || decimalsProblem(value, rules['x-decimals']));
    }
    if (type === 'object') return objectProblem(root, rules, value, place);
    if (type === 'array') return at(name, count(rules, value.length)) || arrayProblem(root, rules, value, place);
    return '';
  }

  // The first problem of `profile` against `schema`, or '' when it is a profile.
  const problem = (schema, profile) => problemAt(schema, schema, profile, '');

  const readable = key => has(kReadable, key);
  // The reader that reports `key` (offset, split, config, codeplug): its reply holds it under that key.
  const readerOf = key => kReadable[key].read;
  // Whether the radio's value of a readable key is the one wanted.
  const same = (key, radio, wanted) => kReadable[key].shown(radio) === kReadable[key].shown(wanted);
  const readBack = (key, back, wanted) =>
    `read back ${kReadable[key].shown(back)}, wanted ${kReadable[key].shown(wanted)}`;

  // One line per key of `profile` that differs from `readings` (the radio's
  // values of its readable keys) or cannot be compared, in the profile's order.
  function diffLines(profile, readings) {
    const lines = [];
    for (const [key, wanted] of Object.entries(profile)) {
      if (key === 'channels') {
        lines.push(...wanted.map(channel => `channel ${channel.slot}: cannot be read, would be set`));
      } else if (readable(key)) {
        if (!same(key, readings[key], wanted)) {
          lines.push(`${key}: radio ${kReadable[key].shown(readings[key])}, profile ${kReadable[key].shown(wanted)}`);
        }
      } else if (key !== 'radio') {
        lines.push(`${key}: cannot be read, would be set`);
      }
    }
    return lines;
  }

  // The steps that apply `profile`, in a safe order: each has its key, the
  // command lines to send and, for a readable key, the value wanted. The
  // channels come first, by slot; then the mode, or with channels and no
  // mode the slot `selected` before (when known) or, as `left`, the last
  // channel's; the codeplug comes last.
  function steps(profile, selected) {
    const channels = [...(profile.channels || [])].sort((a, b) => a.slot - b.slot);
    const plan = channels.map(channel => ({
      key: `channel ${channel.slot}`,
      send: [`set-mode ${channel.slot}`,
        ...Object.keys(kVfo).filter(key => key in channel).map(key => kVfo[key](channel[key])), 'store-vfo'],
    }));
    if ('mode' in profile) plan.push({ key: 'mode', send: [`set-mode ${profile.mode}`] });
    else if (channels.length && selected !== undefined) plan.push({ key: 'mode', send: [`set-mode ${selected}`] });
    else if (channels.length) plan.push({ key: 'mode', left: channels[channels.length - 1].slot });
    for (const key of kOrder.filter(name => name in profile)) {
      const value = profile[key];
      plan.push(readable(key) ? { key, send: [kReadable[key].set(value)], wanted: value }
        : { key, send: [kVfo[key](value)] });
    }
    return plan;
  }

  // The bridge's last-set values under the profile's keys, in the profile's order.
  function fromBridge(lastSet) {
    const values = {};
    for (const [key, value] of kLastSet) {
      const found = value(lastSet);
      if (found !== undefined) values[key] = found;
    }
    return values;
  }

  return { problem, readable, readerOf, same, readBack, diffLines, steps, fromBridge, readableKeys: Object.keys(kReadable) };
})();
