// The frame generator's random numbers: deterministic on every platform (splitmix64 and
// Box-Muller rather than the standard library's distributions, whose output is not specified).
#pragma once

#include <cmath>
#include <cstdint>

namespace tessaly::framegen {

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  // In [0, 1).
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // 0 to count - 1.
  int Below(int count) { return static_cast<int>(Uniform() * count); }
  double Gaussian() {
    if (has_spare_) {
      has_spare_ = false;
      return spare_;
    }
    constexpr double kTwoPi = 6.283185307179586;
    const double u = 1.0 - Uniform();
    const double angle = kTwoPi * Uniform();
    const double radius = std::sqrt(-2.0 * std::log(u));
    spare_ = radius * std::sin(angle);
    has_spare_ = true;
    return radius * std::cos(angle);
  }

 private:
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t state_;
  double spare_ = 0.0;
  bool has_spare_ = false;
};

}  // namespace tessaly::framegen
