// Reads a corpus manifest (file, expect, width, height, grey_sha256, ref_source).
#pragma once

#include <string>
#include <vector>

namespace tessaly::test {

struct ManifestEntry {
  std::string file;    // relative to the suite folder
  std::string expect;  // "decode", "error" or "either"
  int width = 0;       // 0 where the manifest has "-"
  int height = 0;
  std::string grey_sha256;  // empty where the manifest has "-"
};

// Throws std::runtime_error when the manifest cannot be read.
std::vector<ManifestEntry> ReadManifest(const std::string& path);

// The folder of a suite inside the corpora folder given to the tests.
std::string CorpusDir(const std::string& suite);

}  // namespace tessaly::test
