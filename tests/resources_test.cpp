// The resources a host reads before it ever runs the filter, checked byte for
// byte in both Windows modules: a wrong byte here moves the filter to another
// menu, disables it, or breaks recorded actions.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "host/pe_resources.h"
#include "host/plugin_info.h"
#include "resources/plugin_resources.h"
#include "tests/test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    if (text[i] == ' ') {
      --i;
      continue;
    }
    out.push_back(uint8_t(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

struct Property {
  const char* key;
  const char* data;  // hex, before padding
};

// The property list, in order, as hosts expect it.
const Property kExpectedProperties[] = {
    {"kind", "4d464238"},                                        // '8BFM', little-endian
    {"name", "13 4b657374 72656c6c 65207631 2e302e37 2e2e2e"},    // "Kestrelle v1.0.7..."
    {"catg", "09 56657264 616c696e 65"},                          // "Verdaline"
    {"vers", "00000400"},                                        // 4.0
    {"CODE", "506c7567696e4d61696e00"},                          // "PluginMain"
    {"mode", "10000000"},                                        // RGB only
    {"hstm",
     "00000000 3163646d 3163646d 803e"                            // 'mdc1' 'mdc1' 16000
     "37616331 62303233 2d363365 382d3436 31622d61 3766642d 39356561 37383663 65336334 00"},
    {"enbl",
     "696e2028 5053484f 505f496d 6167654d 6f64652c 2052 47424d6f 64652c52 4742 34384d6f 64652920"
     "7c7c5053 484f505f 496d6167 65446570 7468203d 3d203136 207c7c50 53484f50 5f496d61 67654465"
     "70746820 3d3d2033 3200"},
    {"ms32", "80841e00 80841e00"},                               // 2000000 rows, 2000000 columns
    {"flly", "80000000"},
    // Seven filter cases: white matte in and out, works with blank data and
    // filters layer masks; never "writes outside the selection".
    {"fici", "04040600 04040600 04040600 04040600 04040600 04040600 04040600"},
};

std::vector<uint8_t> ExpectedPiPL(const char* codeKey) {
  std::vector<uint8_t> out = Hex("0100 00000000 0b000000");
  for (const Property& p : kExpectedProperties) {
    std::vector<uint8_t> data = Hex(p.data);
    while (data.size() % 4) data.push_back(0);
    const std::string key = std::string(p.key) == "CODE" ? codeKey : p.key;
    for (uint8_t b : Hex("4d494238")) out.push_back(b);  // '8BIM'
    for (int i = 3; i >= 0; --i) out.push_back(uint8_t(key[size_t(i)]));
    for (int i = 0; i < 4; ++i) out.push_back(0);
    const uint32_t length = uint32_t(data.size());
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(length >> (8 * i)));
    out.insert(out.end(), data.begin(), data.end());
  }
  return out;
}

std::vector<uint8_t> ExpectedTerminology() {
  auto pstring = [](const std::string& s) {
    std::vector<uint8_t> v(1 + s.size());
    v[0] = uint8_t(s.size());
    for (size_t i = 0; i < s.size(); ++i) v[1 + i] = uint8_t(s[i]);
    return v;
  };
  auto code = [](const char* c) {
    return std::vector<uint8_t>{uint8_t(c[3]), uint8_t(c[2]), uint8_t(c[1]), uint8_t(c[0])};
  };
  std::vector<uint8_t> out = Hex("0100 0100 0000 0000 0100");
  auto add = [&](const std::vector<uint8_t>& v) { out.insert(out.end(), v.begin(), v.end()); };
  add(pstring("Verdaline"));
  add(pstring("Color plug-in"));
  add(code("mdc1"));
  add(Hex("0100 0100 0100"));
  add(pstring("Kestrelle v1.0.7"));
  add(pstring("Color plug-in"));
  add(code("mdc1"));
  add(code("mdc1"));
  add(code("null"));
  add(Hex("00 0000"));
  add(code("#ImR"));
  add(Hex("00 00b0"));
  add(Hex("0e00"));
  const char* const params[][4] = {
      {"R Gain", "brgH", "doub", "R Gain"},
      {"R Gain (fine)", "conT", "doub", "R Gain (fine)"},
      {"G Gain", "bAdj", "doub", "G Gain"},
      {"G Gain (fine)", "satU", "doub", "G Gain (fine)"},
      {"B Gain", "lumC", "doub", "B Gain"},
      {"B Gain (fine)", "Rcoe", "doub", "B Gain (fine)"},
      {"Rolloff", "Gcoe", "doub", "Highlight desaturation rolloff"},
      {"Highlight Recovery", "Bcoe", "doub", "Highlight Recovery"},
      {"Proxy zoom level", "Zoom", "long", "Proxy zoom level"},
      {"Proxy offset H", "Zmoh", "long", "Offset of proxy horizontally"},
      {"Proxy offset V", "Zmov", "long", "Offset of proxy vertically"},
      {"Focal point H", "Zmfh", "long", "Proxy focal point H"},
      {"Focal point V", "Zmfv", "long", "Proxy focal point V"},
      {"ignore selection", "ignS", "bool", "filter entire image"},
  };
  for (const auto& p : params) {
    add(pstring(p[0]));
    add(code(p[1]));
    add(code(p[2]));
    add(pstring(p[3]));
    add(Hex("0000"));
  }
  add(Hex("0000 0000 0000"));
  return out;
}

std::string WindowsModule(const char* preset, const char* name) {
  return std::string(KESTRELLE_SOURCE_DIR) + "/build/" + preset + "/" + name;
}

void CheckModule(const std::string& path, const char* codeKey, uint16_t machine) {
  host::PeModule module;
  std::string error;
  if (!host::ReadPeModule(path, module, &error)) {
    if (std::getenv("KESTRELLE_REQUIRE_WINDOWS_MODULES")) FAIL() << error;
    GTEST_SKIP() << path << " is not built (" << error << ")";
  }
  EXPECT_EQ(module.machine, machine);
  std::vector<uint8_t> pipl, aete;
  ASSERT_TRUE(host::FindPeResource(module, "PIPL", 16000, pipl, &error)) << error;
  ASSERT_TRUE(host::FindPeResource(module, "AETE", 16000, aete, &error)) << error;
  EXPECT_EQ(pipl, ExpectedPiPL(codeKey));
  EXPECT_EQ(aete, ExpectedTerminology());
}

}  // namespace

TEST(Resources, TheBuildersWriteTheExpectedBytes) {
  EXPECT_EQ(BuildPiPL(Architecture::X64), ExpectedPiPL("8664"));
  EXPECT_EQ(BuildPiPL(Architecture::X86), ExpectedPiPL("wx86"));
  EXPECT_EQ(BuildTerminology(), ExpectedTerminology());
}

TEST(Resources, The64BitModuleCarriesThemUnderId16000) {
  CheckModule(WindowsModule("mingw-x64", "Kestrelle x64.8bf"), "8664", 0x8664);
}

TEST(Resources, The32BitModuleCarriesThemUnderId16000) {
  CheckModule(WindowsModule("mingw-x86", "Kestrelle.8bf"), "wx86", 0x14c);
}

TEST(Resources, InfoDescribesTheFilterReadably) {
  std::vector<host::PipelineProperty> properties;
  std::string error;
  ASSERT_TRUE(host::ParsePiPL(BuildPiPL(Architecture::X64), properties, &error)) << error;
  ASSERT_EQ(properties.size(), 11u);
  const std::string text = host::DescribePiPL(properties);
  EXPECT_NE(text.find("menu title:       Kestrelle v1.0.7..."), std::string::npos) << text;
  EXPECT_NE(text.find("entry point:      PluginMain (x64)"), std::string::npos);
  EXPECT_NE(text.find("image modes:      RGB\n"), std::string::npos);
  EXPECT_NE(text.find("2000000 x 2000000"), std::string::npos);
  EXPECT_EQ(text.find("writes outside the selection"), std::string::npos);
  const std::string terms = host::DescribeTerminology(BuildTerminology());
  EXPECT_NE(terms.find("Gcoe  doub  Rolloff (Highlight desaturation rolloff)"), std::string::npos) << terms;
  EXPECT_NE(terms.find("ignS  bool  ignore selection (filter entire image)"), std::string::npos);
}

TEST(Resources, DamagedModulesAreRejectedWithAReason) {
  const std::string path = ExecutableDirectory() + "damaged.8bf";
  const std::string contents[] = {"", "MZ", std::string("MZ") + std::string(100, '\xff'),
                                  std::string(4096, 'M')};
  for (const std::string& c : contents) {
    {
      std::ofstream out(path, std::ios::binary);
      out << c;
    }
    host::PeModule module;
    std::string error;
    EXPECT_FALSE(host::ReadPeModule(path, module, &error));
    EXPECT_FALSE(error.empty());
  }
  std::vector<host::PipelineProperty> properties;
  std::string error;
  std::vector<uint8_t> cut = BuildPiPL(Architecture::X86);
  cut.resize(cut.size() - 9);
  EXPECT_FALSE(host::ParsePiPL(cut, properties, &error));
  EXPECT_NE(error.find("property 11"), std::string::npos);
  std::remove(path.c_str());
}

#ifdef _WIN32
TEST(Resources, WindowsFindsTheSameBytesInTheLoadedModule) {
  HMODULE module = LoadLibraryA(BuiltModulePath().c_str());
  ASSERT_NE(module, nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(16000), "PIPL");
  ASSERT_NE(found, nullptr);
  const uint8_t* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  std::vector<uint8_t> pipl(bytes, bytes + SizeofResource(module, found));
  EXPECT_EQ(pipl, ExpectedPiPL(sizeof(void*) == 8 ? "8664" : "wx86"));
  EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(16000), "AETE"), nullptr);
  EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(2), MAKEINTRESOURCEA(24)), nullptr);
  FreeLibrary(module);
}
#endif
