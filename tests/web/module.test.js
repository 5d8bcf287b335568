// The WebAssembly module under node, through web/session.js as the page's Worker calls it:
// merges byte-equal to the reference merge's (and the native program's) in both modes, a
// refusal, the dump, and running out of memory under a small cap.
'use strict';
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const {test} = require('node:test');
const {mergeFiles, dumpFiles} = require('../../web/session.js');
const support = require('./support.js');

// Merges with the module and returns the outcome with the output's bytes and the progress.
function merge(module, base, donor, optimize, outputName = 'out.gla') {
  const pieces = [];
  const progress = [];
  let end = 0;
  const outcome = mergeFiles(module, support.inputOf(base), support.inputOf(donor), {
    optimize,
    outputName,
    takePiece: (offset, bytes) => {
      assert.strictEqual(offset, end, 'pieces come front to back');
      end += bytes.length;
      pieces.push(Buffer.from(bytes));
      return true;
    },
    showProgress: (done, toDo) => progress.push([done, toDo]),
  });
  return Object.assign(outcome, {bytes: Buffer.concat(pieces), progress});
}

test('merges as the reference and the native program do, in both modes', async () => {
  const module = await support.loadModule();
  const dir = support.scratchDir();
  const pair = support.samplePair(dir);
  for (const optimize of [false, true]) {
    const outcome = merge(module, pair.base, pair.donor, optimize);
    assert.strictEqual(outcome.code, 0, outcome.message);
    const expected = support.expectedMerge(dir, pair, optimize);
    assert.ok(outcome.bytes.equals(expected), 'the output is the reference one');
    assert.strictEqual(outcome.summary.outputSize, expected.length);
    assert.strictEqual(outcome.summary.baseFrames, 200);
    assert.strictEqual(outcome.summary.appendedFrames, 299);
    assert.deepStrictEqual(outcome.progress.at(-1), [299, 299]);
    assert.strictEqual(outcome.summary.sharedEntries > 0, optimize);
  }
});

test('refuses with the native program\'s message and hands over nothing', async () => {
  const module = await support.loadModule();
  const dir = support.scratchDir();
  const base = support.makeGla(dir, 'base.gla', ['--seed', '1', '--bones', '20', '--frames', '5']);
  const other = support.makeGla(dir, 'other.gla', ['--seed', '3', '--bones', '21']);
  const outcome = merge(module, base, other, true);
  const native = support.runNative(dir, [base, other], 'out.gla');
  assert.strictEqual(outcome.code, 3);
  assert.strictEqual(outcome.message,
                     'Error: can only merge frames from files with same number of bones.');
  assert.strictEqual(outcome.message, support.lastMessage(native.stdout));
  assert.strictEqual(outcome.bytes.length, 0);
});

test('dumps both files as bone.log gets them', async () => {
  const module = await support.loadModule();
  const pair = support.samplePair(support.scratchDir(), 2000);
  const outcome = dumpFiles(module, support.inputOf(pair.base), support.inputOf(pair.donor));
  assert.strictEqual(outcome.code, 0);
  assert.strictEqual(outcome.headers, '');
  assert.ok(Buffer.concat(outcome.pieces).equals(support.nativeDump(pair)));
});

test('runs out of memory cleanly under a small cap, and goes on working', async () => {
  const module = await support.loadModule(true);
  const dir = support.scratchDir();
  const args = ['--bones', '70', '--frames', '10', '--entries', '1500000'];
  const base = support.makeGla(dir, 'big-base.gla', ['--seed', '5', ...args]);
  const donor = support.makeGla(dir, 'big-donor.gla', ['--seed', '6', ...args]);
  // The estimate refuses before the inputs are read, naming the native program.
  const refused = merge(module, base, donor, true);
  assert.strictEqual(refused.code, -1);
  assert.match(refused.message, /bonesplice program/);

  // The library's own refusal when memory runs out during the merge.
  const bytes = [fs.readFileSync(base), fs.readFileSync(donor)];
  const addresses = bytes.map((file) => module._malloc(file.length) >>> 0);
  assert.ok(addresses.every((address) => address !== 0), 'the inputs fit');
  bytes.forEach((file, i) => module.HEAPU8.set(file, addresses[i]));
  module.takePiece = () => true;
  module.showProgress = () => {};
  module._WebMerge(addresses[0], bytes[0].length, addresses[1], bytes[1].length, 1, 0);
  addresses.forEach((address) => module._free(address));
  assert.strictEqual(module.outcome.code, 11);
  assert.strictEqual(module.outcome.message, 'Error: not enough memory for the merge.');

  const pair = support.samplePair(dir, 2000);
  const after = merge(module, pair.base, pair.donor, false);
  assert.ok(after.bytes.equals(support.expectedMerge(dir, pair, false)));
});
