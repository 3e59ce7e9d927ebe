// Bundles the playground into one HTML file that works from file:// and from
// any static server: the page, its script (CodeMirror, the API and the
// engine's WebAssembly as base64) and the gallery, all inline, so that the
// page makes no request of its own.
//   node build.mjs OUTPUT_HTML PACKAGE_DIR EXAMPLES_DIR   (NODE_PATH: the pinned node_modules)
import {createRequire} from 'module';
import fs from 'fs';
import path from 'path';
import {fileURLToPath} from 'url';

const require = createRequire(path.join(process.env.NODE_PATH.split(':')[0], 'x.js'));
const esbuild = require('esbuild');
const here = path.dirname(fileURLToPath(import.meta.url));
const [output, packageDir, examplesDir] = process.argv.slice(2).map((p) => path.resolve(p));

const gallery = fs.readdirSync(examplesDir).filter((name) => name.endsWith('.xml')).sort()
    .map((name) => ({name, text: fs.readFileSync(path.join(examplesDir, name), 'utf8')}));
const wasm = fs.readFileSync(path.join(packageDir, 'quarvel_engine.wasm')).toString('base64');

// quarvel:gallery, quarvel:wasm and quarvel (the package's API) are given
// here, not found on disk beside the page's sources.
const virtual = {
  name: 'quarvel',
  setup(build) {
    build.onResolve({filter: /^quarvel(:.*)?$/}, (args) => args.path === 'quarvel' ?
        {path: path.join(packageDir, 'quarvel.js')} : {path: args.path, namespace: 'quarvel'});
    build.onLoad({filter: /.*/, namespace: 'quarvel'}, (args) => ({
      contents: args.path === 'quarvel:gallery' ? JSON.stringify(gallery) : JSON.stringify(wasm),
      loader: 'json',
    }));
  },
};

const result = await esbuild.build({
  entryPoints: [path.join(here, 'main.js')],
  bundle: true,
  minify: true,
  format: 'iife',
  platform: 'browser',
  target: 'es2020',
  write: false,
  nodePaths: process.env.NODE_PATH.split(':'),
  // The engine's Node branches, never taken in a page.
  external: ['fs', 'path', 'tty', 'crypto'],
  plugins: [virtual],
  legalComments: 'none',
});
const script = result.outputFiles[0].text.replace(/<\/script/gi, '<\\/script');
const page = fs.readFileSync(path.join(here, 'index.html'), 'utf8')
    .replace('<!-- style -->', () => `<style>${fs.readFileSync(path.join(here, 'style.css'), 'utf8')}</style>`)
    .replace('<!-- script -->', () => `<script>${script}</script>`);
fs.mkdirSync(path.dirname(output), {recursive: true});
fs.writeFileSync(output, page);
