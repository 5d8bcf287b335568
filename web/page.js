// The page's controls: the files picked or dropped, the requests to the Worker that merges,
// the progress, the latest message in the status, and the downloads.
'use strict';

const byId = (id) => document.getElementById(id);
const baseInput = byId('base');
const donorInput = byId('donor');
const optimizeBox = byId('optimize');
const nameField = byId('output-name');
const mergeButton = byId('merge');
const dumpButton = byId('dump');
const logButton = byId('download-log');
const progressBar = byId('progress');
const statusLine = byId('status');
const hintLine = byId('hint');
const reportView = byId('report');

const kNativeHint = 'The bonesplice program for Windows and Linux merges files of any size ' +
    'the format allows, and says the same messages.';
let worker = null;
let pending = null;  // the request under way: {what, name}
let reportBlob = null;

function startWorker() {
  const source = byId('worker-source').textContent;
  const url = URL.createObjectURL(new Blob([source], {type: 'text/javascript'}));
  worker = new Worker(url);
  URL.revokeObjectURL(url);
  worker.onmessage = (event) => {
    if (event.data.progress) {
      progressBar.max = Math.max(1, event.data.progress.toDo);
      progressBar.value = event.data.progress.done;
    } else {
      finish(event.data.outcome);
    }
  };
  // The Worker itself failed (its memory, most likely): a fresh one serves the next request.
  worker.onerror = (event) => {
    event.preventDefault();
    worker.terminate();
    startWorker();
    finish({code: -2, message: 'Error: the browser stopped the merge (' +
        (event.message || 'no reason given') + '), most likely for lack of memory.'});
  };
}

function show(message, hint) {
  statusLine.textContent = message;
  hintLine.textContent = hint || '';
}

function setBusy(busy) {
  mergeButton.disabled = busy;
  dumpButton.disabled = busy;
}

function download(blob, name) {
  const url = URL.createObjectURL(blob);
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.appendChild(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

function summaryOf(summary, name, optimize) {
  const s = summary;
  const first = s.baseFrames;
  const last = s.baseFrames + s.appendedFrames - 1;
  let text = 'Merged into ' + name + ' (' + s.outputSize.toLocaleString('en-US') + ' bytes). ' +
      'Output frames 0 to ' + (first - 1) + ' are the base\'s; donor frames 1 to ' +
      s.appendedFrames + ' are output frames ' + first + ' to ' + last + '. ' +
      'Bone data entries added: ' + s.appendedEntries.toLocaleString('en-US');
  if (optimize) text += '; shared: ' + s.sharedEntries.toLocaleString('en-US');
  return text + '.';
}

function finish(outcome) {
  const request = pending;
  pending = null;
  setBusy(false);
  if (request === null) return;
  if (outcome.code !== 0) {
    // A refusal: the program's own message, and nothing is downloaded.
    const hint = outcome.code < 0 || outcome.code === 11 ? kNativeHint : '';
    show(outcome.message, hint);
    return;
  }
  if (request.what === 'merge') {
    progressBar.value = progressBar.max;
    show(summaryOf(outcome.summary, request.name, request.optimize));
    download(outcome.output, request.name);
    return;
  }
  reportBlob = outcome.report;
  logButton.disabled = false;
  outcome.report.text().then((text) => {
    reportView.textContent = text;
  });
  show((outcome.headers ? outcome.headers + '\n' : '') +
       'The report of both files is below, as bone.log would get it.');
}

function send(what) {
  const base = baseInput.files[0];
  const donor = donorInput.files[0];
  if (!base || !donor) {
    show('Choose a base file and a donor file first.');
    return;
  }
  const name = nameField.value.trim() || 'merged.gla';
  pending = {what: what, name: name, optimize: optimizeBox.checked};
  setBusy(true);
  progressBar.max = 1;
  progressBar.value = 0;
  show(what === 'merge' ? 'Merging…' : 'Reading the skeletons…');
  worker.postMessage({what: what, base: base, donor: donor, optimize: optimizeBox.checked,
                      outputName: name});
}

// Files dropped onto the page: onto a file field, that one; elsewhere the first fills the base
// (or the donor when the base is chosen already) and a second the donor.
function place(input, file) {
  const list = new DataTransfer();
  list.items.add(file);
  input.files = list.files;
}

document.addEventListener('dragover', (event) => {
  event.preventDefault();
  document.body.classList.add('over');
});
document.addEventListener('dragleave', () => document.body.classList.remove('over'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  document.body.classList.remove('over');
  const files = Array.from(event.dataTransfer.files);
  if (files.length === 0) return;
  const field = event.target.closest && event.target.closest('.file');
  if (field && files.length === 1) {
    place(field.id === 'donor-drop' ? donorInput : baseInput, files[0]);
  } else if (files.length === 1 && baseInput.files.length > 0) {
    place(donorInput, files[0]);
  } else {
    place(baseInput, files[0]);
    if (files[1]) place(donorInput, files[1]);
  }
  show('Chosen: ' + [baseInput, donorInput].map((input) =>
      input.files[0] ? input.files[0].name : '(none)').join(' and ') + '.');
});

byId('files').addEventListener('submit', (event) => {
  event.preventDefault();
  send('merge');
});
dumpButton.addEventListener('click', () => send('dump'));
logButton.addEventListener('click', () => {
  if (reportBlob) download(reportBlob, 'bone.log');
});
startWorker();
