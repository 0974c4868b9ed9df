// SHA-256 of a byte buffer, as lowercase hex; the conformance tests compare
// decoded pictures with the corpora manifests through it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tessaly::test {

std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace tessaly::test
