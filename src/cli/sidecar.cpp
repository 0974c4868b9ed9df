// Sidecar files: one JSON object per saved picture, written complete or not at all.
#include "cli/sidecar.h"

#include <span>

#include "base/files.h"
#include "base/text.h"
#include "tessaly/version.h"

namespace tessaly::cli {

namespace fs = std::filesystem;

fs::path SidecarName(const fs::path& picture) {
  fs::path name = picture;
  name.replace_extension(".json");
  return name;
}

Json ParsedFields(const HeaderFields& f) {
  if (f.form == NamedFrom::kInputName) return nullptr;
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
  const PictureResult& p = *r.picture;
  Json j;
  j["source"] = FullPath(r.input);
  j["header"] = Latin1ToUtf8(p.header_text);
  j["parsed"] = ParsedFields(r.fields);
  j["named_from"] = NamedFromText(p.named_from);
  j["levels"] = {{"black", p.black_level},
                 {"white", p.white_level},
                 {"black_grey", p.black_level / kSamplesPerGrey},
                 {"white_grey", p.white_level / kSamplesPerGrey}};
  j["cut"] = {{"x", p.cut.x}, {"y", p.cut.y}, {"width", p.cut.width}, {"height", p.cut.height}};
  j["output"] = {{"width", p.output.Width()}, {"height", p.output.Height()}};
  j["tool"] = {{"name", "tessaly-cli"}, {"version", version::kText}};
  return j;
}

void WriteSidecar(const FileResult& r) {
  const std::string text = JsonText(SidecarObject(r), 2) + "\n";
  WriteFileReplacing(SidecarName(r.picture->proposed_name),
                     std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace tessaly::cli
