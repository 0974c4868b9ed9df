// The stop-tone resonator: polynomial helpers, design values and the filter's response.
#include "decoder/complex_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "base/errors.h"

namespace tessaly {
namespace {

constexpr double kPi = 3.141592653589793;

TEST(Polynomials, ProductOfRootsIsMonicAndVanishesAtEachRoot) {
  // (x - 2)(x - 3)(x + 1) = x^3 - 4x^2 + x + 6, worked by hand.
  const TComplex roots[] = {MakeComplex(2, 0), MakeComplex(3, 0), MakeComplex(-1, 0)};
  TCoefficients c{};
  PolyFromRoots(roots, 3, c.data());
  EXPECT_EQ(c[0], MakeComplex(6, 0));
  EXPECT_EQ(c[1], MakeComplex(1, 0));
  EXPECT_EQ(c[2], MakeComplex(-4, 0));
  EXPECT_EQ(c[3], MakeComplex(1, 0));
  TComplex value;
  for (const TComplex& root : roots) {
    PolyValue(c.data(), 3, root, value);
    EXPECT_EQ(value, MakeComplex(0, 0));
  }
  PolyValue(c.data(), 3, MakeComplex(0, 1), value);  // -i + 4 + i + 6
  EXPECT_EQ(value, MakeComplex(10, 0));
}

TEST(Polynomials, ConjugateRootsGiveRealCoefficientsAndRationalValueDivides) {
  const TComplex pole = MakeComplex(0.5, 0) * UnitPhasor(kPi / 3);
  const TComplex roots[] = {pole, ComplexConjugate(pole)};
  TCoefficients den{};
  PolyFromRoots(roots, 2, den.data());
  EXPECT_NEAR(den[0].real(), 0.25, 1e-15);  // r^2
  EXPECT_NEAR(den[1].real(), -0.5, 1e-15);  // -2 r cos(60 degrees)
  EXPECT_NEAR(den[0].imag(), 0.0, 1e-15);
  EXPECT_NEAR(den[1].imag(), 0.0, 1e-15);

  const TComplex one_and_minus_one[] = {MakeComplex(1, 0), MakeComplex(-1, 0)};
  TCoefficients num{};
  PolyFromRoots(one_and_minus_one, 2, num.data());
  TComplex value;
  RationalValue(num.data(), 2, den.data(), 2, MakeComplex(2, 0), value);
  EXPECT_NEAR(value.real(), 3.0 / (4.0 - 1.0 + 0.25), 1e-15);  // (4 - 1) / (4 - 2 x 0.5 + 0.25)
}

TEST(ResonatorDesign, GivesTheKnownValuesAt4000SamplesPerSecond) {
  ResonatorDesignTables tables;
  double peak_gain = 0;
  double feedback1 = 0;
  double feedback2 = 0;
  DesignResonator(4000, peak_gain, feedback2, 450.0, 50.0, feedback1, tables);
  // theta0 = 2 pi 450 / 4000 = 0.70686, r = exp(-theta0 / 100) = 0.99296.
  EXPECT_TRUE(tables.converged);
  EXPECT_LE(tables.iterations, 50);
  EXPECT_NEAR(std::abs(tables.poles[0]), 0.99296, 5e-6);
  EXPECT_EQ(tables.poles[1], ComplexConjugate(tables.poles[0]));
  EXPECT_EQ(tables.zero_count, 2);
  EXPECT_EQ(tables.pole_count, 2);
  EXPECT_EQ(tables.zeros[0], MakeComplex(1, 0));
  EXPECT_EQ(tables.zeros[1], MakeComplex(-1, 0));
  EXPECT_NEAR(peak_gain, 142.47, 0.005);
  EXPECT_NEAR(feedback1, 1.5101, 0.00005);
  EXPECT_NEAR(feedback2, -0.98596, 0.000005);
}

TEST(ResonatorDesign, QuarterSampleRateConvergesOnTheFirstAngle) {
  ResonatorDesignTables tables;
  double peak_gain = 0;
  double feedback1 = 0;
  double feedback2 = 0;
  DesignResonator(1800, peak_gain, feedback2, 450.0, 50.0, feedback1, tables);
  EXPECT_TRUE(tables.converged);
  EXPECT_EQ(tables.iterations, 1);
  EXPECT_NEAR(feedback1, 0.0, 1e-12);  // poles at +-90 degrees
}

TEST(ResonatorDesign, ConvergesForEveryRowFrom228To5000Pixels) {
  int worst = 0;
  for (int rate = 912; rate <= 20000; rate += 4) {
    ResonatorDesignTables tables;
    double peak_gain = 0;
    double feedback1 = 0;
    double feedback2 = 0;
    DesignResonator(rate, peak_gain, feedback2, 450.0, 50.0, feedback1, tables);
    ASSERT_TRUE(tables.converged) << rate;
    worst = std::max(worst, tables.iterations);
  }
  EXPECT_LT(worst, 50);
}

TEST(ResonatorDesign, RefusesARateBelowOne) {
  double a = 0;
  double b = 0;
  double c = 0;
  EXPECT_THROW(DesignResonator(0, a, b, 450.0, 50.0, c), Error);
}

struct Filter {
  double peak_gain = 0;
  double feedback1 = 0;
  double feedback2 = 0;
  explicit Filter(int rate) { DesignResonator(rate, peak_gain, feedback2, 450.0, 50.0, feedback1); }
  std::vector<float> Run(std::vector<float> data) const {
    FilterHistory input{};
    FilterHistory output{};
    ResonatorFilter(input, output, data.data(), peak_gain, feedback2, feedback1,
                    static_cast<int>(data.size()));
    return data;
  }
};

double LargestOfTail(const std::vector<float>& data, std::size_t tail) {
  double largest = 0;
  for (std::size_t i = data.size() - tail; i < data.size(); ++i) {
    largest = std::max(largest, std::fabs(static_cast<double>(data[i])));
  }
  return largest;
}

TEST(ResonatorFilter, SuppressesConstantAndAlternatingInputs) {
  const Filter filter(4000);
  const std::vector<float> constant(4000, 9000.0f);
  EXPECT_LT(LargestOfTail(filter.Run(constant), 200), 0.01);
  std::vector<float> alternating(4000);
  for (std::size_t i = 0; i < alternating.size(); ++i) alternating[i] = i % 2 ? 2000.0f : 14000.0f;
  EXPECT_LT(LargestOfTail(filter.Run(alternating), 200), 0.01);
}

TEST(ResonatorFilter, PassesTheCentreFrequencyWithItsAmplitudeAndPhase) {
  for (int rate : {3360, 4000, 6720}) {
    const Filter filter(rate);
    const double step = 2.0 * kPi * 450.0 / rate;
    std::vector<float> tone(static_cast<std::size_t>(rate) * 2);
    for (std::size_t i = 0; i < tone.size(); ++i) {
      tone[i] = static_cast<float>(5000.0 * std::sin(step * static_cast<double>(i) + 0.4));
    }
    const std::vector<float> out = filter.Run(tone);
    for (std::size_t i = out.size() - 100; i < out.size(); ++i) {
      ASSERT_NEAR(out[i], tone[i], 0.5) << "rate " << rate << " sample " << i;
    }
  }
}

TEST(ResonatorFilter, ACountBelowOneChangesNothing) {
  const Filter filter(4000);
  FilterHistory input{1, 2, 3};
  FilterHistory output{4, 5, 6};
  float data[] = {7.0f};
  ResonatorFilter(input, output, data, filter.peak_gain, filter.feedback2, filter.feedback1, 0);
  EXPECT_EQ(input, (FilterHistory{1, 2, 3}));
  EXPECT_EQ(output, (FilterHistory{4, 5, 6}));
  EXPECT_EQ(data[0], 7.0f);
}

}  // namespace
}  // namespace tessaly
