#!/usr/bin/env node
// Runs every document of the gallery, the fuzzer's corpus and its
// regressions through the native program and through the web build, and
// compares them byte for byte: the Node command (standard output, standard
// error, exit code; plain, --utf-8 and --check) and the API (format's bytes
// and text, check's warnings, the message of a thrown error).
//   compare_native.js NATIVE_QUARVEL PACKAGE_DIR SOURCE_DIR
'use strict';
const {spawn} = require('child_process');
const os = require('os');
const fs = require('fs');
const path = require('path');

const [native, packageDir, sourceDir] = process.argv.slice(2).map((p) => path.resolve(p));
const quarvel = require(path.resolve(packageDir, 'quarvel.js'));
const command = path.resolve(packageDir, 'bin/quarvel.js');

function documents() {
  const found = [];
  for (const [folder, pattern] of [['examples', /\.xml$/], ['fuzz/corpus', /./],
                                   ['fuzz/regressions', /^(?!README)/]]) {
    const dir = path.join(sourceDir, folder);
    if (!fs.existsSync(dir)) continue;
    for (const name of fs.readdirSync(dir).sort()) {
      if (pattern.test(name)) found.push(path.join(folder, name));
    }
  }
  return found;
}

// Runs a program to its end: its output bytes, standard error as text and
// exit code.
function run(program, args) {
  return new Promise((resolve) => {
    const child = spawn(program, args, {cwd: sourceDir});
    const out = [];
    const err = [];
    child.stdout.on('data', (chunk) => out.push(chunk));
    child.stderr.on('data', (chunk) => err.push(chunk));
    child.on('close', (status) => resolve(
        {stdout: Buffer.concat(out), stderr: Buffer.concat(err).toString(), status}));
  });
}

let failures = 0;
function expectSame(what, expected, actual) {
  const same = Buffer.isBuffer(expected) || expected instanceof Uint8Array ?
      Buffer.compare(Buffer.from(expected), Buffer.from(actual)) === 0 :
      expected === actual;
  if (same) return;
  ++failures;
  const show = (value) => JSON.stringify(
      value instanceof Uint8Array ? `${value.length} bytes` : String(value).slice(0, 300));
  console.log(`DIFFERS ${what}\n  native: ${show(expected)}\n  web:    ${show(actual)}`);
}

// The message of a thrown error, as standard error shows it.
function thrown(work) {
  try {
    return {value: work()};
  } catch (error) {
    if (!(error instanceof quarvel.QuarvelError)) throw error;
    return {message: error.message + '\n'};
  }
}

async function compare(file) {
  const bytes = fs.readFileSync(path.join(sourceDir, file));
  for (const options of [[], ['--utf-8'], ['--check']]) {
    const [expected, actual] = await Promise.all(
        [run(native, [...options, file]), run(process.execPath, [command, ...options, file])]);
    const what = `${file} ${options.join(' ')}`.trim();
    expectSame(`${what}: exit code`, expected.status, actual.status);
    expectSame(`${what}: standard output`, expected.stdout, actual.stdout);
    expectSame(`${what}: standard error`, expected.stderr, actual.stderr);

    if (options[0] === '--check') {
      const result = thrown(() => quarvel.check(bytes, {name: file}));
      let text = result.message;
      if (!text) {
        text = result.value.map((w) => `${file}:${w.line}:${w.column}: warning: ${w.message}\n`)
                   .join('');
        const rest = result.value.notShown;
        if (rest > 0) text += `${file}: warning: ${rest} more warning${rest === 1 ? '' : 's'} not shown\n`;
      }
      expectSame(`${what}: API check`, expected.stderr, text);
    } else {
      const utf8 = options[0] === '--utf-8';
      const result = thrown(() => quarvel.format(bytes, {name: file, utf8}));
      if (expected.status === 0) {
        expectSame(`${what}: API format`, utf8 ? expected.stdout.toString() : expected.stdout,
                   result.value);
      } else {
        expectSame(`${what}: API error`, expected.stderr, result.message);
      }
    }
  }
}

async function main() {
  const list = documents();
  const waiting = [...list];
  // As many documents at a time as there are processors.
  const workers = Array.from({length: Math.max(1, os.cpus().length)}, async () => {
    while (waiting.length > 0) await compare(waiting.shift());
  });
  await Promise.all(workers);
  console.log(`${list.length} documents, ${failures} differences`);
  process.exit(failures === 0 ? 0 : 1);
}

main();
