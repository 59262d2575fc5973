#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "corva_funciones.h"

namespace corva {
namespace {

// Neville's scheme: an independent way to evaluate the interpolating polynomial.
double Neville(const std::vector<double>& xs, const std::vector<double>& ys, double x) {
  std::vector<double> p = ys;
  const std::size_t n = xs.size();
  for (std::size_t level = 1; level < n; ++level) {
    for (std::size_t i = 0; i + level < n; ++i) {
      p[i] = ((x - xs[i + level]) * p[i] + (xs[i] - x) * p[i + 1]) / (xs[i] - xs[i + level]);
    }
  }
  return p[0];
}
const std::vector<double> kRootX{75, 83, 87, 98, 103, 118, 145};
const std::vector<double> kRootY{96, 102, 105, 113, 116, 124, 140};
const std::vector<double> kByteX{144, 154, 184, 195, 215, 228, 249};
const std::vector<double> kByteY{95.1, 98.3, 112.6, 116.5, 126, 131, 140.3};

TEST(BatteryPercentFromByte, DividesBy50OnBatteryAnd75OnLinePower) {
  EXPECT_EQ(BatteryPercentFromByte(190, true), 100.0);
  EXPECT_EQ(BatteryPercentFromByte(190, false), static_cast<double>(5000.0f / 75.0f));
  EXPECT_EQ(FormatNumber(BatteryPercentFromByte(190, false), "##0.#0", "."), "66.67");
  EXPECT_EQ(BatteryPercentFromByte(215, false), 100.0);
  EXPECT_EQ(BatteryPercentFromByte(255, true), 100.0);
  EXPECT_EQ(BatteryPercentFromByte(140, true), 0.0);
  EXPECT_EQ(BatteryPercentFromByte(140, false), 0.0);
  EXPECT_EQ(FormatNumber(BatteryPercentFromByte(100, false), "##0.#0", "."), "-53.33");
  EXPECT_EQ(BatteryPercentFromByte(100, true), -80.0);
  EXPECT_EQ(BatteryPercentFromByte(0, true), -280.0);
  // The quotient is single precision: 1/75 of 100 is not the double 1.3333...
  EXPECT_EQ(BatteryPercentFromByte(141, false), static_cast<double>(100.0f / 75.0f));
  EXPECT_NE(BatteryPercentFromByte(141, false), 100.0 / 75.0);
}

TEST(LineAndModeTexts, KnownCharactersAndTheRest) {
  EXPECT_EQ(LineClassFromByte('0'), "Normal");
  EXPECT_EQ(LineClassFromByte('1'), "Baja");
  EXPECT_EQ(LineClassFromByte('2'), "Alta");
  EXPECT_EQ(LineClassFromByte('3'), "Sobrecarga");
  EXPECT_EQ(LineClassFromByte('7'), "Normal");
  EXPECT_EQ(LineClassFromByte(3), "Normal");
  EXPECT_EQ(ModeTextFromByte('0'), "Normal");
  EXPECT_EQ(ModeTextFromByte('1'), "Bateria");
  EXPECT_EQ(ModeTextFromByte('2'), "Apagando");
  EXPECT_EQ(ModeTextFromByte('3'), "N/A");
  EXPECT_EQ(ModeTextFromByte(0), "N/A");
}

TEST(VoltageFromRoot, TableOnTheSerialLinkAndAnOffsetOnUsb) {
  for (std::size_t i = 0; i < kRootX.size(); ++i) {
    EXPECT_EQ(VoltageFromRoot(kRootX[i], false), kRootY[i]);
  }
  EXPECT_NEAR(VoltageFromRoot(120, false), Neville(kRootX, kRootY, 120), 1e-9);
  EXPECT_NEAR(VoltageFromRoot(90.5, false), Neville(kRootX, kRootY, 90.5), 1e-9);
  EXPECT_DOUBLE_EQ(VoltageFromRoot(std::sqrt(14400.0), true), 121.2);
  EXPECT_DOUBLE_EQ(VoltageFromRoot(75, true), 76.2);
}

TEST(VoltageFromRoot, FallsBackWhereThePolynomialIsNoVoltage) {
  // Roots of 16-bit readings reach 181; far from the table the polynomial goes negative.
  int checked = 0;
  for (double root = 0.5; root <= 182; root += 0.5) {
    const double poly = Neville(kRootX, kRootY, root);
    if (poly > 280 || poly < 0) {
      EXPECT_DOUBLE_EQ(VoltageFromRoot(root, false), root + 1.2) << root;
      ++checked;
    } else if (root != 75 && root != 83 && root != 87 && root != 98 && root != 103 &&
               root != 118 && root != 145) {
      EXPECT_NEAR(VoltageFromRoot(root, false), poly, 1e-6 * std::max(1.0, std::fabs(poly)));
    }
  }
  EXPECT_GT(checked, 0);
}

TEST(VoltageFromByte, CalibratedFrom101AndZeroUpTo100) {
  for (std::size_t i = 0; i < kByteX.size(); ++i) {
    EXPECT_EQ(VoltageFromByte(static_cast<std::uint8_t>(kByteX[i])), kByteY[i]);
  }
  EXPECT_EQ(VoltageFromByte(215), 126.0);
  EXPECT_NEAR(VoltageFromByte(101), Neville(kByteX, kByteY, 101), 1e-9);
  EXPECT_NEAR(VoltageFromByte(255), Neville(kByteX, kByteY, 255), 1e-9);
  EXPECT_NEAR(VoltageFromByte(170), Neville(kByteX, kByteY, 170), 1e-9);
  for (int b = 0; b <= 100; ++b) EXPECT_EQ(VoltageFromByte(static_cast<std::uint8_t>(b)), 0.0) << b;
}

TEST(VoltageFromReading, RootFirstThenByte) {
  EXPECT_EQ(VoltageFromReading(75, 215, false), 96.0);
  EXPECT_EQ(VoltageFromReading(0, 215, false), 126.0);
  EXPECT_EQ(VoltageFromReading(0, 0, false), 0.0);
  EXPECT_EQ(VoltageFromReading(-1, 0, true), 0.0);
}

TEST(Readings, TimesTwoHundredFiftyFiveIn16Bits) {
  EXPECT_EQ(ReadingFromBytes(60, 0), 15300);
  EXPECT_EQ(ReadingFromBytes(65, 92), 16667);
  EXPECT_EQ(ReadingFromBytes(128, 127), 32767);
  EXPECT_FALSE(ReadingFromBytes(128, 128));  // the sum overflows
  EXPECT_FALSE(ReadingFromBytes(129, 0));    // the product overflows
  EXPECT_FALSE(ReadingFromBytes(255, 255));
  EXPECT_EQ(ReadingFromBytes(0, 0), 0);
}

TEST(FrequencyFromPeriod, MicrosecondsToHertz) {
  const auto hz = FrequencyFromPeriod(16667);
  ASSERT_TRUE(hz);
  EXPECT_NEAR(*hz, 59.9988, 1e-4);
  EXPECT_EQ(FormatNumber(*hz, "#0.0", "."), "60.0");
  EXPECT_FALSE(FrequencyFromPeriod(0));
  EXPECT_EQ(FrequencyFromPeriod(20000), 50.0);
}

TEST(FormatNumber, PatternsAndSeparator) {
  EXPECT_EQ(FormatNumber(100, "##0", "."), "100");
  EXPECT_EQ(FormatNumber(0, "##0", "."), "0");
  EXPECT_EQ(FormatNumber(66.5, "##0", "."), "67");   // halves away from zero
  EXPECT_EQ(FormatNumber(67.5, "##0", "."), "68");
  EXPECT_EQ(FormatNumber(-2.5, "##0", "."), "-3");
  EXPECT_EQ(FormatNumber(0.25, "##0.0", ","), "0,3");
  EXPECT_EQ(FormatNumber(121.2, "##0.0", "."), "121.2");
  EXPECT_EQ(FormatNumber(9.96, "#0.0", "."), "10.0");
  EXPECT_EQ(FormatNumber(99.999, "##0.#0", "."), "100.00");
  EXPECT_EQ(FormatNumber(66.5, "##0.#0", ","), "66,50");
  EXPECT_EQ(FormatNumber(0.125, "##0.#0", "."), "0.13");  // 0.125 is exact in binary
  EXPECT_EQ(FormatNumber(2.675, "##0.#0", "."), "2.67");  // 2.675 is a hair below in binary
  EXPECT_EQ(FormatNumber(-0.001, "##0.#0", "."), "0.00");
  EXPECT_EQ(FormatNumber(1234.5, "##0.0", "."), "1234.5");
}

TEST(RoundHalfEven16, HalvesToEvenWithinRange) {
  EXPECT_EQ(RoundHalfEven16(2.5), 2);
  EXPECT_EQ(RoundHalfEven16(3.5), 4);
  EXPECT_EQ(RoundHalfEven16(-80.0), -80);
  EXPECT_EQ(RoundHalfEven16(66.666664), 67);
  EXPECT_FALSE(RoundHalfEven16(40000));
  EXPECT_FALSE(RoundHalfEven16(NAN));
}

}  // namespace
}  // namespace corva
