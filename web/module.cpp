// The WebAssembly module of the page: the library's calls for JavaScript, which gets the output
// and the progress through functions of the module object (web/session.js) and the outcome of
// each call through Module.outcome. Numbers that may pass 2^31 cross as doubles.
#include <bonesplice.h>
#include <emscripten/emscripten.h>
#include <emscripten/heap.h>

#include <malloc.h>

#include <cstdint>

extern "C" char __heap_base;  // where the heap starts, after the data and the stack

namespace {

// clang-format off
EM_JS(int, TakePieceInScript, (double offset, const uint8_t* data, double size), {
  return Module.takePiece(offset, HEAPU8.subarray(data >>> 0, (data >>> 0) + size)) ? 1 : 0;
});
EM_JS(void, ShowProgressInScript, (double done, double toDo), {
  Module.showProgress(done, toDo);
});
EM_JS(void, SetOutcome, (int code, const char* message, double baseFrames, double appendedFrames,
                         double appendedEntries, double sharedEntries, double outputSize), {
  Module.outcome = {code: code, message: UTF8ToString(message >>> 0), summary: {
    baseFrames: baseFrames, appendedFrames: appendedFrames, appendedEntries: appendedEntries,
    sharedEntries: sharedEntries, outputSize: outputSize}};
});
// clang-format on

int TakePiece(void*, uint64_t offset, const uint8_t* data, size_t size) {
  return TakePieceInScript(static_cast<double>(offset), data, static_cast<double>(size));
}

void ShowProgress(void*, uint32_t done, uint32_t toDo) {
  ShowProgressInScript(done, toDo);
}

void Report(const bonesplice_result& result) {
  const bonesplice_summary& summary = result.summary;
  SetOutcome(result.code, result.message, summary.base_frames, summary.appended_frames,
             summary.appended_entries, summary.shared_entries,
             static_cast<double>(summary.output_size));
}

// The output: pieces front to back, to Module.takePiece.
bonesplice_output ScriptOutput() {
  bonesplice_output output{};
  output.write = TakePiece;
  return output;
}

}  // namespace

extern "C" {

// bonesplice_merge on one thread, the output and the progress to the script.
EMSCRIPTEN_KEEPALIVE void WebMerge(const uint8_t* base, size_t baseSize, const uint8_t* donor,
                                   size_t donorSize, int optimize, const char* outputName) {
  bonesplice_merge_options options{};
  options.optimize = optimize;
  options.threads = 1;
  options.output_name = outputName;
  options.progress = ShowProgress;
  bonesplice_output output = ScriptOutput();
  bonesplice_result result;
  bonesplice_merge(base, baseSize, donor, donorSize, &options, &output, &result);
  Report(result);
}

EMSCRIPTEN_KEEPALIVE void WebCheckHeaders(const uint8_t* base, size_t baseSize,
                                          const uint8_t* donor, size_t donorSize) {
  bonesplice_result result;
  bonesplice_check_headers(base, baseSize, donor, donorSize, &result);
  Report(result);
}

EMSCRIPTEN_KEEPALIVE void WebDump(const uint8_t* base, size_t baseSize, const uint8_t* donor,
                                  size_t donorSize) {
  bonesplice_output output = ScriptOutput();
  bonesplice_result result;
  bonesplice_dump(base, baseSize, donor, donorSize, &output, &result);
  Report(result);
}

EMSCRIPTEN_KEEPALIVE double WebMergeMemory(const uint8_t* baseStart, size_t baseStartSize,
                                           double baseSize, const uint8_t* donorStart,
                                           size_t donorStartSize, double donorSize,
                                           int optimize) {
  return static_cast<double>(bonesplice_merge_memory(
      baseStart, baseStartSize, static_cast<uint64_t>(baseSize), donorStart, donorStartSize,
      static_cast<uint64_t>(donorSize), optimize));
}

// Grows the memory at once to bytes, so that the inputs and the merge's tables do not grow it
// step by step; false when the memory cannot grow that far.
EMSCRIPTEN_KEEPALIVE int WebReserve(double bytes) {
  if (bytes <= static_cast<double>(emscripten_get_heap_size())) return 1;
  if (bytes > static_cast<double>(emscripten_get_heap_max())) return 0;
  return emscripten_resize_heap(static_cast<size_t>(bytes));
}

// The memory the program holds now: its data and stack below the heap, and what the heap has
// handed out and not taken back.
EMSCRIPTEN_KEEPALIVE double WebMemoryInUse() {
  return static_cast<double>(reinterpret_cast<uintptr_t>(&__heap_base)) +
         static_cast<double>(mallinfo().uordblks);
}

EMSCRIPTEN_KEEPALIVE double WebMemoryLimit() {
  return static_cast<double>(emscripten_get_heap_max());
}

}  // extern "C"
