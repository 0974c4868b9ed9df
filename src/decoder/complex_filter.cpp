// The resonator design (bisection on the pole angle) and the filter itself.
#include "decoder/complex_filter.h"

#include <cmath>

#include "base/errors.h"

namespace tessaly {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;
constexpr int kMaxSearchSteps = 50;
// The search stops once the phase at the centre frequency is this close to zero.
constexpr double kPhaseTolerance = 1e-12;

}  // namespace

TComplex MakeComplex(double re, double im) {
  return TComplex(re, im);
}

TComplex UnitPhasor(double theta) {
  return TComplex(std::cos(theta), std::sin(theta));
}

TComplex ComplexConjugate(TComplex c) {
  return TComplex(c.real(), -c.imag());
}

void MultiplyByRoot(TComplex root, int n, TComplex* coefficients) {
  const TComplex m = TComplex(0.0, 0.0) - root;
  for (int k = n; k >= 1; --k) coefficients[k] = m * coefficients[k] + coefficients[k - 1];
  coefficients[0] = m * coefficients[0];
}

void PolyFromRoots(const TComplex* roots, int n, TComplex* coefficients) {
  coefficients[0] = TComplex(1.0, 0.0);
  for (int k = 1; k <= n; ++k) coefficients[k] = TComplex(0.0, 0.0);
  for (int i = 0; i < n; ++i) MultiplyByRoot(roots[i], n, coefficients);
}

void PolyValue(const TComplex* coefficients, int degree, TComplex z, TComplex& value) {
  TComplex accumulator(0.0, 0.0);
  for (int k = degree; k >= 0; --k) accumulator = accumulator * z + coefficients[k];
  value = accumulator;
}

void RationalValue(const TComplex* numerator, int numerator_degree, const TComplex* denominator,
                   int denominator_degree, TComplex z, TComplex& value) {
  TComplex below;
  TComplex above;
  PolyValue(denominator, denominator_degree, z, below);
  PolyValue(numerator, numerator_degree, z, above);
  value = above / below;
}

void DesignResonator(int sample_rate, double& peak_gain, double& feedback2, double centre_frequency,
                     double q, double& feedback1, ResonatorDesignTables& tables) {
  if (sample_rate < 1) throw Error("The tone filter needs a sample rate of at least 1");
  const double w = centre_frequency / sample_rate;
  tables.pole_count = 2;
  tables.zero_count = 2;
  tables.zeros[0] = MakeComplex(1.0, 0.0);
  tables.zeros[1] = MakeComplex(0.0, 0.0) - MakeComplex(1.0, 0.0);
  TCoefficients numerator;
  TCoefficients denominator;
  PolyFromRoots(tables.zeros.data(), tables.zero_count, numerator.data());

  const double theta0 = kTwoPi * w;
  const double r = std::exp(-theta0 / (2.0 * q));
  const TComplex z0 = UnitPhasor(theta0);
  double theta = theta0;
  double low = 0.0;
  double high = kPi;
  TComplex response;
  tables.iterations = 0;
  tables.converged = false;
  while (tables.iterations < kMaxSearchSteps && !tables.converged) {
    ++tables.iterations;
    tables.poles[0] = MakeComplex(r, 0.0) * UnitPhasor(theta);
    tables.poles[1] = ComplexConjugate(tables.poles[0]);
    PolyFromRoots(tables.poles.data(), tables.pole_count, denominator.data());
    RationalValue(numerator.data(), tables.zero_count, denominator.data(), tables.pole_count, z0,
                  response);
    const double t = response.imag() / response.real();
    if (t > 0) {
      high = theta;
    } else {
      low = theta;
    }
    tables.converged = std::fabs(t) < kPhaseTolerance;
    theta = (low + high) * 0.5;
  }
  // The coefficients come from the last angle evaluated, not from the midpoint after it.
  peak_gain = response.real();
  feedback2 = -denominator[0].real();
  feedback1 = -denominator[1].real();
}

void DesignResonator(int sample_rate, double& peak_gain, double& feedback2, double centre_frequency,
                     double q, double& feedback1) {
  ResonatorDesignTables tables;
  DesignResonator(sample_rate, peak_gain, feedback2, centre_frequency, q, feedback1, tables);
}

void ResonatorFilter(FilterHistory& input, FilterHistory& output, float* data, double peak_gain,
                     double feedback2, double feedback1, int count) {
  for (int i = 0; i < count; ++i) {
    input[0] = input[1];
    input[1] = input[2];
    input[2] = data[i] / peak_gain;
    output[0] = output[1];
    output[1] = output[2];
    output[2] = (input[2] - input[0]) + feedback2 * output[0] + feedback1 * output[1];
    data[i] = static_cast<float>(output[2]);
  }
}

}  // namespace tessaly
