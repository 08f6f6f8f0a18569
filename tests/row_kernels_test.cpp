// The vector row kernels against the per-pixel reference, bit for bit:
// every 8-bit pixel, every 16-bit value, and large random samples of the
// rest, for coefficient sets that exercise both the plain and the blended
// path, on every instruction set this processor has.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "plugin/parameters.h"
#include "render/row_kernels.h"
#include "render/transfer_tables.h"
#include "render/transform.h"

namespace {

struct Case {
  const char* name;
  TransformCoefficients k;
};

TransformCoefficients From(double red, double green, double blue, double recovery, double rolloff,
                           double redFine = 0) {
  FilterParameters p{};
  ResetParameters(p);
  p.redGain = red;
  p.greenGain = green;
  p.blueGain = blue;
  p.redGainFine = redFine;
  p.highlightRecovery = recovery;
  p.highlightRolloff = rolloff;
  TransformCoefficients k;
  PrepareTransform(p, k);
  return k;
}

std::vector<Case> Cases() {
  TransformCoefficients negative = From(2, 1, 1, 100, 100);
  negative.rolloffWidth = -3.0f;  // never produced by the filter; the kernels must still agree
  return {
      {"red gain 2", From(2, 1, 1, 100, 100)},
      {"warm cast", From(0.8, 1.0, 1.25, 100, 100, 0.3)},
      {"wide rolloff", From(1.3, 0.4, 2.2, 100, 10000)},
      {"no recovery", From(2, 1, 1, 0, 100)},
      {"extreme gains", From(1000, 0.004, 1, 37, 250)},
      {"identity", From(1, 1, 1, 100, 100)},
      {"gain beyond the byte range", From(1e7, 1, 1, 100, 100)},
      {"negative width", negative},
  };
}

class Isas : public ::testing::Test {
 protected:
  void SetUp() override {
    AllocateTransferTables(tables, nullptr);
    BuildSrgbToLinearTable(tables);
    BuildLinearToSrgbTable(tables);
  }
  void TearDown() override {
    ReleaseTransferTables(tables);
    UseKernelIsa(BestKernelIsa());
  }
  std::vector<KernelIsa> Available() const {
    std::vector<KernelIsa> out{KernelIsa::Sse2};
    if (KernelIsaAvailable(KernelIsa::Avx2)) out.push_back(KernelIsa::Avx2);
    return out;
  }
  TransferTables tables;
};

template <typename T>
size_t FirstMismatch(const std::vector<T>& a, const std::vector<T>& b) {
  for (size_t i = 0; i < a.size(); ++i)
    if (std::memcmp(&a[i], &b[i], sizeof(T)) != 0) return i;
  return a.size();
}

}  // namespace

TEST_F(Isas, EveryEightBitPixelInterleavedAndPlanar) {
  // Two sets over all 16.7 million pixels; the rest over a random million.
  const std::vector<Case> cases = Cases();
  for (size_t ci = 0; ci < cases.size(); ++ci) {
    const Case& c = cases[ci];
    const KernelPlan plan = MakeKernelPlan(c.k, &tables);
    const bool exhaustive = ci < 2;
    std::mt19937 random{uint32(ci)};
    for (int red = 0; red < 256; ++red) {
      if (!exhaustive && red % 16 != 0) continue;
      std::vector<uint8> row(3 * 65536);
      for (int i = 0; i < 65536; ++i) {
        row[3 * i] = uint8(exhaustive ? red : random());
        row[3 * i + 1] = uint8(i >> 8);
        row[3 * i + 2] = uint8(i);
      }
      std::vector<uint8> expected = row;
      reference::kTable.row8(plan, expected.data(), 65536);
      for (KernelIsa isa : Available()) {
        UseKernelIsa(isa);
        std::vector<uint8> got = row;
        TransformRow8(plan, got.data(), 65536);
        const size_t at = FirstMismatch(got, expected);
        ASSERT_EQ(at, got.size()) << c.name << ", isa " << int(isa) << ", sample " << at;
        // The same pixels as three planes.
        std::vector<uint8> planes(3 * 65536);
        for (int i = 0; i < 65536; ++i)
          for (int p = 0; p < 3; ++p) planes[p * 65536 + i] = row[3 * i + p];
        TransformPlanarRow8(plan, planes.data(), planes.data() + 65536, planes.data() + 131072, 65536);
        for (int i = 0; i < 65536; ++i)
          for (int p = 0; p < 3; ++p)
            ASSERT_EQ(planes[p * 65536 + i], expected[3 * i + p]) << c.name << " planar, pixel " << i;
      }
    }
  }
}

TEST_F(Isas, EverySixteenBitValueOnTheSinglePlanePath) {
  for (const Case& c : Cases()) {
    const KernelPlan plan = MakeKernelPlan(c.k, &tables);
    // The host's range 0..32768, and what a faulty host might hand beyond it.
    std::vector<uint16> row(65536);
    for (int v = 0; v < 65536; ++v) row[v] = uint16(v);
    std::vector<uint16> expected = row;
    reference::kTable.grey16(plan, expected.data(), 65536);
    std::vector<uint8> bytes(256);
    for (int v = 0; v < 256; ++v) bytes[v] = uint8(v);
    std::vector<uint8> expectedBytes = bytes;
    reference::kTable.grey8(plan, expectedBytes.data(), 256);
    for (KernelIsa isa : Available()) {
      UseKernelIsa(isa);
      std::vector<uint16> got = row;
      TransformGreyRow16(plan, got.data(), 65536);
      EXPECT_EQ(FirstMismatch(got, expected), got.size()) << c.name << ", isa " << int(isa);
      std::vector<uint8> gotBytes = bytes;
      TransformGreyRow8(plan, gotBytes.data(), 256);
      EXPECT_EQ(gotBytes, expectedBytes) << c.name;
    }
  }
}

TEST_F(Isas, RandomSixteenBitPixels) {
  for (const Case& c : Cases()) {
    const KernelPlan plan = MakeKernelPlan(c.k, &tables);
    std::mt19937 random(7);
    const int n = 400000;
    std::vector<uint16> row(3 * n);
    for (auto& v : row) v = uint16(random() % 3 == 0 ? random() % 65536 : random() % 32769);
    std::vector<uint16> expected = row;
    reference::kTable.row16(plan, expected.data(), n);
    for (KernelIsa isa : Available()) {
      UseKernelIsa(isa);
      std::vector<uint16> got = row;
      TransformRow16(plan, got.data(), n);
      EXPECT_EQ(FirstMismatch(got, expected), got.size()) << c.name << ", isa " << int(isa);
    }
  }
}

TEST_F(Isas, RandomFloatPixelsIncludingTheAwkwardOnes) {
  const float awkward[] = {std::numeric_limits<float>::quiet_NaN(),
                           -std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::denorm_min(),
                           -std::numeric_limits<float>::denorm_min(),
                           1e-39f, -0.0f, 0.0f, 1.0f, 1.0000001f, 0.9999999f, 2.5f, -0.5f, 0.0031308f};
  for (const Case& c : Cases()) {
    const KernelPlan plan = MakeKernelPlan(c.k, &tables);
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const int n = 200000;
    std::vector<float> row(3 * n);
    for (size_t i = 0; i < row.size(); ++i) {
      const uint32 pick = random() % 10;
      row[i] = pick == 0 ? awkward[random() % (sizeof awkward / sizeof awkward[0])]
               : pick == 1 ? unit(random) * 3.0f - 1.0f
                           : unit(random);
    }
    std::vector<float> expected = row;
    reference::kTable.rowFloat(plan, expected.data(), n);
    std::vector<float> grey(row.begin(), row.begin() + n);
    std::vector<float> expectedGrey = grey;
    reference::kTable.greyFloat(plan, expectedGrey.data(), n);
    for (KernelIsa isa : Available()) {
      UseKernelIsa(isa);
      std::vector<float> got = row;
      TransformRowFloat(plan, got.data(), n);
      EXPECT_EQ(FirstMismatch(got, expected), got.size()) << c.name << ", isa " << int(isa);
      std::vector<float> gotGrey = grey;
      TransformGreyRowFloat(plan, gotGrey.data(), n);
      EXPECT_EQ(FirstMismatch(gotGrey, expectedGrey), gotGrey.size()) << c.name << " grey";
    }
  }
}

TEST_F(Isas, ShortAndOddRowsAreWholeToo) {
  const KernelPlan plan = MakeKernelPlan(From(1.3, 0.4, 2.2, 100, 400), &tables);
  std::mt19937 random(3);
  for (int n = 1; n < 70; ++n) {
    std::vector<uint8> row(3 * n);
    for (auto& v : row) v = uint8(random());
    std::vector<uint8> expected = row;
    reference::kTable.row8(plan, expected.data(), n);
    for (KernelIsa isa : Available()) {
      UseKernelIsa(isa);
      std::vector<uint8> got = row;
      TransformRow8(plan, got.data(), n);
      ASSERT_EQ(got, expected) << "length " << n;
    }
  }
}

TEST_F(Isas, BrightPixelsAreTheOnlyOnesThatNeedTheBlend) {
  // The limits are tight: just below a channel's limit the blend weight is 1,
  // just above it (with the other channels bright too) it is not.
  const TransformCoefficients k = From(2, 1, 1, 100, 100);
  const KernelPlan plan = MakeKernelPlan(k, &tables);
  ASSERT_FALSE(plan.allFast);
  ASSERT_FALSE(plan.allSlow);
  for (int c = 0; c < 3; ++c) {
    const int32 limit = plan.limit8[c];
    ASSERT_GE(limit, 0);
    ASSERT_LT(limit, 255);
    const float multiplier = c == 0 ? k.redMultiplier : c == 1 ? k.greenMultiplier : k.blueMultiplier;
    EXPECT_GE(255.0f - float(limit) * multiplier, k.rolloffWidth);
    EXPECT_LT(255.0f - float(limit + 1) * multiplier, k.rolloffWidth);
  }
  EXPECT_TRUE(MakeKernelPlan(From(1, 1, 1, 100, 100), &tables).allFast);
}
