// Sidecar files: one JSON object per saved picture, written complete or not at all.
#include "cli/sidecar.h"

#include <memory>
#include <span>

#include "base/errors.h"
#include "base/files.h"
#include "base/text.h"
#include "picture_store/samples.h"
#include "tessaly/version.h"

namespace tessaly::cli {

namespace fs = std::filesystem;

Json ParsedFields(const std::optional<HeaderFields>& fields) {
  if (!fields) return nullptr;
  const HeaderFields& f = *fields;
  auto text = [](const std::string& s) { return s.empty() ? Json(nullptr) : Json(s); };
  Json parsed;
  parsed["satellite"] = text(f.satellite);
  parsed["kind"] = text(f.kind);
  parsed["code"] = text(f.code);
  parsed["time"] = f.time ? Json(IsoTime(*f.time)) : Json(nullptr);
  if (!f.message.empty()) parsed["message"] = f.message;
  return parsed;
}

Json SidecarObject(const FileWork& work, Source source) {
  const PictureResult& p = *work.picture;
  Json j;
  j["source"] = FullPath(work.input);
  j["header"] = Latin1ToUtf8(p.header_text);
  j["parsed"] = ParsedFields(p.header);
  j["named_from"] = NamedFromText(p.named_from);
  if (p.header_doubtful) {
    j["header_doubtful"] = true;
    j["header_confidence"] = RoundedConfidence(p.header_confidence.value_or(0.0));
  }
  j["reading"] = ReadingText(p.read_as);
  j["levels"] = {{"black", p.black_level},
                 {"white", p.white_level},
                 {"black_grey", GreyOfSample(p.black_level)},
                 {"white_grey", GreyOfSample(p.white_level)}};
  j["cut"] = {{"x", p.cut.x}, {"y", p.cut.y}, {"width", p.cut.width}, {"height", p.cut.height}};
  j["output"] = {{"width", p.output.Width()}, {"height", p.output.Height()}};
  j["made_with"] = {{"source", SourceWord(source)}};
  j["tool"] = {{"name", "tessaly-cli"}, {"version", version::kText}};
  return j;
}

std::vector<std::uint8_t> SidecarBytes(const FileWork& work, Source source) {
  const std::string text = JsonText(SidecarObject(work, source), 2) + "\n";
  return {text.begin(), text.end()};
}

std::string SidecarAgainstResult(const FileWork& work, Source source) {
  try {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(SidecarName(work.picture->proposed_name));
    const Json j = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
    // A sidecar of an earlier version, or none, records nothing to go by.
    if (!j.is_object() || !j.contains("made_with") || !j["made_with"].is_object()) return {};
    const Json& made = j["made_with"];
    const auto recorded = made.find("source");
    if (recorded == made.end() || !recorded->is_string() || *recorded == SourceWord(source)) {
      return {};
    }
    return "its result was made with --source " + recorded->get<std::string>();
  } catch (const std::exception&) {
    return {};  // a sidecar that cannot be read is the sidecar's matter, not the picture's
  }
}

bool IsToolSidecar(const fs::path& file) {
  try {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(file);
    const Json j = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (!j.is_object()) return false;
    const auto tool = j.find("tool");
    if (tool == j.end() || !tool->is_object()) return false;
    const auto name = tool->find("name");
    return name != tool->end() && *name == "tessaly-cli";
  } catch (const std::exception&) {
    return false;
  }
}

bool PublishSidecar(FileWork& work, Source source, bool replace_any) {
  const fs::path name = SidecarName(work.picture->proposed_name);
  std::unique_ptr<PendingFile> file = Prepared(work.prepared_sidecar);
  if (!file) file = WritePending(name, SidecarBytes(work, source), work.folder);
  file->DeferFolderSync();  // the caller flushes the folder once for the picture and this
  if (file->PublishIfAbsent()) return true;
  // A file of that name that this tool did not write may be the user's own.
  if (!replace_any && !IsToolSidecar(name)) return false;
  file->PublishReplacing();
  return true;
}

}  // namespace tessaly::cli
