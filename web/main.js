// The playground: the document in CodeMirror, the rows beside it, laid out
// by the same engine as the program (the npm package's API, running the
// WebAssembly inlined in the page) on every change.
import {defaultKeymap, history, historyKeymap} from '@codemirror/commands';
import {xml} from '@codemirror/lang-xml';
import {lintGutter, setDiagnostics} from '@codemirror/lint';
import {EditorState} from '@codemirror/state';
import {EditorView, keymap, lineNumbers} from '@codemirror/view';
import gallery from 'quarvel:gallery';
import wasmBase64 from 'quarvel:wasm';
import * as quarvel from 'quarvel';

const wasmBinary = Uint8Array.from(atob(wasmBase64), (c) => c.charCodeAt(0));
quarvel.configure({wasmBinary});

const rowsView = document.getElementById('rows');
const ruler = document.getElementById('ruler');
const status = document.getElementById('status');
const menu = document.getElementById('gallery');

// Keystroke-to-rows times in milliseconds, newest last, for the page's test.
window.quarvelLatencies = [];

// Columns of a row as the program counts them: two for the wide characters
// that a monospace font shows wide, one otherwise (the ruler's width only).
function columns(row) {
  let count = 0;
  for (const c of row) count += /[\u1100-\u115F\u2E80-\uA4CF\uAC00-\uD7A3\uF900-\uFAFF\uFE30-\uFE4F\uFF00-\uFF60\uFFE0-\uFFE6]|[\u{20000}-\u{3FFFD}]/u.test(c) ? 2 : 1;
  return count;
}

// A ruler of the page's width: the widest row, at least the default 72
// (the root's 62 columns and margins of 4 and 6).
function drawRuler(rows) {
  const width = Math.max(72, ...rows.map(columns));
  let tens = '';
  let units = '';
  for (let column = 1; column <= width; ++column) {
    tens += column % 10 === 0 ? String((column / 10) % 10) : ' ';
    units += String(column % 10);
  }
  ruler.textContent = tens + '\n' + units;
}

function diagnosticAt(state, line, column, severity, message) {
  const number = Math.min(Math.max(line, 1), state.doc.lines);
  const target = state.doc.line(number);
  const from = Math.min(target.from + Math.max(column - 1, 0), target.to);
  return {from, to: Math.max(from, target.to), severity, message};
}

let lastText = '';
function render(view, started) {
  const text = view.state.doc.toString();
  const diagnostics = [];
  try {
    lastText = quarvel.format(text, {utf8: true, name: 'document'});
    rowsView.textContent = lastText;
    rowsView.classList.remove('stale');
    const rows = lastText.split('\n');
    drawRuler(rows);
    for (const warning of quarvel.check(text)) {
      diagnostics.push(diagnosticAt(view.state, warning.line, warning.column, 'warning', warning.message));
    }
    status.textContent = `${rows.length - 1} rows` +
        (diagnostics.length ? `, ${diagnostics.length} warning${diagnostics.length === 1 ? '' : 's'}` : '');
    status.className = '';
  } catch (error) {
    if (!(error instanceof quarvel.QuarvelError)) throw error;
    rowsView.classList.add('stale');
    status.textContent = error.message;
    status.className = 'error';
    if (error.line) {
      diagnostics.push(diagnosticAt(view.state, error.line, error.position, 'error', error.message));
    }
  }
  view.dispatch(setDiagnostics(view.state, diagnostics));
  if (started !== undefined) window.quarvelLatencies.push(performance.now() - started);
}

const view = new EditorView({
  parent: document.getElementById('editor'),
  state: EditorState.create({
    doc: gallery.find((entry) => entry.name === 'notice.xml')?.text ?? '',
    extensions: [
      lineNumbers(), history(), keymap.of([...defaultKeymap, ...historyKeymap]),
      xml({autoCloseTags: false}), lintGutter(), EditorView.lineWrapping,
      EditorView.updateListener.of((update) => {
        if (!update.docChanged) return;
        // An edit makes the document the reader's own; choosing an example sets it anew.
        if (!update.transactions.some((t) => t.isUserEvent('gallery'))) menu.value = '';
        render(update.view, performance.now());
      }),
    ],
  }),
});

for (const entry of gallery) {
  const option = document.createElement('option');
  option.value = option.textContent = entry.name;
  menu.appendChild(option);
}
menu.value = 'notice.xml';
menu.addEventListener('change', () => {
  const entry = gallery.find((e) => e.name === menu.value);
  if (entry) {
    view.dispatch({changes: {from: 0, to: view.state.doc.length, insert: entry.text},
                   userEvent: 'gallery'});
  }
});

function download(bytes, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([bytes], {type: 'text/plain'}));
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}
document.getElementById('download-utf16').addEventListener('click', () => {
  try {
    download(quarvel.format(view.state.doc.toString()), 'quarvel-utf16.txt');
  } catch (error) {
    status.textContent = error.message;
  }
});
document.getElementById('download-utf8').addEventListener('click', () => {
  try {
    download(quarvel.format(view.state.doc.toString(), {utf8: true}), 'quarvel-utf8.txt');
  } catch (error) {
    status.textContent = error.message;
  }
});

render(view);
view.focus();
// For the page's test and for curious readers of the console.
window.quarvelEditor = view;
window.quarvel = quarvel;
