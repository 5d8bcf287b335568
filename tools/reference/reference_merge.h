// The merge written plainly from its rule, with linear scans and no index structures: the
// reference that the tests and the fuzz targets compare the program's output against, and the
// slow baseline of the benchmark. Works on whole files in memory and expects sound inputs; of
// the program's code it shares only the header and layout decoder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reference {

// The merged file of base and donor. With optimize, a donor entry takes the index of the first
// appended entry with the same 14 bytes, else of the first base entry with them, else it is
// appended.
std::vector<uint8_t> ReferenceMerge(const std::vector<uint8_t>& base,
                                    const std::vector<uint8_t>& donor, bool optimize);

// Why bytes are not a merged file laid out as the merge lays one out, its header describing
// exactly the blocks it holds and its entries within what a 24-bit index names; nullopt when
// they are one.
std::optional<std::string> WhyUnsoundOutput(const std::vector<uint8_t>& bytes);

}  // namespace reference
