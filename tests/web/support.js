// What the page's tests share: sample pairs made by makegla, the native program's merge and
// dump of them, and the WebAssembly module under node. The native build and the web build are
// found through BONESPLICE_BUILD and BONESPLICE_WEB_BUILD (scripts/test sets both).
'use strict';
const {execFileSync} = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const root = path.resolve(__dirname, '../..');
const nativeBuild = path.resolve(root, process.env.BONESPLICE_BUILD || 'build');
const webBuild = path.resolve(root, process.env.BONESPLICE_WEB_BUILD || 'build-web');

function scratchDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'bonesplice-web-'));
}

// Writes a sample file with makegla's options into dir; its path.
function makeGla(dir, name, args) {
  const file = path.join(dir, name);
  execFileSync(path.join(nativeBuild, 'tools', 'makegla'), [...args, file], {cwd: dir});
  return file;
}

// A realistic pair: the donor takes the base's bones in another order, shares a third of its
// entries with the base and repeats some of its own.
function samplePair(dir, entries = 20000) {
  const base = makeGla(dir, 'base.gla', ['--seed', '1', '--bones', '70', '--frames', '200',
                                          '--entries', `${entries}`]);
  const donor = makeGla(dir, 'donor.gla', ['--seed', '2', '--frames', '300', '--like', base,
                                           '--shared', '0.33', '--repeat', '0.3', '--shuffle']);
  return {base, donor};
}

// The native program run in dir on args with the output name typed at its prompt: its console
// text and exit status.
function runNative(dir, args, outputName = '') {
  try {
    const stdout = execFileSync(path.join(nativeBuild, 'bonesplice'), args,
                                {cwd: dir, input: outputName + '\n'});
    return {status: 0, stdout: stdout.toString('latin1')};
  } catch (error) {
    return {status: error.status, stdout: error.stdout.toString('latin1')};
  }
}

// The native merge of a pair: the output's bytes.
function nativeMerge(dir, pair, optimize) {
  const output = path.join(dir, optimize ? 'native-o.gla' : 'native.gla');
  const run = runNative(dir, [pair.base, pair.donor, ...(optimize ? ['-o'] : [])], output);
  if (run.status !== 1) throw new Error('the native merge failed: ' + run.stdout);
  return fs.readFileSync(output);
}

// The merge of a pair as the reference (tools/reference: the merge written plainly from its
// rule, an account independent of the library) writes it, which the native program's must equal.
function expectedMerge(dir, pair, optimize) {
  const output = path.join(dir, optimize ? 'reference-o.gla' : 'reference.gla');
  execFileSync(path.join(nativeBuild, 'tools', 'reference', 'refmerge'),
               [pair.base, pair.donor, output, ...(optimize ? ['-o'] : [])]);
  const expected = fs.readFileSync(output);
  if (!expected.equals(nativeMerge(dir, pair, optimize))) {
    throw new Error('the native merge is not the reference merge');
  }
  return expected;
}

// The native dump of a pair: the bytes bone.log gets.
function nativeDump(pair) {
  const dir = scratchDir();
  runNative(dir, [pair.base, pair.donor, '-l']);
  return fs.readFileSync(path.join(dir, 'bone.log'));
}

// The last message of the native program's console text, without its leading newline.
function lastMessage(stdout) {
  return stdout.slice(stdout.lastIndexOf('\n') + 1);
}

// The module built for the page, with memory up to 4 GB, or up to 64 MB with small.
function loadModule(small = false) {
  const name = small ? 'bonesplice_module_64mb' : 'bonesplice_module';
  const create = require(path.join(webBuild, 'web', name + '.js'));
  return create({wasmBinary: fs.readFileSync(path.join(webBuild, 'web', name + '.wasm'))});
}

// A file (or bytes) as an input of web/session.js.
function inputOf(fileOrBytes) {
  const bytes = typeof fileOrBytes === 'string' ? fs.readFileSync(fileOrBytes) : fileOrBytes;
  return {
    size: bytes.length,
    readInto: (offset, target) => target.set(bytes.subarray(offset, offset + target.length)),
  };
}

module.exports = {root, webBuild, scratchDir, makeGla, samplePair, runNative, expectedMerge,
                  nativeDump, lastMessage, loadModule, inputOf};
