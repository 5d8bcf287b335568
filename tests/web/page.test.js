// The page in headless Chromium (Debian's chromium through playwright-core), opened from
// file:// with the network off: merges in both modes byte-equal to the reference merge's, a
// refusal's message with nothing downloaded, the dump shown and downloaded as bone.log gets it,
// and no request and no error of the page's own; a merge whose output the Worker finds no memory
// for refused with a message that names the program, and the next merge whole.
'use strict';
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const {test} = require('node:test');
const {chromium} = require('playwright-core');
const support = require('./support.js');

const kFlags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                '--disable-background-networking', '--disable-component-update', '--disable-sync'];

function launch(dir) {
  return chromium.launchPersistentContext(path.join(dir, 'profile'), {
    executablePath: process.env.BONESPLICE_CHROMIUM || '/usr/bin/chromium',
    args: kFlags,
    acceptDownloads: true,
    offline: true,
  });
}

test('the page merges, refuses and dumps as the program does, offline', async () => {
  const dir = support.scratchDir();
  const pair = support.samplePair(dir);
  const other = support.makeGla(dir, 'other.gla', ['--seed', '3', '--bones', '71']);
  const refusal = support.lastMessage(support.runNative(dir, [pair.base, other], 'x.gla').stdout);

  const context = await launch(dir);
  try {
    const page = await context.newPage();
    const pageUrl = 'file://' + path.join(support.webBuild, 'bonesplice.html');
    const requests = [];
    const errors = [];
    const downloads = [];
    context.on('request', (request) => requests.push(request.url()));
    page.on('pageerror', (error) => errors.push(String(error)));
    page.on('console', (message) => {
      if (message.type() === 'error') errors.push(message.text());
    });
    page.on('download', (download) => downloads.push(download));
    await page.goto(pageUrl);
    const status = page.getByRole('status');

    // Waits for the status to change from what it shows now and returns the new text.
    async function act(click) {
      const before = await status.textContent();
      await click();
      await page.waitForFunction(
          (shown) => {
            const text = document.querySelector('[role=status]').textContent;
            return text !== shown && !text.endsWith('…');
          },
          before, {timeout: 60000});
      return status.textContent();
    }
    async function downloaded(index) {
      while (downloads.length <= index) await page.waitForEvent('download', {timeout: 60000});
      return fs.readFileSync(await downloads[index].path());
    }

    await page.getByLabel('Base file').setInputFiles(pair.base);
    await page.getByLabel('Donor file').setInputFiles(pair.donor);
    await page.getByLabel('Output file name').fill('walk merged.gla');
    for (const optimize of [false, true]) {
      await page.getByLabel('Share identical entries (-o)').setChecked(optimize);
      const shown = await act(() => page.getByRole('button', {name: 'Merge'}).click());
      assert.match(shown, /^Merged into walk merged\.gla/);
      assert.strictEqual(optimize, /shared: /.test(shown));
      const bytes = await downloaded(optimize ? 1 : 0);
      assert.ok(bytes.equals(support.expectedMerge(dir, pair, optimize)), 'the reference bytes');
      assert.strictEqual(downloads[optimize ? 1 : 0].suggestedFilename(), 'walk merged.gla');
    }

    await page.getByLabel('Donor file').setInputFiles(other);
    assert.strictEqual(await act(() => page.getByRole('button', {name: 'Merge'}).click()),
                       refusal);
    assert.strictEqual(downloads.length, 2, 'a refusal downloads nothing');

    await page.getByLabel('Donor file').setInputFiles(pair.donor);
    await act(() => page.getByRole('button', {name: 'Dump'}).click());
    const log = support.nativeDump(pair);
    await page.waitForFunction(() => document.getElementById('report').textContent.length > 0);
    assert.strictEqual(await page.getByLabel('bone.log').textContent(), log.toString('latin1'));
    await page.getByRole('button', {name: 'Download bone.log'}).click();
    assert.ok((await downloaded(2)).equals(log));
    assert.strictEqual(downloads[2].suggestedFilename(), 'bone.log');

    const elsewhere = requests.filter((url) => url !== pageUrl && !url.startsWith('blob:'));
    assert.deepStrictEqual(elsewhere, [], 'no request');
    assert.deepStrictEqual(errors, [], 'no page error');
  } finally {
    await context.close();
  }
});

test('a merge the browser finds no memory for is refused, naming the program; the next works',
     async () => {
  const dir = support.scratchDir();
  const pair = support.samplePair(dir);
  const context = await launch(dir);
  try {
    const page = await context.newPage();
    const errors = [];
    const downloads = [];
    page.on('pageerror', (error) => errors.push(String(error)));
    page.on('download', (download) => downloads.push(download));
    const started = page.waitForEvent('worker');
    await page.goto('file://' + path.join(support.webBuild, 'bonesplice.html'));
    const worker = page.workers()[0] || await started;
    // The Worker's copies of the output's pieces fail after the first few, as they do when the
    // browser has no memory left for them.
    await worker.evaluate(() => {
      const slice = Uint8Array.prototype.slice;
      let copies = 0;
      self.restoreSlice = () => {
        Uint8Array.prototype.slice = slice;
      };
      Uint8Array.prototype.slice = function(...range) {
        if (++copies > 3) throw new RangeError('Array buffer allocation failed');
        return slice.apply(this, range);
      };
    });
    await page.getByLabel('Base file').setInputFiles(pair.base);
    await page.getByLabel('Donor file').setInputFiles(pair.donor);
    const status = page.getByRole('status');
    const settled = () => page.waitForFunction(() => {
      const text = document.querySelector('[role=status]').textContent;
      return text !== '' && !text.endsWith('…');
    }, null, {timeout: 60000});

    await page.getByRole('button', {name: 'Merge'}).click();
    await settled();
    assert.strictEqual(await status.textContent(),
                       'Error: the browser stopped the merge (RangeError: Array buffer ' +
                       'allocation failed), most likely for lack of memory. Merge these files ' +
                       'with the bonesplice program, which has no such limit.');
    assert.match(await page.locator('#hint').textContent(), /bonesplice program/);
    assert.strictEqual(downloads.length, 0, 'a refusal downloads nothing');

    await worker.evaluate(() => self.restoreSlice());
    await page.evaluate(() => {
      document.getElementById('status').textContent = '';
    });
    await page.getByRole('button', {name: 'Merge'}).click();
    await settled();
    assert.match(await status.textContent(), /^Merged into merged\.gla/);
    while (downloads.length === 0) await page.waitForEvent('download', {timeout: 60000});
    const bytes = fs.readFileSync(await downloads[0].path());
    assert.ok(bytes.equals(support.expectedMerge(dir, pair, false)), 'the reference bytes');
    assert.deepStrictEqual(errors, [], 'no page error');
  } finally {
    await context.close();
  }
});
