// quarvel's JavaScript API, for Node and for browsers: the engine compiled
// to WebAssembly (quarvel_engine.js and .wasm beside this file), loaded once,
// synchronously, on the first call. Types: quarvel.d.ts.
'use strict';

const createQuarvelEngine = require('./quarvel_engine.js');

const DEFAULT_MEMORY_BUDGET = 256 * 1024 * 1024;
// The engine's statuses that are failures (web_api.cc).
const PARSE_ERROR = 2;
const OUT_OF_MEMORY = 3;

// An engine that holds more than this between calls (the layout keeps its
// record pools for reuse) is dropped, and with it its WebAssembly memory,
// which can only grow: the next call starts a fresh one from the compiled
// module.
const RETAINED_LIMIT = 64 * 1024 * 1024;

let engine = null;
let compiled = null;
// Standard error's lines during a call: the messages, as the program prints them.
let messages = [];
const settings = {wasmBinary: null, memoryBudget: DEFAULT_MEMORY_BUDGET};

class QuarvelError extends Error {
  constructor(message, fields) {
    super(message);
    this.name = 'QuarvelError';
    Object.assign(this, fields);
  }
}

function loadEngine() {
  if (engine) return engine;
  const module = {
    print: () => {},
    printErr: (line) => messages.push(line),
  };
  module.instantiateWasm = (imports, receive) => {
    if (!compiled) compiled = new WebAssembly.Module(engineBytes());
    const instance = new WebAssembly.Instance(compiled, imports);
    receive(instance, compiled);
    return instance.exports;
  };
  createQuarvelEngine(module);
  if (typeof module._quarvel_format !== 'function') {
    throw new Error('quarvel: the WebAssembly engine did not load');
  }
  engine = module;
  return engine;
}

// The engine's WebAssembly: as configured (a page), or beside this file.
function engineBytes() {
  if (settings.wasmBinary) return settings.wasmBinary;
  return require('fs').readFileSync(require('path').join(__dirname, 'quarvel_engine.wasm'));
}

function documentBytes(document) {
  if (typeof document === 'string') return new TextEncoder().encode(document);
  if (document instanceof Uint8Array) return document;
  if (document instanceof ArrayBuffer) return new Uint8Array(document);
  if (ArrayBuffer.isView(document)) {
    return new Uint8Array(document.buffer, document.byteOffset, document.byteLength);
  }
  throw new TypeError('quarvel: the document must be a string, a Uint8Array or an ArrayBuffer');
}

function memoryBudget(options) {
  const budget = options && options.memoryBudget !== undefined ? options.memoryBudget
                                                              : settings.memoryBudget;
  if (typeof budget !== 'number' || !(budget > 0)) {
    throw new RangeError('quarvel: memoryBudget must be a positive number of bytes');
  }
  return budget;
}

// Runs one engine call on `document`; gives the status and the result's
// bytes (copied out), then frees everything the call took.
function call(run, document, options) {
  const quarvel = loadEngine();
  const bytes = documentBytes(document);
  const budget = memoryBudget(options);
  const name = String((options && options.name) || 'document');
  const nameSize = quarvel.lengthBytesUTF8(name) + 1;
  const namePointer = quarvel._malloc(nameSize);
  const pointer = quarvel._malloc(Math.max(bytes.length, 1));
  if (!namePointer || !pointer) {
    quarvel._free(namePointer);
    quarvel._free(pointer);
    throw new QuarvelError('kestrown: Out of Memory, Process Terminated', {code: 'ENOMEM'});
  }
  quarvel.stringToUTF8(name, namePointer, nameSize);
  quarvel.HEAPU8.set(bytes, pointer);
  messages = [];
  try {
    const status = run(quarvel, pointer, bytes.length, namePointer, budget);
    const message = messages.join('\n');
    if (status === PARSE_ERROR) {
      const line = quarvel._quarvel_error_line();
      throw new QuarvelError(message, {
        code: quarvel._quarvel_error_code(),
        line: line > 0 ? line : undefined,
        position: line > 0 ? quarvel._quarvel_error_position() : undefined,
      });
    }
    if (status === OUT_OF_MEMORY) throw new QuarvelError(message, {code: 'ENOMEM'});
    const data = quarvel._quarvel_result_data();
    const result = quarvel.HEAPU8.slice(data, data + quarvel._quarvel_result_size());
    return {result, notShown: quarvel._quarvel_result_not_shown()};
  } finally {
    quarvel._quarvel_release();
    quarvel._free(pointer);
    quarvel._free(namePointer);
    if (quarvel._quarvel_heap_in_use() > RETAINED_LIMIT) engine = null;
  }
}

function format(document, options) {
  const utf8 = Boolean(options && options.utf8);
  const {result} = call(
      (quarvel, pointer, size, name, budget) =>
          quarvel._quarvel_format(pointer, size, name, utf8 ? 1 : 0, budget),
      document, options);
  return utf8 ? new TextDecoder().decode(result) : result;
}

function check(document, options) {
  const {result, notShown} = call(
      (quarvel, pointer, size, name, budget) =>
          quarvel._quarvel_check(pointer, size, name, budget),
      document, options);
  const warnings = JSON.parse(new TextDecoder().decode(result));
  warnings.notShown = notShown;
  return warnings;
}

// Settings for every later call: `memoryBudget`, and `wasmBinary` (the
// engine's bytes, for a page that cannot fetch them), taken when the engine
// is first compiled.
function configure(options) {
  if (options.memoryBudget !== undefined) {
    memoryBudget(options);
    settings.memoryBudget = options.memoryBudget;
  }
  if (options.wasmBinary !== undefined) settings.wasmBinary = options.wasmBinary;
}

// The heap the engine holds in blocks, between calls (at most RETAINED_LIMIT
// after a call): what the tests watch.
function heapInUse() {
  return loadEngine()._quarvel_heap_in_use();
}

module.exports = {format, check, configure, QuarvelError, DEFAULT_MEMORY_BUDGET, heapInUse};
