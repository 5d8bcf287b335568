// How large the inputs may be before bonesplice.html stops merging them, measured in headless
// Chromium. For each size per input it makes a realistic pair with makegla (70 bones, the donor
// with the base's bones shuffled, a third of its entries copied from the base and a quarter of
// each file's entries repeats, as in the benchmark's cases; 8,388,608 entries at most per file,
// the rest of the size in frames), merges it with the native program in both modes for the
// reference bytes, then opens the page from file:// with the network off and merges it there,
// plain and with "-o", in one page as a user would. Each merge is recorded as: ok (the download
// is byte-equal to the native output), WRONG (a merge the page reported whose download differs
// or never came), the status text of a refusal, or a crash (the tab died), a worker error or a
// freeze (no settled status within the time limit); with the time from the click to the status
// and to the finished download, and the peak memory of the browser's processes (the sum of
// their proportional set sizes, the largest single one, and the largest private writable
// memory of one, VmData, sampled every 250 ms). --renderer-data-limit gives the page's
// renderer the RLIMIT_DATA a sandboxed renderer has (Chromium runs here without its sandbox).
//
// Not a test, and not run by scripts/test. Needs the native build (build/) and the page
// (build-web/; BONESPLICE_BUILD and BONESPLICE_WEB_BUILD name others), Debian's chromium and
// tests/web/node_modules (npm ci in tests/web). Run from anywhere:
//
//   node bench/page-limit.js [--sizes 64,256,512,1024,1536,1792,1966,1967,2014,2015]
//                            [--modes plain,-o] [--timeout SECONDS] [--temp DIR]
//                            [--renderer-data-limit MIB] [--trace]
//
// Sizes are MiB per input. The Markdown table goes to standard output, progress to standard
// error. Files are made in a fresh folder under --temp (default $TMPDIR or /tmp), the browser's
// profile and downloads too, and removed as each size ends: about ten times one input are on
// disk at once (the pair, both native outputs, one download and the browser's own copy of the
// output; 20 GiB at 2014 MiB). The default sizes take about an hour on 2 cores and the browser
// up to 10 GiB of memory; --timeout (default 900) bounds each merge's wait.
'use strict';
const {spawnSync} = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const support = require('../tests/web/support.js');
const {chromium} = require(path.join(support.root, 'tests/web/node_modules/playwright-core'));

const kFlags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const MiB = 1 << 20;
const nativeBuild = path.resolve(support.root, process.env.BONESPLICE_BUILD || 'build');

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  return at >= 0 ? args[at + 1] : fallback;
};
const sizes =
    option('--sizes', '64,256,512,1024,1536,1792,1966,1967,2014,2015').split(',').map(Number);
const modes = option('--modes', 'plain,-o').split(',');
const timeoutSeconds = Number(option('--timeout', '900'));
const tempRoot = option('--temp', os.tmpdir());
// The RLIMIT_DATA the sandbox gives a renderer (16 GiB on this 24 GiB machine, as a sandboxed
// Chromium run as a user other than root shows in /proc/PID/limits); the merges here run
// without the sandbox, so the page's renderers get it by prlimit. 0: none.
// --trace: the PSS and VmData of every process of the browser each second, to standard error.
const trace = args.includes('--trace');
const rendererDataLimit = Number(option('--renderer-data-limit', '0')) * MiB;
const note = (text) =>
  process.stderr.write(`[${new Date().toISOString().slice(11, 19)}] ${text}\n`);

// The file layout makegla writes, for 70 generated bones: header, offset table, skeleton (172
// bytes a bone and 4 per child word), 3 bytes a frame field, 14 bytes an entry.
const kBones = 70;
const kFixedFileBytes = 100 + 4 * kBones + 172 * kBones + 4 * (kBones - 1);
const kMostEntries = 1 << 23;

// Frames and entries for a file of about mib MiB: four fifths entries (as the benchmark's
// largest case, 8,388,608 entries in 144 MiB), the rest frames.
function shapeOf(mib) {
  const bytes = mib * MiB;
  const entries = Math.min(kMostEntries, Math.floor(0.8 * bytes / 14));
  const frames = Math.floor((bytes - kFixedFileBytes - 14 * entries) / (3 * kBones));
  return {entries, frames};
}

// The pair of one size. The donor takes its bone names and shared entries from a one-frame twin
// of the base (the same seed and entries give the same skeleton and entries; frames come from
// another stream of the generator), so that makegla never holds the large base in memory twice.
function makePair(dir, mib) {
  const {entries, frames} = shapeOf(mib);
  const common = ['--bones', `${kBones}`, '--entries', `${entries}`, '--repeat', '0.25'];
  const base = support.makeGla(dir, 'base.gla', ['--seed', '11', '--frames', `${frames}`,
                                                 '--name', 'limit base', ...common]);
  const twin = support.makeGla(dir, 'twin.gla', ['--seed', '11', '--frames', '1', ...common]);
  const donor = support.makeGla(dir, 'donor.gla', [
    '--seed', '1011', '--frames', `${frames}`, '--name', 'limit donor', ...common,
    '--like', twin, '--shared', '0.33', '--shuffle']);
  fs.rmSync(twin);
  return {base, donor, entries, frames};
}

// The native program's merge of the pair into dir/native-MODE.gla: {file, seconds} for a
// finished merge (exit status 1), {refusal} with its last message otherwise. Its progress lines
// fill megabytes of console text at these sizes.
function nativeMerge(dir, pair, mode) {
  const file = path.join(dir, `native${mode === '-o' ? '-o' : ''}.gla`);
  const start = process.hrtime.bigint();
  const run = spawnSync(path.join(nativeBuild, 'bonesplice'),
                        [pair.base, pair.donor, ...(mode === '-o' ? ['-o'] : [])],
                        {cwd: dir, input: file + '\n', maxBuffer: 1 << 30});
  const seconds = Number(process.hrtime.bigint() - start) / 1e9;
  if (run.error) throw run.error;
  return run.status === 1 ? {file, seconds}
                          : {refusal: support.lastMessage(run.stdout.toString('latin1'))};
}

// The browser's processes: the one started with this user-data dir and all below it.
function browserProcesses(profile) {
  const parents = new Map();
  let root = null;
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${name}/stat`, 'utf8');
      parents.set(Number(name), Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]));
      if (root === null) {
        const command = fs.readFileSync(`/proc/${name}/cmdline`, 'utf8').split('\0');
        if (command.includes(`--user-data-dir=${profile}`)) root = Number(name);
      }
    } catch {
      // gone meanwhile
    }
  }
  if (root === null) return [];
  const tree = [root];
  for (let grew = true; grew;) {
    grew = false;
    for (const [pid, parent] of parents) {
      if (tree.includes(parent) && !tree.includes(pid)) {
        tree.push(pid);
        grew = true;
      }
    }
  }
  return tree;
}

// A process's proportional set size and its private writable memory (VmData, what the
// sandbox's RLIMIT_DATA bounds in a renderer), in bytes.
function memoryOf(pid) {
  try {
    const rollup = fs.readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8');
    const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
    return {pss: Number(/^Pss:\s+(\d+) kB/m.exec(rollup)[1]) * 1024,
            data: Number(/^VmData:\s+(\d+) kB/m.exec(status)[1]) * 1024};
  } catch {
    return {pss: 0, data: 0};
  }
}

// Samples the browser's memory every 250 ms until stopped: the peaks of the sum of the PSS of
// its processes, of the largest PSS and of the largest VmData of one process.
function memorySampler(profile) {
  let pids = [];
  let peaks = {sum: 0, one: 0, data: 0};
  let rounds = 0;
  const sample = () => {
    if (rounds++ % 8 === 0) pids = browserProcesses(profile);
    let sum = 0;
    for (const pid of pids) {
      const {pss, data} = memoryOf(pid);
      sum += pss;
      peaks.one = Math.max(peaks.one, pss);
      peaks.data = Math.max(peaks.data, data);
    }
    peaks.sum = Math.max(peaks.sum, sum);
    if (trace && rounds % 4 === 0) {
      note(`   memory (PSS/VmData MiB): ${pids.map((pid) => {
        const {pss, data} = memoryOf(pid);
        return `${pid} ${(pss / MiB).toFixed(0)}/${(data / MiB).toFixed(0)}`;
      }).join(', ')}`);
    }
  };
  const timer = setInterval(sample, 250);
  return {
    reset: () => {
      peaks = {sum: 0, one: 0, data: 0};
      rounds = 0;
    },
    peaks: () => {
      sample();
      return peaks;
    },
    stop: () => clearInterval(timer),
  };
}

// Gives each renderer of the browser the data limit the sandbox would.
function limitRenderers(profile) {
  for (const pid of browserProcesses(profile)) {
    let command = '';
    try {
      command = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8');
    } catch {
      continue;
    }
    if (!command.includes('--type=renderer')) continue;
    const run = spawnSync('prlimit', ['--pid', `${pid}`, `--data=${rendererDataLimit}`]);
    if (run.status !== 0) throw new Error(`prlimit failed on ${pid}: ${run.stderr}`);
  }
}

// A fresh Chromium with the page open, offline; its events gathered.
async function openPage(dir) {
  const profile = fs.mkdtempSync(path.join(dir, 'profile-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.BONESPLICE_CHROMIUM || '/usr/bin/chromium',
    args: kFlags,
    acceptDownloads: true,
    downloadsPath: path.join(dir, 'downloads'),
    offline: true,
  });
  const page = context.pages()[0] || await context.newPage();
  const events = {errors: [], crashed: false, downloads: []};
  page.on('pageerror', (error) => events.errors.push('page error: ' + String(error)));
  page.on('console', (message) => {
    if (message.type() === 'error') events.errors.push('console: ' + message.text());
  });
  page.on('crash', () => {
    events.crashed = true;
  });
  page.on('download', (download) => events.downloads.push(download));
  await page.goto('file://' + path.join(support.webBuild, 'bonesplice.html'));
  if (rendererDataLimit > 0) limitRenderers(profile);
  return {context, page, events, profile, sampler: memorySampler(profile)};
}

async function closePage(session) {
  session.sampler.stop();
  await session.context.close().catch(() => {});
  fs.rmSync(session.profile, {recursive: true, force: true});
}

function sameBytes(a, b) {
  return spawnSync('cmp', ['-s', a, b]).status === 0;
}

// One merge on the page: {outcome, detail, toStatus, toDownload, peakSum, peakOne, peakData}.
async function mergeOnPage(session, pair, mode, reference) {
  const {page, events} = session;
  await page.getByLabel('Base file').setInputFiles(pair.base);
  await page.getByLabel('Donor file').setInputFiles(pair.donor);
  await page.getByLabel('Share identical entries (-o)').setChecked(mode === '-o');
  await page.getByLabel('Output file name').fill('merged.gla');
  await page.evaluate(() => {
    document.getElementById('status').textContent = '';
  });
  const downloadsBefore = events.downloads.length;
  const errorsBefore = events.errors.length;
  session.sampler.reset();
  const start = Date.now();
  const seconds = () => (Date.now() - start) / 1000;
  const result = {outcome: '', detail: '', toStatus: null, toDownload: null};
  await page.getByRole('button', {name: 'Merge'}).click();
  let status = null;
  try {
    await page.waitForFunction(() => {
      const text = document.querySelector('[role=status]').textContent;
      return text !== '' && !text.endsWith('…');
    }, null, {timeout: timeoutSeconds * 1000, polling: 500});
    result.toStatus = seconds();
    status = await page.getByRole('status').textContent();
  } catch (error) {
    result.toStatus = seconds();
    if (events.crashed || /crash/i.test(String(error))) {
      result.outcome = 'crash';
      result.detail = 'the tab crashed';
    } else if (/Timeout/.test(String(error))) {
      result.outcome = 'freeze';
      result.detail = `no settled status in ${timeoutSeconds} s`;
    } else {
      result.outcome = 'crash';
      result.detail = String(error).split('\n')[0];
    }
  }
  if (status !== null) {
    result.detail = status;
    if (status.startsWith('Merged into')) {
      let download = null;
      try {
        while (events.downloads.length <= downloadsBefore) {
          await page.waitForEvent('download', {timeout: timeoutSeconds * 1000});
        }
        download = events.downloads[downloadsBefore];
        const saved = await download.path();
        result.toDownload = seconds();
        const failure = await download.failure();
        if (failure) {
          result.outcome = 'WRONG';
          result.detail = `the page said it merged, the download failed: ${failure}`;
        } else if (!reference.file) {
          result.outcome = 'WRONG';
          result.detail = `the page merged what the program refuses: ${reference.refusal}`;
        } else if (sameBytes(saved, reference.file)) {
          result.outcome = 'ok';
        } else {
          result.outcome = 'WRONG';
          result.detail = `the download (${fs.statSync(saved).size} bytes) differs from the ` +
              `native output (${fs.statSync(reference.file).size} bytes)`;
        }
      } catch (error) {
        result.outcome = 'WRONG';
        result.detail = 'the page said it merged, no download: ' + String(error).split('\n')[0];
      } finally {
        if (download) await download.delete().catch(() => {});
      }
    } else if (status.startsWith('Error: the browser stopped the merge')) {
      result.outcome = 'worker error';
    } else if (reference.refusal && status === reference.refusal) {
      result.outcome = 'refused as the program';
    } else if (/bonesplice program/.test(status)) {
      result.outcome = 'refused (page)';
    } else {
      result.outcome = 'unclear';
    }
  }
  const peaks = session.sampler.peaks();
  result.peakSum = peaks.sum;
  result.peakOne = peaks.one;
  result.peakData = peaks.data;
  const errors = events.errors.slice(errorsBefore);
  if (errors.length > 0) result.detail += ` [${errors.join('; ')}]`;
  return result;
}

// The status for the table: a merge's first sentence (its output size), anything else whole.
function shortStatus(row) {
  if (row.outcome !== 'ok') return row.detail;
  return row.detail.slice(0, row.detail.indexOf(' bytes).') + ' bytes).'.length);
}

async function main() {
  const rows = [];
  for (const mib of sizes) {
    const dir = fs.mkdtempSync(path.join(tempRoot, 'bonesplice-page-limit-'));
    try {
      note(`== ${mib} MiB per input: generating`);
      const started = Date.now();
      const pair = makePair(dir, mib);
      const inputBytes = [fs.statSync(pair.base).size, fs.statSync(pair.donor).size];
      note(`   ${pair.frames} frames, ${pair.entries} entries, ${inputBytes.join(' + ')} bytes ` +
           `(${((Date.now() - started) / 1000).toFixed(0)} s)`);
      const references = {};
      for (const mode of modes) {
        references[mode] = nativeMerge(dir, pair, mode);
        const reference = references[mode];
        note(`   native ${mode}: ${reference.file
            ? `${reference.seconds.toFixed(2)} s, ${fs.statSync(reference.file).size} bytes`
            : reference.refusal}`);
      }
      let session = null;
      for (const mode of modes) {
        if (session === null) session = await openPage(dir);
        note(`   page ${mode}: merging`);
        const result = await mergeOnPage(session, pair, mode, references[mode]);
        note(`   page ${mode}: ${result.outcome} in ${result.toStatus.toFixed(1)} s` +
             `${result.toDownload ? ` (download ${result.toDownload.toFixed(1)} s)` : ''}, ` +
             `peak ${(result.peakSum / MiB).toFixed(0)} MiB ` +
             `(VmData ${(result.peakData / MiB).toFixed(0)} MiB): ` +
             `${result.detail}`);
        rows.push(Object.assign({mib, inputBytes, mode, native: references[mode]}, result));
        if (result.outcome === 'crash' || result.outcome === 'freeze') {
          await closePage(session);
          session = null;
        }
      }
      if (session) await closePage(session);
    } finally {
      fs.rmSync(dir, {recursive: true, force: true});
    }
  }
  const mibOf = (bytes) => (bytes / MiB).toFixed(0);
  const version = spawnSync(process.env.BONESPLICE_CHROMIUM || '/usr/bin/chromium', ['--version'])
                      .stdout.toString().split('\n').find((line) => /\d+\.\d+/.test(line));
  console.log(`${version ? version.trim() : 'Chromium'}, headless, without its sandbox; renderer ` +
              `data limit ${rendererDataLimit > 0 ? `${mibOf(rendererDataLimit)} MiB` : 'none'}; ` +
              `${os.cpus().length} cores, ${mibOf(os.totalmem())} MiB of memory.\n`);
  console.log('| input MiB each (frames, entries) | mode | outcome | click to status s | ' +
              'to download s | native s | peak MiB, all browser processes | peak MiB, ' +
              'largest process | peak VmData MiB, one process | status |');
  console.log('|---|---|---|--:|--:|--:|--:|--:|--:|---|');
  for (const row of rows) {
    console.log(`| ${mibOf(row.inputBytes[0])} / ${mibOf(row.inputBytes[1])} ` +
                `(${shapeOf(row.mib).frames}, ` +
                `${shapeOf(row.mib).entries}) | ${row.mode} | ${row.outcome} | ` +
                `${row.toStatus.toFixed(1)} | ` +
                `${row.toDownload ? row.toDownload.toFixed(1) : '-'} | ` +
                `${row.native.file ? row.native.seconds.toFixed(2) : 'refused'} | ` +
                `${mibOf(row.peakSum)} | ${mibOf(row.peakOne)} | ${mibOf(row.peakData)} | ` +
                `${shortStatus(row).replace(/\|/g, '\\|').replace(/\n/g, ' ')} |`);
  }
}

main().catch((error) => {
  note(String(error && error.stack || error));
  process.exit(1);
});
