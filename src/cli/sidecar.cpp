// Sidecar files: one JSON object per saved picture, written complete or not at all.
#include "cli/sidecar.h"

#include <span>

#include "base/files.h"
#include "tessaly/version.h"

namespace tessaly::cli {

namespace fs = std::filesystem;

fs::path SidecarName(const fs::path& picture) {
  fs::path name = picture;
  name.replace_extension(".json");
  return name;
}

Json ParsedFields(const HeaderFields& f) {
  if (f.form == NameForm::kInput) return nullptr;
  auto text = [](const std::string& s) { return s.empty() ? Json(nullptr) : Json(s); };
  Json parsed;
  parsed["satellite"] = text(f.satellite);
  parsed["kind"] = text(f.kind);
  parsed["code"] = text(f.code);
  parsed["time"] = f.time ? Json(IsoTime(*f.time)) : Json(nullptr);
  if (!f.message.empty()) parsed["message"] = f.message;
  return parsed;
}

Json SidecarObject(const FileResult& r) {
  // Sample levels are grey levels times 64.
  constexpr int kSamplesPerGrey = 64;
  Json j;
  j["source"] = FullPath(r.input);
  j["header"] = r.header;
  j["parsed"] = ParsedFields(r.fields);
  j["named_from"] = NameFormText(r.named_from.value_or(NameForm::kInput));
  // Which reading of the frame gave the header goes here once the decoder tells it.
  j["levels"] = {{"black", r.black_level},
                 {"white", r.white_level},
                 {"black_grey", r.black_level / kSamplesPerGrey},
                 {"white_grey", r.white_level / kSamplesPerGrey}};
  const CutRect cut = r.cut.value_or(CutRect{});
  j["cut"] = {{"x", cut.x}, {"y", cut.y}, {"width", cut.width}, {"height", cut.height}};
  j["output"] = {{"width", r.width}, {"height", r.height}};
  j["tool"] = {{"name", "tessaly-cli"}, {"version", version::kText}};
  return j;
}

void WriteSidecar(const FileResult& r) {
  const std::string text = JsonText(SidecarObject(r), 2) + "\n";
  WriteFileReplacing(SidecarName(r.proposed),
                     std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace tessaly::cli
