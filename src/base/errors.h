// Exception types of the core: a general error carrying its message, and the
// invalid-graphic-operation error for bitmap format problems; messages that name their file.
// Used everywhere.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace tessaly {

// A failure whose message is shown to the user as it stands.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A bitmap operation asked of a picture whose size or format does not allow it.
class InvalidGraphicOperation : public Error {
 public:
  using Error::Error;
};

// `message` as it stands when it names `file` already, else "\"FILE\": message".
inline std::string NamingFile(const std::filesystem::path& file, const std::string& message) {
  if (message.find(file.string()) != std::string::npos) return message;
  return "\"" + file.string() + "\": " + message;
}

}  // namespace tessaly
