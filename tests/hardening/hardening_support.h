// Fixtures of the hardening tests: generated frames whose proposed names are known, scratch
// folders that even an unprivileged child can use, and checks on what tessaly-cli printed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace tessaly::test {

using Bytes = std::vector<std::uint8_t>;

// A decodable frame whose header names its picture "D2AB 05-12-99 12MM" (MM = minute).
struct GoodFrame {
  Bytes bmp;
  Bytes png;
  std::string target;  // the proposed file name, ".png" included
};
// Variants of one minute share the header and the proposed name, not the picture.
const GoodFrame& FrameForMinute(int minute, int variant = 0);

// A folder under the temporary folder that everyone may enter and write, removed with
// everything in it (permissions restored first) when the object goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& file, const Bytes& bytes);

// Runs tessaly-cli with the arguments.
ChildResult RunCli(const std::vector<std::string>& args, const ChildOptions& options = {});

// The lines of a program's output.
std::vector<std::string> Lines(const std::string& text);

// True when the file holds a complete PNG that decodes to the end.
bool IsCompletePng(const std::filesystem::path& file);

// The SHA-256 of a PNG file's decoded pixels (its tIME chunk differs between runs), or of the
// bytes of any other file.
std::string PictureDigest(const std::filesystem::path& file);

}  // namespace tessaly::test
