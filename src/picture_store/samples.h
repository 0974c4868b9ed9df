// The scale of the 16-bit working picture that the decoder reads and the output is rendered
// from: an 8-bit grey level g is stored as the sample g x kSamplesPerGrey, and the decoder's
// black and white levels are on that scale.
#pragma once

namespace tessaly {

inline constexpr int kSamplesPerGrey = 64;

constexpr int SampleOfGrey(int grey) {
  return grey * kSamplesPerGrey;
}

// The grey level a sample or level stands for, truncated.
constexpr int GreyOfSample(int sample) {
  return sample / kSamplesPerGrey;
}

}  // namespace tessaly
