// The library's calls from JavaScript, in the page's Worker and under node: inputs placed in
// the module's memory, grown once to what the call needs, and the outcome as a plain object.
// An input is {size, readInto(offset, target)}, readInto filling the Uint8Array target with the
// input's bytes from offset on.
'use strict';

// Inputs are read into the module's memory in pieces of this size: in a browser each piece is
// read into memory of its own first, which waits for the collector to be given back.
const kReadPiece = 4 << 20;
// The header a memory estimate reads.
const kHeaderBytes = 100;

// The refusal of inputs that need more memory than the module can have.
function tooLargeMessage(bytes) {
  const megabytes = Math.ceil(bytes / 1e6);
  return 'Error: these files need about ' + megabytes + ' MB of memory, more than this page ' +
      'can have in a browser. Merge them with the bonesplice program, which has no such limit.';
}

// Reads length bytes of input from offset into the module's memory at address.
function copyIn(module, input, offset, length, address) {
  for (let done = 0; done < length; done += kReadPiece) {
    const piece = Math.min(kReadPiece, length - done);
    input.readInto(offset + done, module.HEAPU8.subarray(address + done, address + done + piece));
  }
}

// Runs call(baseAddress, donorAddress) on base and donor placed in the module's memory, after
// growing it once to their size and the call's estimate; the outcome, with code -1 and the
// page's own message when the memory cannot grow that far.
function withInputs(module, base, donor, optimize, call) {
  const starts = module._malloc(2 * kHeaderBytes) >>> 0;
  const baseStart = Math.min(kHeaderBytes, base.size);
  const donorStart = Math.min(kHeaderBytes, donor.size);
  copyIn(module, base, 0, baseStart, starts);
  copyIn(module, donor, 0, donorStart, starts + kHeaderBytes);
  const estimate = module._WebMergeMemory(starts, baseStart, base.size, starts + kHeaderBytes,
                                          donorStart, donor.size, optimize ? 1 : 0);
  module._free(starts);
  const needed = module._WebMemoryInUse() + base.size + donor.size + estimate;
  if (needed > module._WebMemoryLimit() || !module._WebReserve(needed)) {
    return {code: -1, message: tooLargeMessage(needed)};
  }
  const baseAddress = module._malloc(Math.max(1, base.size)) >>> 0;
  const donorAddress = module._malloc(Math.max(1, donor.size)) >>> 0;
  try {
    if (baseAddress === 0 || donorAddress === 0) {
      return {code: -1, message: tooLargeMessage(needed)};
    }
    copyIn(module, base, 0, base.size, baseAddress);
    copyIn(module, donor, 0, donor.size, donorAddress);
    call(baseAddress, donorAddress);
    return module.outcome;
  } finally {
    module._free(baseAddress);
    module._free(donorAddress);
  }
}

// Merges donor into base: takePiece(offset, bytes) gets the output front to back (bytes are
// valid only during the call), showProgress(done, toDo) the frames resolved. Returns
// {code, message, summary}: code 0 for a finished merge, a bonesplice_code for the library's
// refusals, -1 for inputs beyond the module's memory.
function mergeFiles(module, base, donor, options) {
  module.takePiece = options.takePiece;
  module.showProgress = options.showProgress || (() => {});
  return withInputs(module, base, donor, options.optimize, (baseAddress, donorAddress) => {
    const name = options.outputName || '';
    const nameBytes = module.lengthBytesUTF8(name) + 1;
    const nameAddress = module._malloc(nameBytes) >>> 0;
    module.stringToUTF8(name, nameAddress, nameBytes);
    try {
      module._WebMerge(baseAddress, base.size, donorAddress, donor.size, options.optimize ? 1 : 0,
                       nameAddress);
    } finally {
      module._free(nameAddress);
    }
  });
}

// The bone dump of base and donor, as bone.log gets it: {code, message, pieces, headers},
// where pieces are the report's bytes (Uint8Arrays, in order) and headers the message of a
// header check that fails (shown before the report) or ''.
function dumpFiles(module, base, donor) {
  const pieces = [];
  module.takePiece = (offset, bytes) => {
    pieces.push(bytes.slice());
    return true;
  };
  let headers = '';
  const outcome = withInputs(module, base, donor, false, (baseAddress, donorAddress) => {
    module._WebCheckHeaders(baseAddress, base.size, donorAddress, donor.size);
    headers = module.outcome.message;
    module._WebDump(baseAddress, base.size, donorAddress, donor.size);
  });
  return Object.assign({}, outcome, {pieces: pieces, headers: headers});
}

if (typeof module !== 'undefined') module.exports = {mergeFiles, dumpFiles};
