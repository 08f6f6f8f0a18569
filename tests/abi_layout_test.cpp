// Our interface header against the published layout table: a field declared
// in the wrong order or with the wrong type moves every field after it, and a
// real host then reads garbage. The build's static_asserts pin the same
// numbers; this test reads the table itself, so the two cannot drift apart.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/abi_layout_table.h"

namespace {

// Just enough JSON for three levels of objects around numbers:
// {"x64": {"record": {"field": offset}}, "sizes": {"x64": {"record": size}}}.
struct Parser {
  const std::string& s;
  size_t i = 0;
  void Skip() {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  }
  bool Eat(char c) {
    Skip();
    if (i < s.size() && s[i] == c) return ++i, true;
    return false;
  }
  std::string String() {
    Skip();
    std::string out;
    if (i >= s.size() || s[i] != '"') return out;
    for (++i; i < s.size() && s[i] != '"'; ++i) out += s[i];
    ++i;
    return out;
  }
  long Number() {
    Skip();
    size_t end = i;
    if (end >= s.size()) return 0;
    while (end < s.size() && (std::isdigit(static_cast<unsigned char>(s[end])) || s[end] == '-')) ++end;
    long v = std::stol(s.substr(i, end - i));
    i = end;
    return v;
  }
};

typedef std::map<std::string, std::map<std::string, std::map<std::string, long>>> Layout;

Layout ReadLayout(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  Parser p{s};
  Layout layout;
  p.Eat('{');
  while (p.i < s.size() && !p.Eat('}')) {
    std::string arch = p.String();
    p.Eat(':');
    p.Eat('{');
    while (p.i < s.size() && !p.Eat('}')) {
      std::string group = p.String();
      p.Eat(':');
      p.Eat('{');
      while (p.i < s.size() && !p.Eat('}')) {
        std::string key = p.String();
        p.Eat(':');
        layout[arch][group][key] = p.Number();
        p.Eat(',');
      }
      p.Eat(',');
    }
    p.Eat(',');
  }
  return layout;
}

const char* Arch() { return sizeof(void*) == 8 ? "x64" : "x86"; }

}  // namespace

TEST(AbiLayout, EveryFieldSitsWhereThePublishedTableSays) {
  Layout layout = ReadLayout(KESTRELLE_ABI_JSON);
  ASSERT_FALSE(layout.empty()) << "cannot read " << KESTRELLE_ABI_JSON;
  size_t published = 0;
  for (const auto& [key, fields] : layout[Arch()]) {
    (void)key;
    published += fields.size();
  }
  size_t checked = 0;
  for (const FieldOffset& f : kFieldOffsets) {
    auto& fields = layout[Arch()][f.record];
    auto it = fields.find(f.field);
    ASSERT_NE(it, fields.end()) << f.record << "." << f.field << " is not in the table";
    EXPECT_EQ(long(f.offset), it->second) << f.record << "." << f.field;
    ++checked;
  }
  EXPECT_EQ(checked, published) << "the header and the table list different fields";
}

TEST(AbiLayout, EveryRecordHasThePublishedSize) {
  Layout layout = ReadLayout(KESTRELLE_ABI_JSON);
  auto& sizes = layout["sizes"][Arch()];
  ASSERT_FALSE(sizes.empty());
  for (const RecordSize& r : kRecordSizes) {
    ASSERT_TRUE(sizes.count(r.record)) << r.record;
    EXPECT_EQ(long(r.size), sizes[r.record]) << r.record;
  }
  EXPECT_EQ(sizes.size(), sizeof kRecordSizes / sizeof kRecordSizes[0]);
}

TEST(AbiLayout, FourCharCodesPutTheFirstCharacterHighest) {
  EXPECT_EQ(FourCharCode("8BIM"), 0x3842494Du);
  EXPECT_EQ(FourCharCode("8BFM"), 0x3842464Du);
  EXPECT_EQ(typeFloat, 0x646F7562u);
}
