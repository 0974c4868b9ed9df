// JSON text that stays valid UTF-8 whatever bytes a path holds.
#include "cli/json.h"

namespace tessaly::cli {

std::string JsonText(const Json& value, int indent) {
  return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

}  // namespace tessaly::cli
