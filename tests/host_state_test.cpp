// What a host hands back from earlier runs is believed only as far as it can
// be checked: a data slot value this module did not make (GIMP's PSPI hands
// a new process the slot of an earlier one) is never locked, a parameters
// handle is read only when it holds a record of this filter, and between
// the handle and the last-used store the newer settings win. Also the run
// itself: Start leaves nothing for the host to deliver, writes every plane
// of the layer, and refuses in words a document it does not work on.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "host/filter_run.h"
#include "host/host.h"
#include "host/message_log.h"
#include "host/plugin_module.h"
#include "plugin/last_used_file.h"
#include "plugin/parameters.h"
#include "tests/render_support.h"
#include "tests/test_support.h"

using host::Document;
using host::Host;
using host::HostOptions;

namespace {

// A host that keeps the last-used settings nowhere: the filter's own file
// keeps them.
HostOptions NoRegistry() {
  HostOptions o;
  o.offerBasicSuite = false;
  return o;
}

Document Photo(int32 planes = 3, int32 depth = 8) {
  Document d = host::MakeDocument(120, 80, planes, depth);
  d.imageMode = host::ModeFor(3, depth);  // RGB, with a transparency plane when there are four
  FillNoise(d, 33);
  return d;
}

const VRect kAll{0, 0, 80, 120};

FilterParameters Cool() {
  FilterParameters p{};
  ResetParameters(p);
  p.redGain = 0.85;
  p.blueGain = 1.5;
  return p;
}

class HostState : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearUserConfig();
    Load();
  }
  void TearDown() override { log.Detach(); }

  // The module loaded afresh, as in a new process: nothing it kept in
  // memory (the handles it made) survives.
  void Load() {
    log.Detach();
    module = std::make_unique<host::PluginModule>();
    std::string error;
    ASSERT_TRUE(module->Load(BuiltModulePath(), &error)) << error;
    log.Attach(*module, false, true);
  }
  PluginMainProc entry() const { return module->entry(); }

  std::unique_ptr<host::PluginModule> module;
  host::MessageLog log;
};

std::vector<uint8> HandleBytes(Host& h, Handle handle) {
  const int32 size = h.handles().GetSize(handle);
  const uint8* p = reinterpret_cast<const uint8*>(*handle);
  return std::vector<uint8>(p, p + size);
}

}  // namespace

// GIMP's "Repeat last filter": a new process gets a byte copy of the record
// as it was right after Parameters of the last interactive run, and the
// slot value that process left, which points at nothing any more.
TEST_F(HostState, ARepeatFromAnotherProcessRunsWithTheLastSettingsAndNeverTouchesTheStaleSlot) {
  const Document original = Photo();
  std::vector<uint8> copied;
  {
    Host first(original, NoRegistry());
    ASSERT_EQ(first.Call(entry(), filterSelectorParameters), noErr);
    copied = HandleBytes(first, first.record().parameters);
    first.scripting().Play(ActionFor(Cool()), plugInDialogDontDisplay);
    ASSERT_EQ(host::RunFilter(first, entry(), false).Error(), noErr);
    EXPECT_EQ(FirstDifference(first.document(), Expected(original, Cool(), kAll)), "");
  }
  Load();
  Host repeat(original, NoRegistry());
  repeat.record().parameters = repeat.handles().NewForHost(copied.data(), int32(copied.size()));
  // The slot's value points at nothing: a handle this host has disposed of
  // (it keeps track, so any use of it shows as misuse).
  const uint8 byte = 1;
  Handle gone = repeat.handles().NewForHost(&byte, 1);
  repeat.handles().DisposeForHost(gone);
  const intptr_t staleSlot = reinterpret_cast<intptr_t>(gone);
  repeat.dataSlot() = staleSlot;
  const host::RunResult run = host::RunFilter(repeat, entry(), false);
  EXPECT_EQ(run.Error(), noErr);
  // Silently, with the settings of the run after the copy was taken.
  EXPECT_TRUE(log.Messages().empty());
  EXPECT_EQ(FirstDifference(repeat.document(), Expected(original, Cool(), kAll)), "");
  EXPECT_NE(repeat.dataSlot(), staleSlot);  // replaced by a handle of the filter's own
  EXPECT_TRUE(IsBalanced(repeat));  // no lock, unlock or disposal of the stale value

  // A script call in a fresh session: no record, no slot value. The dialog
  // is wanted (an unattended one ends as cancelled), never a crash.
  Load();
  Host fresh(original, NoRegistry());
  EXPECT_EQ(host::RunFilter(fresh, entry(), false).start, userCanceledErr);
  EXPECT_EQ(FirstDifference(fresh.document(), original), "");
  EXPECT_TRUE(IsBalanced(fresh));
}

TEST_F(HostState, TheNewerOfTheRecordAndTheLastUsedSettingsWins) {
  const Document original = Photo();
  Host h(original, NoRegistry());
  h.scripting().Play(ActionFor(Cool()), plugInDialogDontDisplay);
  ASSERT_EQ(host::RunFilter(h, entry(), false).Error(), noErr);

  // The store missed the last write (it holds an older run): the record the
  // host kept is newer, and a repeat uses it.
  FilterParameters older{};
  ResetParameters(older);
  older.greenGain = 2.0;
  older.generation = 0;
  ASSERT_EQ(WriteLastUsedFile(older, ProxyViewState()), noErr);
  h.document() = original;
  h.scripting().Play(host::Descriptor(), plugInDialogDontDisplay);  // nothing but "no dialog"
  ASSERT_EQ(host::RunFilter(h, entry(), false).Error(), noErr);
  EXPECT_EQ(FirstDifference(h.document(), Expected(original, Cool(), kAll)), "");

  // Another process ran since: the store is newer than the record.
  FilterParameters newer = older;
  newer.generation = 1000;
  ASSERT_EQ(WriteLastUsedFile(newer, ProxyViewState()), noErr);
  h.document() = original;
  h.scripting().Play(host::Descriptor(), plugInDialogDontDisplay);
  ASSERT_EQ(host::RunFilter(h, entry(), false).Error(), noErr);
  EXPECT_EQ(FirstDifference(h.document(), Expected(original, newer, kAll)), "");
  // The run is newer than both, in both.
  FilterParameters stored{};
  ProxyViewState view;
  ASSERT_EQ(ReadLastUsedFile(stored, view), noErr);
  EXPECT_EQ(stored.generation, 1001u);
  EXPECT_EQ(reinterpret_cast<const FilterParameters*>(*h.record().parameters)->generation, 1001u);
  EXPECT_TRUE(IsBalanced(h));
}

TEST_F(HostState, AParametersHandleThatIsNotOursIsNeverRead) {
  const Document original = Photo();
  FilterParameters lastUsed = Cool();
  lastUsed.generation = 1;
  ASSERT_EQ(WriteLastUsedFile(lastUsed, ProxyViewState()), noErr);

  // Bytes that are no record of this filter: no mark, a flag byte that is
  // no bool, NaN; and a record whose mark is right but whose gain is out
  // of range.
  std::vector<std::vector<uint8>> foreign;
  foreign.emplace_back(96, 0x02);
  std::vector<uint8> nan(96, 0);
  const double q = std::numeric_limits<double>::quiet_NaN();
  std::memcpy(nan.data(), &q, sizeof q);
  nan[90] = 'K', nan[91] = 's';
  foreign.push_back(nan);
  FilterParameters wild = Cool();
  MarkRecord(wild, 7);
  wild.blueGain = 5000;
  foreign.emplace_back(reinterpret_cast<const uint8*>(&wild), reinterpret_cast<const uint8*>(&wild) + 96);
  for (size_t i = 0; i < foreign.size(); ++i) {
    SCOPED_TRACE(i);
    Host h(original, NoRegistry());
    h.record().parameters = h.handles().NewForHost(foreign[i].data(), 96);
    h.scripting().Play(host::Descriptor(), plugInDialogDontDisplay);
    // Not ours: a first run, which wants the dialog; the played "no dialog"
    // runs it silently with the last-used settings.
    ASSERT_EQ(host::RunFilter(h, entry(), false).Error(), noErr);
    EXPECT_EQ(FirstDifference(h.document(), Expected(original, Cool(), kAll)), "");
    EXPECT_TRUE(IsBalanced(h));
  }

  // A handle too small for a record is left alone; the filter makes its own.
  Host h(original, NoRegistry());
  const uint8 small[16] = {};
  Handle tiny = h.handles().NewForHost(small, sizeof small);
  h.record().parameters = tiny;
  h.scripting().Play(host::Descriptor(), plugInDialogDontDisplay);
  ASSERT_EQ(host::RunFilter(h, entry(), false).Error(), noErr);
  const Handle made = h.record().parameters;  // the record is packed: no reference to its field
  EXPECT_NE(made, tiny);
  EXPECT_EQ(FirstDifference(h.document(), Expected(original, Cool(), kAll)), "");
  h.handles().DisposeForHost(tiny);
  EXPECT_TRUE(IsBalanced(h));
}

// Start does all the work, so it leaves no rectangle set (a host that loops
// on them would hand the last tile out again); every plane of the layer is
// asked for and written, the transparency plane as it was.
TEST_F(HostState, StartLeavesNothingToDeliverAndWritesEveryPlane) {
  for (int32 depth : {8, 16, 32}) {
    SCOPED_TRACE(depth);
    const Document original = Photo(4, depth);
    HostOptions o;
    o.tileWidth = o.tileHeight = 32;
    o.output = host::OutputBuffer::Stale;  // nothing in it is the picture's
    Host h(original, o);
    h.scripting().Play(ActionFor(Cool()), plugInDialogDontDisplay);
    ASSERT_EQ(h.Call(entry(), filterSelectorPrepare), noErr);
    ASSERT_EQ(h.Call(entry(), filterSelectorStart), noErr);
    const FilterRecord& r = h.record();
    EXPECT_TRUE(r.inRect.bottom == 0 && r.inRect.right == 0 && r.outRect.bottom == 0 && r.outRect.right == 0);
    const BigDocumentStruct& big = *r.bigDocumentData;
    EXPECT_TRUE(big.inRect32.bottom == 0 && big.outRect32.right == 0 && big.maskRect32.bottom == 0);
    h.CommitOutput();
    bool allPlanes = false;
    for (const host::PixelRequest& q : h.requests())
      if (q.outRect.bottom > q.outRect.top) allPlanes = q.outLoPlane == 0 && q.outHiPlane == 3;
    EXPECT_TRUE(allPlanes);
    EXPECT_EQ(FirstDifference(h.document(), Expected(original, Cool(), kAll)), "");
    ASSERT_EQ(h.Call(entry(), filterSelectorFinish), noErr);
    EXPECT_TRUE(IsBalanced(h));
  }
}

TEST_F(HostState, AnEightBitGreyDocumentIsRefusedInWords) {
  Document grey = host::MakeDocument(40, 30, 1, 8);
  FillNoise(grey, 5);
  Host h(grey);
  h.scripting().Play(ActionFor(Cool()), plugInDialogDontDisplay);
  const host::RunResult run = host::RunFilter(h, entry(), false);
  EXPECT_EQ(run.start, filterBadParameters);
  const std::vector<host::ShownBox> shown = log.Messages();
  ASSERT_EQ(shown.size(), 1u);  // in words, with no second box for the number
  EXPECT_EQ(shown[0].text,
            "Kestrelle works on 8-bit RGB images and on 16-bit and 32-bit images; this image is 8-bit "
            "grayscale. Convert it to RGB first. Nothing was changed.");
  EXPECT_EQ(FirstDifference(h.document(), grey), "");
  EXPECT_TRUE(h.requests().empty());
  EXPECT_TRUE(IsBalanced(h));

  // 16-bit grey is one of the documents it works on.
  Document deep = host::MakeDocument(40, 30, 1, 16);
  FillNoise(deep, 5);
  Host g(deep);
  g.scripting().Play(ActionFor(Cool()), plugInDialogDontDisplay);
  EXPECT_EQ(host::RunFilter(g, entry(), false).Error(), noErr);
}
