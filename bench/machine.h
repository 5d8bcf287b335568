// The machine a run measured on, as the report's first section.
#pragma once

#include <string>

#include "settings.h"

namespace bonesplice::bench {

// Prints the processor, memory, system, compiler, where the temporary files were and how each
// figure was taken, as a Markdown section.
void PrintMachine(const Settings& settings, const std::string& tempParent);

}  // namespace bonesplice::bench
