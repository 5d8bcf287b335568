// Compiler hints, where the compiler has them: a read the processor may start early, and a
// printf-style format string that the compiler checks against its arguments. Elsewhere they
// expand to nothing, so that no code depends on them for its result.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define BONESPLICE_PREFETCH(address) __builtin_prefetch(address)
#define BONESPLICE_PRINTF_FORMAT(string, first) __attribute__((format(printf, string, first)))
#else
#define BONESPLICE_PREFETCH(address) ((void)(address))
#define BONESPLICE_PRINTF_FORMAT(string, first)
#endif
