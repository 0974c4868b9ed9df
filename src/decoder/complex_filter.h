// The two-pole, two-zero resonator that measures 450 Hz stop tone in a picture row, with the
// complex polynomial helpers of its design. Used by the data-line decoder.
#pragma once

#include <array>
#include <complex>

namespace tessaly {

using TComplex = std::complex<double>;

// Pole and zero lists hold this many entries; coefficient arrays one more (powers 0..256).
inline constexpr int kMaxRoots = 256;
using TCoefficients = std::array<TComplex, kMaxRoots + 1>;

TComplex MakeComplex(double re, double im);
// cos(theta) + i sin(theta).
TComplex UnitPhasor(double theta);
TComplex ComplexConjugate(TComplex c);

// Multiplies the polynomial coefficients[0..n] (ascending powers, degree n or less) in place
// by (x - root).
void MultiplyByRoot(TComplex root, int n, TComplex* coefficients);
// coefficients[0..n] := the monic product of (x - root) over roots[0..n-1].
void PolyFromRoots(const TComplex* roots, int n, TComplex* coefficients);
// Horner evaluation of coefficients[0..degree] at z.
void PolyValue(const TComplex* coefficients, int degree, TComplex z, TComplex& value);
// numerator(z) / denominator(z); the denominator is evaluated first.
void RationalValue(const TComplex* numerator, int numerator_degree, const TComplex* denominator,
                   int denominator_degree, TComplex z, TComplex& value);

// The pole and zero lists of one design. They belong to the caller so that several
// pictures can be decoded at once; `iterations` and `converged` tell how the angle
// search of the last design went.
struct ResonatorDesignTables {
  std::array<TComplex, kMaxRoots> poles{};
  std::array<TComplex, kMaxRoots> zeros{};
  int pole_count = 0;
  int zero_count = 0;
  int iterations = 0;
  bool converged = false;
};

// Designs the resonator for `centre_frequency` at `sample_rate` (samples per second, > 0)
// with quality factor `q`: zeros at +1 and -1, poles of radius exp(-theta0 / 2q) at the
// angle (found by bisection, at most 50 steps) where the response at the centre has zero
// phase. Throws Error for a sample rate below 1.
void DesignResonator(int sample_rate, double& peak_gain, double& feedback2, double centre_frequency,
                     double q, double& feedback1, ResonatorDesignTables& tables);
// The same with tables local to the call.
void DesignResonator(int sample_rate, double& peak_gain, double& feedback2, double centre_frequency,
                     double q, double& feedback1);

// Two-sample history (x[n-2], x[n-1], x[n]) of the filter's input or output; zeroed by the
// caller before the first sample.
using FilterHistory = std::array<double, 3>;

// Filters data[0..count-1] in place: y = (x[n] - x[n-2]) + feedback2 y[n-2] + feedback1 y[n-1]
// with x = data / peak_gain. A count below 1 changes nothing.
void ResonatorFilter(FilterHistory& input, FilterHistory& output, float* data, double peak_gain,
                     double feedback2, double feedback1, int count);

}  // namespace tessaly
