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

// The output is gathered into Blobs of about this size as it comes: the browser takes each
// one's bytes away from the Worker (to disk when they are many), so that the Worker holds at
// most one part besides the module's memory, not the whole output twice (its pieces and the
// Blob made of them). A Blob made of Blobs copies nothing.
const kOutputPart = 64 << 20;

function outputBlobs() {
  const parts = [];
  let pieces = [];
  let piecesSize = 0;
  const seal = () => {
    if (pieces.length === 0) return;
    parts.push(new Blob(pieces));
    pieces = [];
    piecesSize = 0;
  };
  return {
    add: (bytes) => {
      pieces.push(bytes.slice());
      piecesSize += bytes.length;
      if (piecesSize >= kOutputPart) seal();
    },
    blob: () => {
      seal();
      return new Blob(parts, {type: 'application/octet-stream'});
    },
  };
}

// The refusal of a merge the browser stopped by failing an allocation of the Worker's own.
function stoppedMessage(error) {
  return 'Error: the browser stopped the merge (' + String(error) + '), most likely for lack ' +
      'of memory. Merge these files with the bonesplice program, which has no such limit.';
}

function answer(module, request) {
  const base = inputOf(request.base);
  const donor = inputOf(request.donor);
  if (request.what === 'dump') {
    const outcome = dumpFiles(module, base, donor);
    return Object.assign(outcome, {report: new Blob(outcome.pieces), pieces: undefined});
  }
  const output = outputBlobs();
  let failure = null;
  let lastShown = 0;
  const outcome = mergeFiles(module, base, donor, {
    optimize: request.optimize,
    outputName: request.outputName,
    // A piece the browser finds no memory for ends the merge as a refused output.
    takePiece: (offset, bytes) => {
      try {
        output.add(bytes);
        return true;
      } catch (error) {
        failure = error;
        return false;
      }
    },
    showProgress: (done, toDo) => {
      const now = Date.now();
      if (done === toDo || now - lastShown >= 50) {
        lastShown = now;
        postMessage({progress: {done: done, toDo: toDo}});
      }
    },
  });
  if (failure !== null) return {code: -2, message: stoppedMessage(failure)};
  if (outcome.code === 0) outcome.output = output.blob();
  return outcome;
}

onmessage = (event) => {
  ready.then((module) => {
    let outcome;
    try {
      outcome = answer(module, event.data);
    } catch (error) {
      // RangeError: an allocation of the Worker's own failed.
      outcome = {code: -2, message: error instanceof RangeError ? stoppedMessage(error) :
                                                                    String(error)};
    }
    postMessage({outcome: outcome});
  });
};
