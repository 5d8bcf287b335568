// The WebAssembly merge under node beside the native program on one thread: for each case the
// plain and "-o" merges, the wasm/native ratios, and the module's memory against one input.
// Each mode starts a fresh module, as a page does when it opens, and merges the pair in it
// round after round, as the page's Worker does for merge after merge: the first round ("first")
// pays for every page of memory the module touches for the first time, the later ones ("again",
// their median) find them touched. A round reads both inputs from disk into the module and
// writes the output to a file in pieces; the native program maps its inputs and writes its
// output file. The outputs must be the same bytes.
// Usage: node bench/wasm.js BENCH_PROGRAM NATIVE_PROGRAM WEB_BUILD [--cases ID,...] [--reps N]
'use strict';
const {execFileSync, spawnSync} = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const {mergeFiles} = require('../web/session.js');

const [benchProgram, nativeProgram, webBuild, ...rest] = process.argv.slice(2);
const option = (name, fallback) => {
  const at = rest.indexOf(name);
  return at >= 0 ? rest[at + 1] : fallback;
};
const cases = option('--cases', 'realistic,largest').split(',');
const reps = Math.max(2, Number(option('--reps', '5')));
const targets = {realistic: 2, largest: 3};  // the most wasm may take, in native times
const kHeapTarget = 3;                       // the most memory, in inputs of one file

const median = (values) => values.slice().sort((a, b) => a - b)[Math.floor(values.length / 2)];
const note = (text) => process.stderr.write(text + '\n');

function nativeSeconds(dir, optimize) {
  const start = process.hrtime.bigint();
  const run = spawnSync(nativeProgram, ['base.gla', 'donor.gla', ...(optimize ? ['-o'] : [])], {
    cwd: dir, input: 'native.gla\n', stdio: ['pipe', 'ignore', 'inherit'],
    env: Object.assign({}, process.env, {BONESPLICE_THREADS: '1'}),
  });
  const seconds = Number(process.hrtime.bigint() - start) / 1e9;
  if (run.status !== 1) throw new Error('the native merge failed');  // 1: a finished merge
  return seconds;
}

// An input read from disk straight into the module's memory, in pieces.
function fileInput(file) {
  const fd = fs.openSync(file, 'r');
  return {
    size: fs.fstatSync(fd).size,
    readInto: (offset, target) => fs.readSync(fd, target, 0, target.length, offset),
    close: () => fs.closeSync(fd),
  };
}

function wasmSeconds(module, dir, optimize) {
  const start = process.hrtime.bigint();
  const base = fileInput(path.join(dir, 'base.gla'));
  const donor = fileInput(path.join(dir, 'donor.gla'));
  const out = fs.openSync(path.join(dir, 'wasm.gla'), 'w');
  const outcome = mergeFiles(module, base, donor, {
    optimize,
    takePiece: (offset, bytes) => fs.writeSync(out, bytes, 0, bytes.length, offset) >= 0,
  });
  fs.closeSync(out);
  base.close();
  donor.close();
  if (outcome.code !== 0) throw new Error(outcome.message);
  return Number(process.hrtime.bigint() - start) / 1e9;
}

async function main() {
  const create = require(path.join(webBuild, 'web', 'bonesplice_module.js'));
  const wasmBinary = fs.readFileSync(path.join(webBuild, 'web', 'bonesplice_module.wasm'));
  const rows = [];
  for (const id of cases) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'bonesplice-wasm-bench-'));
    try {
      note(`== ${id}: generating`);
      execFileSync(benchProgram, ['--generate', id, dir], {stdio: ['ignore', 'ignore', 'inherit']});
      const inputBytes = fs.statSync(path.join(dir, 'base.gla')).size;
      for (const optimize of [false, true]) {
        const module = await create({wasmBinary});
        const native = [];
        const wasm = [];
        for (let round = 0; round < reps; ++round) {
          note(`   ${optimize ? '-o' : 'plain'} round ${round + 1} of ${reps}`);
          native.push(nativeSeconds(dir, optimize));
          wasm.push(wasmSeconds(module, dir, optimize));
        }
        const same = fs.readFileSync(path.join(dir, 'wasm.gla'))
                         .equals(fs.readFileSync(path.join(dir, 'native.gla')));
        if (!same) throw new Error(`${id}: the wasm output differs from the native one`);
        rows.push({id, mode: optimize ? '-o' : 'plain', inputBytes, native: median(native),
                   first: wasm[0], again: median(wasm.slice(1)), memory: module.HEAPU8.length});
      }
    } finally {
      fs.rmSync(dir, {recursive: true, force: true});
    }
  }
  const mb = (bytes) => (bytes / (1 << 20)).toFixed(0);
  const verdict = (ratio, limit) => `${ratio.toFixed(2)} ${ratio <= limit ? 'met' : 'missed'}`;
  console.log('| case | mode | input MiB each | native 1 thread s | wasm first s | wasm again s ' +
              '| wasm/native first | wasm/native again | module memory MiB | memory/input |');
  console.log('|---|---|--:|--:|--:|--:|--:|--:|--:|--:|');
  for (const row of rows) {
    const limit = targets[row.id] || Infinity;
    console.log(`| ${row.id} | ${row.mode} | ${mb(row.inputBytes)} | ${row.native.toFixed(3)} | ` +
                `${row.first.toFixed(3)} | ${row.again.toFixed(3)} | ` +
                `${verdict(row.first / row.native, limit)} | ` +
                `${verdict(row.again / row.native, limit)} | ${mb(row.memory)} | ` +
                `${verdict(row.memory / row.inputBytes, kHeapTarget)} |`);
  }
  console.log(`\nTargets: wasm at most ${targets.realistic} times native at the realistic size ` +
              `and ${targets.largest} times at the largest; module memory at most ` +
              `${kHeapTarget} times one input.`);
}

main().catch((error) => {
  note(String(error && error.stack || error));
  process.exit(1);
});
