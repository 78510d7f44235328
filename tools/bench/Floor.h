// The physical floor of a run: what any program that checks and fingerprints every file must
// spend at least, measured on the same corpus as the worker.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velarix::bench {

struct FloorFigures {
  uint64_t files = 0;
  uint64_t bytes = 0;
  uint64_t malformed = 0;
  double seconds = 0;
};

// One pass over the folder trees: every directory listed, every ".xml" file (names not beginning
// with ".") read whole into one reused buffer, parsed from memory by libxml2's SAX parser with
// no content handlers, and hashed with SHA-1. Throws std::runtime_error when a file cannot be
// read.
FloorFigures MeasureFloor(const std::vector<std::string>& folders);

}  // namespace velarix::bench
