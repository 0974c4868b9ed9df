// Fuzz target: the whole per-file processing (load, grey conversion, source preparation for
// both source choices, decoding, rendering, shrinking, naming) on small pictures written as
// BMP or PNG files, and the encoding of the result the batch tool would save.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "app/processor.h"
#include "app/saving.h"
#include "base/errors.h"
#include "fuzz_target.h"
#include "picture_files/png_io.h"
#include "process_input.h"

namespace {

namespace fs = std::filesystem;
using tessaly::PictureResult;

// A folder of this process's own for the input file, removed when the process ends normally.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/tessaly-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

const fs::path& Scratch() {
  static const ScratchFolder folder;
  return folder.path();
}

void WriteFile(const fs::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  FUZZ_CHECK(out.good());
}

void CheckResult(PictureResult& result, const fs::path& input) {
  const tessaly::Bitmap& output = result.output;
  FUZZ_CHECK(output.Format() == tessaly::PixelFormat::k8Bit);
  // Resampling leaves pictures under 3 rows alone, so only those may stay wider than the cap.
  FUZZ_CHECK(output.Width() <= tessaly::kMaxOutputWidth || output.Height() < 3);
  // A header that reads names the file; one that does not leaves the input's own name.
  FUZZ_CHECK(result.header.has_value() == (result.named_from != tessaly::NamedFrom::kInputName));
  const fs::path& proposed = result.proposed_name;
  FUZZ_CHECK(result.input_name == input);
  FUZZ_CHECK(proposed.parent_path() == input.parent_path());
  FUZZ_CHECK(proposed.extension() == ".png");
  FUZZ_CHECK(result.changed == !tessaly::SameNameIgnoringCase(proposed, input));
  FUZZ_CHECK(result.cut.x >= 0 && result.cut.y >= 0 && result.cut.width >= 0 &&
             result.cut.height >= 0);
  if (output.Width() == 0 || output.Height() == 0) return;
  // What the batch tool would write must read back as the same picture.
  tessaly::EncodePicture(result);
  tessaly::Bitmap back;
  tessaly::LoadPNGFromMemory(back, result.png, false);
  FUZZ_CHECK(back.Width() == output.Width() && back.Height() == output.Height());
  for (int y = 0; y < output.Height(); ++y) {
    FUZZ_CHECK(std::equal(output.Row(y), output.Row(y) + output.Width(), back.Row(y)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = tessaly::fuzz::DecodeProcessInput({data, size});
  if (!input) return 0;
  const fs::path file = Scratch() / (input->flags.as_png ? "in.png" : "in.bmp");
  WriteFile(file, input->file);
  tessaly::ProcessingOptions options;
  options.source =
      input->flags.source_id == 1 ? tessaly::Source::kDataLines : tessaly::Source::kFullFrame;
  PictureResult result;
  try {
    result = tessaly::ProcessPicture(file, options);
  } catch (const tessaly::Error&) {
    return 0;  // refused files are an expected answer
  }
  CheckResult(result, file);
  return 0;
}
