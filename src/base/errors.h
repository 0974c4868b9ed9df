// Exception types of the core: a general error carrying its message, and the
// invalid-graphic-operation error for bitmap format problems. Used everywhere.
#pragma once

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

}  // namespace tessaly
