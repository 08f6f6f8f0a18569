// Hosts without a descriptor registry: the last-used settings go to the
// user's own file. Written whole or not at all, read whole or not at all,
// and a damaged file is the same as none.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "host/host.h"
#include "plugin/last_used_store.h"
#include "plugin/last_used_file.h"
#include "plugin/parameters.h"
#include "tests/render_support.h"
#include "tests/image_test_support.h"
#include "tests/test_support.h"

namespace {

FilterParameters Custom() {
  FilterParameters p{};
  ResetParameters(p);
  p.redGain = 1.2345678901234567;
  p.blueGainFine = -0.015625;
  p.highlightRecovery = 42;
  p.ignoreSelection = true;
  return p;
}

ProxyViewState CustomView() {
  ProxyViewState v;
  v.zoomLevel = 3;
  v.focalPointH = -2147483647 - 1;
  v.dialogWidth = 777;
  v.savedFlag = 0xAB;
  return v;
}

void ExpectSame(const FilterParameters& a, const ProxyViewState& av, const FilterParameters& b,
                const ProxyViewState& bv) {
  for (int i = 0; i < kParameterCount; ++i) EXPECT_EQ(ParameterAt(a, i), ParameterAt(b, i)) << i;
  EXPECT_EQ(a.ignoreSelection, b.ignoreSelection);
  EXPECT_EQ(av.zoomLevel, bv.zoomLevel);
  EXPECT_EQ(av.focalPointH, bv.focalPointH);
  EXPECT_EQ(av.dialogWidth, bv.dialogWidth);
  EXPECT_EQ(av.savedFlag, bv.savedFlag);
}

}  // namespace

TEST(LastUsedFile, KeepsEverySettingExactlyWhereTheHostHasNoRegistry) {
  host::HostOptions options;
  options.offerBasicSuite = false;
  host::Host h(host::MakeDocument(4, 4, 3, 8), options);
  EXPECT_EQ(WriteLastUsedParameters(h.record(), Custom(), CustomView()), noErr);
  // Under the folder the environment names, created when missing.
  const std::string path = LastUsedFilePath();
  EXPECT_EQ(path.rfind(UserConfigDirectory(), 0), 0u) << path;
  EXPECT_TRUE(std::filesystem::is_regular_file(path));

  FilterParameters p{};
  ResetParameters(p);
  ProxyViewState v;
  EXPECT_EQ(ReadLastUsedParameters(h.record(), p, v), noErr);
  ExpectSame(p, v, Custom(), CustomView());
}

TEST(LastUsedFile, HostsWithARegistryNeverTouchIt) {
  host::Host h(host::MakeDocument(4, 4, 3, 8));
  EXPECT_EQ(WriteLastUsedParameters(h.record(), Custom(), CustomView()), noErr);
  EXPECT_FALSE(std::filesystem::exists(LastUsedFilePath()));
  // A file left by a registry-less host does not leak into a host with one.
  ASSERT_EQ(WriteLastUsedFile(Custom(), CustomView()), noErr);
  host::Host g(host::MakeDocument(4, 4, 3, 8));
  FilterParameters p{};
  ResetParameters(p);
  ProxyViewState v;
  ReadLastUsedParameters(g.record(), p, v);
  EXPECT_EQ(p.redGain, 1.0);
}

TEST(LastUsedFile, ADamagedFileChangesNothing) {
  const std::vector<uint8> good = EncodeLastUsedFile(Custom(), CustomView());
  std::vector<std::vector<uint8>> damaged;
  damaged.push_back({});
  damaged.push_back(std::vector<uint8>(good.begin(), good.end() - 1));      // truncated
  damaged.push_back(good), damaged.back().push_back(0);                     // one byte more
  for (size_t at : {size_t(0), size_t(9), size_t(20), good.size() - 1}) {  // a flipped bit anywhere
    damaged.push_back(good);
    damaged.back()[at] ^= 0x10;
  }
  // A NaN gain, with a valid checksum: still refused.
  FilterParameters nan = Custom();
  nan.greenGain = std::numeric_limits<double>::quiet_NaN();
  damaged.push_back(EncodeLastUsedFile(nan, CustomView()));

  for (size_t i = 0; i < damaged.size(); ++i) {
    FilterParameters p{};
    ResetParameters(p);
    ProxyViewState v;
    EXPECT_FALSE(DecodeLastUsedFile(damaged[i], p, v)) << i;
    EXPECT_EQ(p.redGain, 1.0) << i;
    EXPECT_EQ(v.zoomLevel, ProxyViewState().zoomLevel) << i;
  }

  // The same through the store: no message, nothing changed, and the next
  // write replaces the damaged file with a good one.
  std::filesystem::create_directories(std::filesystem::path(LastUsedFilePath()).parent_path());
  std::ofstream(LastUsedFilePath(), std::ios::binary) << "not a settings file";
  MessageCapture messages;
  FilterParameters p{};
  ResetParameters(p);
  ProxyViewState v;
  EXPECT_NE(ReadLastUsedFile(p, v), noErr);
  EXPECT_EQ(p.redGain, 1.0);
  EXPECT_EQ(WriteLastUsedFile(Custom(), CustomView()), noErr);
  EXPECT_TRUE(FileBytes(LastUsedFilePath()) == good);
  EXPECT_TRUE(messages.messages().empty());
}

// The fuzzer's seeds must stay files the reader takes, or it would only ever
// fuzz the refusals.
TEST(LastUsedFile, TheFuzzSeedsHoldGoodFiles) {
  int good = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(KESTRELLE_SOURCE_DIR) + "/fuzz/corpus/last_used_file")) {
    FilterParameters p{};
    ResetParameters(p);
    ProxyViewState v;
    if (DecodeLastUsedFile(FileBytes(entry.path().string()), p, v)) ++good;
  }
  EXPECT_GE(good, 3);
}

// The run counter travels with the settings; a file from before it existed
// is still read, as the oldest run.
TEST(LastUsedFile, KeepsTheRunCounterAndReadsFilesFromBeforeIt) {
  FilterParameters written = Custom();
  written.generation = 4000000000u;
  FilterParameters p{};
  ResetParameters(p);
  ProxyViewState v;
  ASSERT_TRUE(DecodeLastUsedFile(EncodeLastUsedFile(written, CustomView()), p, v));
  EXPECT_EQ(p.generation, 4000000000u);

  int older = 0, current = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(KESTRELLE_SOURCE_DIR) + "/fuzz/corpus/last_used_file")) {
    const std::vector<uint8> bytes = FileBytes(entry.path().string());
    FilterParameters q{};
    ResetParameters(q);
    q.generation = 99;
    if (!DecodeLastUsedFile(bytes, q, v)) continue;
    if (std::string(bytes.begin(), bytes.begin() + 8) == "KSLU0001") {
      ++older;
      EXPECT_EQ(q.generation, 0u);
    } else {
      ++current;
      EXPECT_TRUE(EncodeLastUsedFile(q, v) == bytes);
    }
  }
  EXPECT_GE(older, 1);
  EXPECT_GE(current, 1);
}
