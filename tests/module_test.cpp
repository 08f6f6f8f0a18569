// The module as a host sees it: loaded from disk, entered only through
// PluginMain, every host resource given back after every call.
#include <gtest/gtest.h>

#include "host/filter_run.h"
#include "host/host.h"
#include "host/message_log.h"
#include "host/plugin_module.h"
#include "tests/render_support.h"
#include "tests/test_support.h"

namespace {

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(module.Load(BuiltModulePath(), &error)) << error;
    // On Windows the About box is a real message box, and Start opens the
    // real dialog: answer both.
    log.Attach(module, false, true);
  }
  void TearDown() override { log.Detach(); }
  host::PluginModule module;
  host::MessageLog log;
};

}  // namespace

TEST_F(ModuleTest, ExportsPluginMainUndecorated) { EXPECT_NE(module.entry(), nullptr); }

TEST_F(ModuleTest, EveryCallGivesBackTheTablesItBuilt) {
  host::Host h(host::MakeDocument(16, 16, 3, 8));
  for (int16 selector = filterSelectorParameters; selector <= 7; ++selector) {
    h.Call(module.entry(), selector);
    EXPECT_TRUE(IsBalanced(h)) << "selector " << selector;
  }
  EXPECT_GE(h.buffers().Allocated(), 2 * 7);  // the tables, and whatever the dialog used
  EXPECT_EQ(h.record().bigDocumentData->PluginUsing32BitCoordinates, 1);
}

TEST_F(ModuleTest, AboutTouchesNoHostResource) {
  host::Host h(host::MakeDocument(16, 16, 3, 8));
  h.Call(module.entry(), filterSelectorAbout);
  EXPECT_EQ(h.buffers().Allocated(), 0);
  EXPECT_EQ(h.record().bigDocumentData->PluginUsing32BitCoordinates, 0);
}

// A record whose bigDocumentData is not the host's (hosts that predate the
// field leave whatever their memory held there): the filter neither reads
// 32-bit rectangles from it nor writes into it, and filters by the 16-bit
// rectangles.
TEST_F(ModuleTest, ARecordTailThatIsNotTheHostsIsNeverUsed) {
  host::Host h(host::MakeDocument(40, 30, 3, 8));
  std::vector<uint8> garbage(sizeof(BigDocumentStruct) + 16, 0x5A);
  FilterRecord& r = h.record();
  r.bigDocumentData = reinterpret_cast<BigDocumentStruct*>(garbage.data());
  const std::vector<uint8> before = garbage;
  h.scripting().Play(ActionFor(WarmCast()), plugInDialogDontDisplay);
  const host::RunResult run = host::RunFilter(h, module.entry(), false);
  EXPECT_EQ(run.Error(), noErr);
  EXPECT_TRUE(garbage == before);
  // The host's own 32-bit fields were not switched on either: it read the
  // 16-bit rectangles the filter wrote.
  EXPECT_EQ(h.bigDocument().PluginUsing32BitCoordinates, 0);
  ASSERT_FALSE(h.requests().empty());
  EXPECT_EQ(h.requests().back().inRect.bottom, 30);
  EXPECT_TRUE(IsBalanced(h));
}
