// Frames, scratch folders and output helpers of the hardening tests.
#include "hardening_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "framegen/framegen.h"
#include "picture_files/png_io.h"
#include "support/bmp_writer.h"
#include "support/sha256.h"

namespace tessaly::test {
namespace {

namespace fs = std::filesystem;

GoodFrame MakeGoodFrame(int minute, int variant) {
  char header[32];
  std::snprintf(header, sizeof header, "MET7    C02991205%02d%02dD2AB", 12, minute);
  framegen::FrameRecipe recipe;
  recipe.header = header;
  recipe.noise = 4;  // 800 picture rows: frames of 750 rows or more show their stop tone
  recipe.seed = static_cast<std::uint64_t>(minute) + 1 + 1000 * static_cast<std::uint64_t>(variant);
  const Bitmap bitmap = framegen::ToBitmap(framegen::MakeFrame(recipe));
  char target[32];
  std::snprintf(target, sizeof target, "D2AB 05-12-99 12%02d.png", minute);
  return {EncodeBmp(bitmap), EncodeBitmapAsPNG(bitmap, "", "", "", ""), target};
}

void MakeWritable(const fs::path& root) {
  std::error_code ec;
  ::chmod(root.c_str(), 0777);
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_directory(ec)) ::chmod(it->path().c_str(), 0777);
  }
}

}  // namespace

const GoodFrame& FrameForMinute(int minute, int variant) {
  static std::mutex mutex;
  static std::map<std::pair<int, int>, GoodFrame> frames;
  const std::lock_guard<std::mutex> lock(mutex);
  const std::pair key{minute, variant};
  auto it = frames.find(key);
  if (it == frames.end()) it = frames.emplace(key, MakeGoodFrame(minute, variant)).first;
  return it->second;
}

ScratchFolder::ScratchFolder(const std::string& name) {
  std::string pattern = (fs::temp_directory_path() / ("tessaly-hardening-" + name + "-XXXXXX"));
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  ::chmod(path_.c_str(), 0777);  // an unprivileged child writes here too
}

ScratchFolder::~ScratchFolder() {
  MakeWritable(path_);
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void WriteBytes(const fs::path& file, const Bytes& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
  out.close();
  ::chmod(file.c_str(), 0644);
}

ChildResult RunCli(const std::vector<std::string>& args, const ChildOptions& options) {
  return RunChild(TESSALY_CLI_PATH, args, options);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool IsCompletePng(const fs::path& file) {
  try {
    Bitmap bitmap;
    return LoadPNGIntoBitmap(bitmap, file, false) && bitmap.Width() > 0;
  } catch (const std::exception&) {
    return false;
  }
}

std::string PictureDigest(const fs::path& file) {
  if (IsCompletePng(file)) {
    Bitmap bitmap;
    LoadPNGIntoBitmap(bitmap, file, false);
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < bitmap.Height(); ++y) {
      pixels.insert(pixels.end(), bitmap.Row(y), bitmap.Row(y) + bitmap.RowBytes());
    }
    return std::to_string(bitmap.Width()) + "x" + std::to_string(bitmap.Height()) + ":" +
           Sha256Hex(pixels);
  }
  std::ifstream in(file, std::ios::binary);
  const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
  return Sha256Hex(bytes);
}

}  // namespace tessaly::test
