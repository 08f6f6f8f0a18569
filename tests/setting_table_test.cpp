#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cli/apply_options.h"
#include "hostapi/setting_table.h"

// A row added or edited carelessly would give two settings one control,
// key or option (the dialog, an action or the command line would then set
// the wrong one), or a default that Reset cannot show.
TEST(SettingTable, EachSettingHasItsOwnControlsKeyAndOptionAndADefaultItsControlsShow) {
  std::set<std::string> labels, options;
  std::set<DescriptorKeyID> keys;
  std::set<int> controls;
  for (const SettingRow& s : kSettings) {
    SCOPED_TRACE(s.label);
    EXPECT_TRUE(labels.insert(s.label).second);
    EXPECT_TRUE(options.insert(s.option).second);
    EXPECT_TRUE(keys.insert(s.key).second);
    for (int id : {s.labelId, s.trackbarId, s.editId}) EXPECT_TRUE(controls.insert(id).second) << id;
    EXPECT_GE(s.defaultValue, s.low);
    EXPECT_LE(s.defaultValue, s.high);
    EXPECT_LT(s.sliderMinimum, s.sliderMaximum);
    EXPECT_GE(s.defaultValue * s.sliderScale, s.sliderMinimum);
    EXPECT_LE(s.defaultValue * s.sliderScale, s.sliderMaximum);
  }
}

// The help is written by hand; every setting must be in it.
TEST(SettingTable, TheCommandsHelpNamesEveryOptionWithItsLabel) {
  const std::string help = cli::ApplyHelp();
  for (const SettingRow& s : kSettings) {
    const std::string line = "  " + std::string(s.option) + " X ";
    const size_t at = help.find(line);
    ASSERT_NE(at, std::string::npos) << s.option;
    EXPECT_NE(help.substr(at, help.find('\n', at) - at).find(s.label), std::string::npos) << s.option;
  }
}
