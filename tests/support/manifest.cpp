// Corpus manifest reader for the conformance tests.
#include "support/manifest.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tessaly::test {

std::vector<ManifestEntry> ReadManifest(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read manifest " + path);
  std::vector<ManifestEntry> entries;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::istringstream fields(line);
    std::string width, height, sha, source;
    ManifestEntry e;
    std::getline(fields, e.file, '\t');
    std::getline(fields, e.expect, '\t');
    std::getline(fields, width, '\t');
    std::getline(fields, height, '\t');
    std::getline(fields, sha, '\t');
    e.width = width == "-" ? 0 : std::stoi(width);
    e.height = height == "-" ? 0 : std::stoi(height);
    e.grey_sha256 = sha == "-" ? "" : sha;
    entries.push_back(e);
  }
  return entries;
}

std::string CorpusDir(const std::string& suite) {
  return std::string(TESSALY_CORPORA_DIR) + "/" + suite;
}

}  // namespace tessaly::test
