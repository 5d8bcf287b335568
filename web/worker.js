// The page's Worker: the module made from the embedded binary, and each request of the page
// (a merge or a dump of two File objects) answered with its outcome; the merge's output and the
// report go back as Blobs, so that the page never holds them in its own memory twice.
'use strict';

function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// A File read synchronously, as the module's calls need it.
function inputOf(file) {
  const reader = new FileReaderSync();
  return {
    size: file.size,
    readInto: (offset, target) => target.set(new Uint8Array(
        reader.readAsArrayBuffer(file.slice(offset, offset + target.length)))),
  };
}

const ready = createBonesplice({wasmBinary: decodeBase64(kModuleBase64)});

function answer(module, request) {
  const base = inputOf(request.base);
  const donor = inputOf(request.donor);
  if (request.what === 'dump') {
    const outcome = dumpFiles(module, base, donor);
    return Object.assign(outcome, {report: new Blob(outcome.pieces), pieces: undefined});
  }
  const pieces = [];
  let lastShown = 0;
  const outcome = mergeFiles(module, base, donor, {
    optimize: request.optimize,
    outputName: request.outputName,
    takePiece: (offset, bytes) => {
      pieces.push(bytes.slice());
      return true;
    },
    showProgress: (done, toDo) => {
      const now = Date.now();
      if (done === toDo || now - lastShown >= 50) {
        lastShown = now;
        postMessage({progress: {done: done, toDo: toDo}});
      }
    },
  });
  if (outcome.code === 0) outcome.output = new Blob(pieces, {type: 'application/octet-stream'});
  return outcome;
}

onmessage = (event) => {
  ready.then((module) => {
    let outcome;
    try {
      outcome = answer(module, event.data);
    } catch (error) {
      outcome = {code: -2, message: String(error)};
    }
    postMessage({outcome: outcome});
  });
};
