// Fuzz target: HeaderToFileName on arbitrary header bytes. Whatever the header holds, the
// proposal must stay in the input's folder, keep its extension and be a storable file name.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz_target.h"
#include "naming/header_name.h"

namespace {

namespace fs = std::filesystem;

// The first input byte picks one of these; the rest is the header text.
constexpr const char* kInputNames[] = {
    "/data/WEFAX frames/Frame 01.bmp",
    "/data/WEFAX frames/received.PNG",
    "relative/dir.with.dots/x.y.bmp",
    "/tmp/a.b",
};

bool IsUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    }
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const fs::path input = kInputNames[data[0] % std::size(kInputNames)];
  const std::string_view header(reinterpret_cast<const char*>(data + 1), size - 1);
  // Never throws of its own; anything escaping here is a fault.
  const tessaly::NameProposal result = tessaly::HeaderToFileName(input, header);
  const fs::path& proposal = result.name;
  FUZZ_CHECK(result.bad_header_message.empty() ||
             result.bad_header_message.rfind("Bad WEFAX header: ", 0) == 0);
  FUZZ_CHECK(result.named_from != tessaly::NamedFrom::kInputName || proposal == input);
  if (proposal == input) return 0;
  FUZZ_CHECK(result.bad_header_message.empty());
  FUZZ_CHECK(proposal.parent_path() == input.parent_path());
  FUZZ_CHECK(proposal.extension() == input.extension());
  FUZZ_CHECK(tessaly::IsValidFileName(proposal, input));
  const std::string name = proposal.filename().string();
  FUZZ_CHECK(!name.empty() && name != "." && name != "..");
  FUZZ_CHECK(name.find('/') == std::string::npos && name.find('\0') == std::string::npos);
  FUZZ_CHECK(IsUtf8(proposal.string()));
  return 0;
}
