// Sample animation files for tests and benchmarks: the in-memory model of a whole file, its
// encoder and decoder (encode.h), and the seeded generator of valid files (generate.h).
#pragma once

#include "glagen/encode.h"
#include "glagen/generate.h"
