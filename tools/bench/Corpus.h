// The benchmark's corpus: documents shaped like the NF-e files an invoicing program leaves in
// the watched folders, written one at a time so that memory does not grow with their number.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace velarix::bench {

struct CorpusFigures {
  uint64_t files = 0;
  uint64_t bytes = 0;
  uint64_t malformed = 0;  // files that are not well-formed XML
  uint64_t largest = 0;    // bytes of the largest file
};

// Path of the watched folder of row `row` of WatchedFolders under root: its label, so the paths
// carry blanks, accents and parentheses as real ones do.
std::string WatchedFolderPath(const std::string& root, int row);

// Writes `files` ".xml" files under the thirteen watched folders below root, three levels of
// subfolders deep (year, month, batch). Sizes run from about 4 to 20 KB with a mean near 8 KB;
// a fifth are ISO-8859-1, some have CR LF or LF line ends, one in 200 is malformed in one of
// several ways. Every file's content is unique. The same seed gives the same corpus. Throws
// std::runtime_error when a file cannot be written.
CorpusFigures WriteCorpus(const std::string& root, uint64_t files, uint32_t seed);

// One well-formed document of about `target_bytes` bytes, outside the corpus, for the per-upload
// measurement.
std::string SampleDocument(uint64_t number, size_t target_bytes);

}  // namespace velarix::bench
