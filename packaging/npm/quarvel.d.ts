// quarvel: lays out the text of an XML document in fixed-width columns.

/** A document: its text (encoded as UTF-8, so its declaration must say UTF-8 or nothing),
 *  or its bytes in any encoding the program reads. */
export type QuarvelDocument = string | Uint8Array | ArrayBuffer | ArrayBufferView;

export interface CallOptions {
  /** The name that messages give the document (default "document"). */
  name?: string;
  /** Bytes of memory this call may take (default 256 MiB); past it, the call stops
   *  with the out-of-memory message. The rows returned count four times. */
  memoryBudget?: number;
}

export interface FormatOptions extends CallOptions {
  /** UTF-8 text with LF row ends, as a string, instead of the UTF-16 bytes. */
  utf8?: boolean;
}

/** Thrown when a document cannot be read or laid out. The message is the program's own:
 *  as a normal run prints it from format, as --check prints it from check. */
export class QuarvelError extends Error {
  /** The parse error code (negative), or "ENOMEM" when memory ran out. */
  code: number | 'ENOMEM';
  /** Line and position of a parse error, from 1; undefined when there is none. */
  line?: number;
  position?: number;
}

export interface Warning {
  line: number;
  column: number;
  message: string;
}

/** The first 1,000 warnings, and the count of the others. */
export interface Warnings extends Array<Warning> {
  notShown: number;
}

/** The rows as the program writes them: UTF-16 little endian with a byte-order mark and
 *  CR LF row ends. */
export function format(document: QuarvelDocument, options?: FormatOptions & {utf8?: false}): Uint8Array;
/** The rows as UTF-8 text with LF row ends, as with --utf-8. */
export function format(document: QuarvelDocument, options: FormatOptions & {utf8: true}): string;

/** What --check reports: an empty array when there is nothing to say. */
export function check(document: QuarvelDocument, options?: CallOptions): Warnings;

/** Settings for the calls that follow: the default memory budget, and the engine's
 *  WebAssembly bytes for hosts that cannot load them from beside the script. */
export function configure(options: {memoryBudget?: number; wasmBinary?: Uint8Array | ArrayBuffer}): void;

export const DEFAULT_MEMORY_BUDGET: number;

/** Bytes the engine holds on its heap between calls. */
export function heapInUse(): number;
