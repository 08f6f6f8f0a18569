// The layout keeps its architecture: every folder is a floor, and a file
// includes only from its own floor and the ones below it. The filter and the
// host side meet only in hostapi/ (and the OS layer and safe files under
// both): the host
// talks to a module through PluginMain, never through the filter's insides.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#ifndef _WIN32
namespace {

enum class Side { Both, Filter, Host };

struct Floor {
  int level;
  Side side;
};

// Ground floor first. Folders at one level may include each other.
const std::map<std::string, Floor> kFloors = {
    {"hostapi", {0, Side::Both}},   {"platform", {1, Side::Both}},  {"files", {1, Side::Both}},
    {"plugin", {2, Side::Filter}},  {"render", {2, Side::Filter}},  {"settings", {2, Side::Filter}},
    {"dialog", {2, Side::Filter}},  {"imageio", {2, Side::Host}},   {"module", {3, Side::Filter}},
    {"resources", {3, Side::Filter}}, {"host", {3, Side::Host}},    {"cli", {4, Side::Host}},
};

std::string FirstFolder(const std::string& path) { return path.substr(0, path.find('/')); }

}  // namespace
#endif

TEST(Floors, NoIncludeRunsUpwardOrAcrossToTheOtherSide) {
#ifdef _WIN32
  GTEST_SKIP() << "the sources are checked by the native build";
#else
  namespace fs = std::filesystem;
  const fs::path root = KESTRELLE_SOURCE_DIR;
  const std::regex include("^\\s*#\\s*include\\s+\"([^\"]+)\"");
  int files = 0;
  for (const auto& [folder, floor] : kFloors) {
    if (!fs::exists(root / folder)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".h" && ext != ".cpp") continue;
      ++files;
      const std::string name = fs::relative(entry.path(), root).generic_string();
      std::ifstream in(entry.path());
      std::string line;
      while (std::getline(in, line)) {
        std::smatch m;
        if (!std::regex_search(line, m, include)) continue;
        const std::string target = m[1];
        const auto to = kFloors.find(FirstFolder(target));
        // Every project include is written from the root, with its folder.
        EXPECT_NE(to, kFloors.end()) << name << " includes \"" << target << "\" not written from the root";
        if (to == kFloors.end()) continue;
        EXPECT_LE(to->second.level, floor.level) << name << " reaches up to " << target;
        const bool across = (floor.side == Side::Filter && to->second.side == Side::Host) ||
                            (floor.side == Side::Host && to->second.side == Side::Filter);
        EXPECT_FALSE(across) << name << " reaches across to " << target;
      }
    }
  }
  EXPECT_GT(files, 100);
#endif
}
