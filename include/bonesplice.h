/* bonesplice: merges two skeletal animation files of the ".gla" kind held in memory.
 *
 * The base file keeps its header, bone offset table, skeleton, frames and bone data entries;
 * every frame of the donor file but its first is appended in the base's bone order, bones
 * matched by name, its bone data indices re-pointed into the output's bone array, to which the
 * donor entries those frames use are added (with "optimize", an entry byte-identical to one the
 * output holds already is shared instead).
 *
 * The library keeps no state between calls and none shared between calls: any number of calls
 * may run at once on different threads. Inputs are only read; every count and offset they hold
 * is checked against their real size before it sizes memory or a loop. Callbacks must return
 * normally (no exception, no longjmp).
 *
 * A refused call returns a code other than BONESPLICE_OK and puts into its result the message
 * the bonesplice console program prints for the same refusal (without the newline the console
 * puts before it), for instance "Error: second file has no bone named pelvis.". Bytes below
 * 0x20 and the byte 0x7F that come from a file are shown there as \xNN. */
#ifndef BONESPLICE_H
#define BONESPLICE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Why a call was refused. The values are stable: new ones are only ever added. */
typedef enum bonesplice_code {
  BONESPLICE_OK = 0,
  BONESPLICE_BASE_NOT_ANIMATION = 1,  /* the base does not begin with "2LGA", letter case aside */
  BONESPLICE_DONOR_NOT_ANIMATION = 2, /* the donor does not */
  BONESPLICE_BONE_COUNTS_DIFFER = 3,
  BONESPLICE_BASE_DAMAGED = 4,        /* a block of the base does not lie where its header says */
  BONESPLICE_DONOR_DAMAGED = 5,       /* the same of the donor, a donor frame naming no entry too */
  BONESPLICE_NO_DONOR_FRAMES = 6,
  BONESPLICE_NO_BONES = 7,
  BONESPLICE_MISSING_BONE = 8,        /* a base bone has no donor bone of the same name */
  BONESPLICE_TOO_LARGE = 9,           /* the output would pass 4 GiB or 2^24 bone data entries */
  BONESPLICE_OUTPUT_REFUSED = 10,     /* a callback of the output returned 0 */
  BONESPLICE_OUT_OF_MEMORY = 11,
  BONESPLICE_INVALID_ARGUMENT = 12    /* a null pointer where one is needed; an output name
                                         longer than the console's prompt takes, with its text */
} bonesplice_code;

/* The longest message, its terminating NUL included. */
#define BONESPLICE_MESSAGE_SIZE 1152
/* The longest output name a merge takes, in bytes, as the console program takes at its prompt. */
#define BONESPLICE_MAX_OUTPUT_NAME 255

/* What a finished merge made. Output frames 0 to base_frames - 1 are the base's; output frames
 * base_frames to base_frames + appended_frames - 1 are donor frames 1 to appended_frames, in
 * order: the rows an animation table needs for the new frames. */
typedef struct bonesplice_summary {
  uint32_t base_frames;
  uint32_t appended_frames;
  uint32_t appended_entries; /* bone data entries added after the base's */
  uint32_t shared_entries;   /* donor entries the frames use that were shared, not added ("-o") */
  uint64_t output_size;      /* bytes */
} bonesplice_summary;

/* The outcome of a call. */
typedef struct bonesplice_result {
  bonesplice_code code;
  /* After a refusal: its message, NUL-terminated. After a bonesplice_check_headers that finds
   * the headers would not merge: the message of that. Otherwise empty. */
  char message[BONESPLICE_MESSAGE_SIZE];
  bonesplice_summary summary; /* after a finished merge; zero otherwise */
} bonesplice_result;

/* Where output goes. Pieces of a merge are handed over at their offsets in the output: with
 * at_offsets 0, one at a time, front to back, each starting where the one before ended; with
 * at_offsets nonzero, in any order and from several threads at once (as into a file written at
 * offsets). A report of bonesplice_dump always comes front to back. */
typedef struct bonesplice_output {
  void* context; /* handed to every callback */
  /* Takes size bytes of the output at offset; returns nonzero, or 0 to stop the call, which
   * then returns BONESPLICE_OUTPUT_REFUSED. data is valid only during the call. */
  int (*write)(void* context, uint64_t offset, const uint8_t* data, size_t size);
  /* Optional. Called once, before the first piece, when the merge is known to succeed but for
   * the output: output_size bytes will follow. Returns nonzero, or 0 to refuse. */
  int (*begin)(void* context, uint64_t output_size);
  /* Optional. Writes length bytes of the base input from base_offset at offset, for a caller
   * that can copy them without their passing through memory (from a file, in the system). When
   * null, those bytes come through write, straight from the base input. */
  int (*copy_from_base)(void* context, uint64_t offset, uint64_t base_offset, uint64_t length);
  int at_offsets;
} bonesplice_output;

typedef struct bonesplice_merge_options {
  int optimize; /* nonzero: share byte-identical bone data entries ("-o") */
  /* The most threads the merge runs on; 0: one per core. The bytes are the same for any. */
  unsigned threads;
  /* Optional: the output's name as the messages show it ("Error: cannot write output file
   * NAME."), at most BONESPLICE_MAX_OUTPUT_NAME bytes; null reads as "". */
  const char* output_name;
  /* Optional: called on the calling thread after frames_done of frames_to_do donor frames have
   * been resolved, with frames_done growing; the last call has frames_done == frames_to_do.
   * Resolving takes about half of a merge; writing the output follows. */
  void (*progress)(void* context, uint32_t frames_done, uint32_t frames_to_do);
  void* progress_context;
} bonesplice_merge_options;

/* Merges donor into base and hands the merged file to output. Nothing is handed over unless
 * the merge is known to succeed but for the output; after a refusal from the output, what it
 * took is to be discarded. result (required) tells the outcome; the code is also returned. */
bonesplice_code bonesplice_merge(const uint8_t* base, size_t base_size, const uint8_t* donor,
                                 size_t donor_size, const bonesplice_merge_options* options,
                                 const bonesplice_output* output, bonesplice_result* result);

/* Tells whether the headers of two inputs would merge: both begin with "2LGA", letter case
 * aside, and have equal bone counts. When they would not, result holds the code and message of
 * the first test that fails, which the console program prints before a bone dump too. */
bonesplice_code bonesplice_check_headers(const uint8_t* base, size_t base_size,
                                         const uint8_t* donor, size_t donor_size,
                                         bonesplice_result* result);

/* Hands output the bone dump of base and then donor, the text the console program appends to
 * bone.log with "-l" (its headers, offsets, counts, scale and every bone), with "\n" line ends,
 * in pieces, front to back; begin, copy_from_base and at_offsets are not used. Any bytes are
 * reported: what a damaged file lacks is said in the text. */
bonesplice_code bonesplice_dump(const uint8_t* base, size_t base_size, const uint8_t* donor,
                                size_t donor_size, const bonesplice_output* output,
                                bonesplice_result* result);

/* About the most memory, in bytes, that bonesplice_merge takes besides the inputs themselves,
 * for inputs of base_size and donor_size bytes that begin with base_start and donor_start
 * (their first bytes: at least the 100-byte header where the file has one). For a caller that
 * reserves memory before it reads the inputs. */
uint64_t bonesplice_merge_memory(const uint8_t* base_start, size_t base_start_size,
                                 uint64_t base_size, const uint8_t* donor_start,
                                 size_t donor_start_size, uint64_t donor_size, int optimize);

#ifdef __cplusplus
}
#endif

#endif /* BONESPLICE_H */
