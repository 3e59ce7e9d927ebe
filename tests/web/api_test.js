#!/usr/bin/env node
// The API's own promises, beyond the bytes that compare_native.js checks:
// the fields of its errors, the memory budget of each call, memory given
// back, and documents in the encodings that the host's TextDecoder reads,
// against the native program.
//   api_test.js NATIVE_QUARVEL PACKAGE_DIR
'use strict';
const assert = require('assert');
const {spawnSync} = require('child_process');
const path = require('path');

const [native, packageDir] = process.argv.slice(2).map((p) => path.resolve(p));
const quarvel = require(path.join(packageDir, 'quarvel.js'));
const kOutOfMemory = 'kestrown: Out of Memory, Process Terminated';

function thrownBy(work) {
  try {
    work();
  } catch (error) {
    assert(error instanceof quarvel.QuarvelError && error instanceof Error, String(error));
    return error;
  }
  assert.fail('nothing was thrown');
}

// Errors: the program's message, and the place in fields; check gives the
// form of --check.
for (const [document, reason, line, position] of [
  ['<quarvel><left>abc</lef></quarvel>',
   'mismatched tag: </lef> does not close <left>, opened on line 1', 1, 21],
  ['<quarvel>\n<left>\n<br></left>',
   'mismatched tag: </left> does not close <br>, opened on line 3', 3, 7],
  ['', 'no element found', 1, 1],
]) {
  const error = thrownBy(() => quarvel.format(document, {name: 'doc.xml'}));
  assert.strictEqual(error.message, `"doc.xml" (${line}): positon ${position}: ${reason}`);
  assert.strictEqual(error.line, line);
  assert.strictEqual(error.position, position);
  assert(typeof error.code === 'number' && error.code < 0);
  assert.strictEqual(thrownBy(() => quarvel.check(document, {name: 'doc.xml'})).message,
                     `doc.xml:${line}:${position}: error: ${reason}`);
}

// A string is its UTF-8 bytes; check's warnings carry numbers.
const notice = '<quarvel><center>Notice</center>\n<centre witdh="3">x</centre></quarvel>';
assert.deepStrictEqual(quarvel.format(notice), quarvel.format(new TextEncoder().encode(notice)));
assert.deepStrictEqual(quarvel.check(notice).map((w) => [w.line, w.column]), [[2, 1]]);

// Hostile documents stop with the out-of-memory message within 2 s of
// processor time, and the next call works.
const hostile = [
  '<quarvel><space repeat="2000000000"/></quarvel>',
  '<quarvel><par><div width="20">' + 'a'.repeat(16000000) + '</div></par></quarvel>',
];
for (const document of hostile) {
  const start = process.cpuUsage();
  const error = thrownBy(() => quarvel.format(document));
  const used = process.cpuUsage(start);
  assert.strictEqual(error.message, kOutOfMemory);
  assert.strictEqual(error.code, 'ENOMEM');
  const seconds = (used.user + used.system) / 1e6;
  console.log(`hostile document ${document.length} bytes: out of memory after ${seconds.toFixed(2)} s of processor time`);
  assert(seconds < 2, `stopped after ${seconds} s`);
  assert.strictEqual(quarvel.format('<quarvel><left>ok</left></quarvel>', {utf8: true}), '    ok\n');
  // What the stopped call took is given back, the engine's memory included.
  assert(quarvel.heapInUse() < 64 * 1024 * 1024, `${quarvel.heapInUse()} bytes held`);
}

// The budget is settable per call and by default; what a call takes it
// gives back, so that calls can go on for ever.
const medium = '<quarvel><par><div width="20">' + 'abc '.repeat(100000) + '</div></par></quarvel>';
assert.strictEqual(thrownBy(() => quarvel.format(medium, {memoryBudget: 1 << 20})).message,
                   kOutOfMemory);
quarvel.configure({memoryBudget: 1 << 20});
thrownBy(() => quarvel.format(medium));
quarvel.configure({memoryBudget: quarvel.DEFAULT_MEMORY_BUDGET});
const rows = quarvel.format(medium);
const held = quarvel.heapInUse();
for (let i = 0; i < 20; ++i) assert.deepStrictEqual(quarvel.format(medium), rows);
assert.strictEqual(quarvel.heapInUse(), held);
assert.throws(() => quarvel.format(medium, {memoryBudget: -1}), RangeError);

// Encodings decoded by the host, against the native program's iconv: the
// same text in each, made by iconv.
for (const [encoding, sample] of [
  ['Shift_JIS', '日本語のテキスト、カナ ｱｲｳ and ASCII.'], ['EUC-JP', '日本語のテキスト、カナ'],
  ['ISO-2022-JP', '日本語のテキスト、カナ'], ['GBK', '中文 and 日本語'], ['Big5', '中文'],
  ['EUC-KR', '한국어'], ['windows-1252', 'Ü ß € “quoted” – Š'], ['KOI8-R', 'ёлка'],
  ['windows-1251', 'ёлка'], ['ISO-8859-2', 'Łódź'],
]) {
  const utf8 = `<?xml version="1.0" encoding="${encoding}"?><quarvel><left>${sample}</left></quarvel>`;
  const converted = spawnSync('iconv', ['-f', 'UTF-8', '-t', encoding], {input: utf8});
  assert.strictEqual(converted.status, 0, `iconv to ${encoding}`);
  const expected = spawnSync(native, ['-'], {input: converted.stdout});
  assert.strictEqual(expected.status, 0, `native ${encoding}: ${expected.stderr}`);
  assert.deepStrictEqual(Buffer.from(quarvel.format(converted.stdout)), expected.stdout, encoding);
}
// Bytes the encoding does not allow stop the load where the native program
// stops it: the host's decoder is asked how far the bytes are whole.
for (const [encoding, bad] of [
  ['Shift_JIS', [0x93, 0xfa, 0x96, 0x7b, 0x0a, 0x93, 0xfa, 0xff, 0x96, 0x7b]],
  ['EUC-JP', [0xc6, 0xfc, 0xcb, 0xdc, 0x0a, 0x41, 0xc6, 0xfc, 0xa1]],
  ['GBK', [0xd6, 0xd0, 0x0a, 0x0a, 0x41, 0x42, 0x81, 0x20, 0x41]],
]) {
  const document = Buffer.concat([
    Buffer.from(`<?xml version="1.0" encoding="${encoding}"?>\n<quarvel><left>`),
    Buffer.from(bad), Buffer.from('</left></quarvel>')]);
  const expected = spawnSync(native, ['-'], {input: document});
  assert.strictEqual(expected.status, 1, encoding);
  const error = thrownBy(() => quarvel.format(document, {name: '-'}));
  assert.strictEqual(error.message + '\n', expected.stderr.toString(), encoding);
}
console.log('api: all passed');
