#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

#include "host/descriptor.h"
#include "host/host.h"
#include "host/json.h"
#include "plugin/last_used_store.h"
#include "plugin/script_descriptors.h"
#include "plugin/parameters.h"
#include "plugin/scripting_keys.h"
#include "tests/test_support.h"

using host::Descriptor;
using host::Host;
using host::HostOptions;

namespace {

constexpr DescriptorKeyID K(const char (&code)[5]) { return FourCharCode(code); }

host::Document Small() { return host::MakeDocument(4, 4, 3, 8); }

FilterParameters Defaults() {
  FilterParameters p{};
  ResetParameters(p);
  return p;
}

FilterParameters Custom() {
  FilterParameters p = Defaults();
  for (int i = 0; i < kParameterCount; ++i) ParameterAt(p, i) = 0.5 + i;
  return p;
}

ProxyViewState CustomView() {
  ProxyViewState v;
  v.zoomLevel = 3;
  v.offsetH = -4;
  v.offsetV = 5;
  v.focalPointH = 60;
  v.focalPointV = -70;
  v.windowWidth = 800;
  v.windowHeight = 600;
  v.dialogWidth = 1000;
  v.dialogHeight = 700;
  v.savedSize = 9;
  v.savedMode = 2;
  v.savedFlag = 0xAB;
  return v;
}

// Plays `d` and reads it the way Start does.
struct Played {
  int16 result;
  bool showDialog;
};

Played Play(Host& h, const Descriptor& d, int16 playInfo, FilterParameters& p, ProxyViewState& v,
            bool pluginShowDialog = true) {
  h.scripting().Play(d, playInfo);
  Played out{};
  out.result = ReadScriptParameters(h.record(), p, v, pluginShowDialog, out.showDialog);
  return out;
}

Descriptor Full(const FilterParameters& p, const ProxyViewState& v) {
  Descriptor d;
  for (const ScriptingKey& k : kScriptingKeys) {
    if (k.type == KeyType::Float) d.PutFloat(k.key, ParameterAt(p, k.parameterIndex));
    if (k.type == KeyType::Integer) {
      int32 value = 0;
      ReadViewValue(v, k.key, value);
      d.PutInteger(k.key, value);
    }
    if (k.type == KeyType::Boolean) d.PutBoolean(k.key, p.ignoreSelection);
  }
  return d;
}

std::string TempPath(const char* name) {
  return ExecutableDirectory() + name;
}

}  // namespace

TEST(ScriptDescriptors, AnActionHoldsEighteenKeysAndNeverTheDialogSize) {
  Host h(Small());
  FilterParameters p = Custom();
  ProxyViewState v = CustomView();
  h.scripting().descriptorParameters()->recordInfo = plugInDialogRequired;
  ASSERT_EQ(WriteScriptParameters(h.record(), p, v), noErr);
  Descriptor recorded;
  ASSERT_TRUE(h.scripting().Recorded(recorded));
  EXPECT_EQ(recorded.size(), 18u);
  EXPECT_FALSE(recorded.Has(K("Zmpw")));
  EXPECT_FALSE(recorded.Has(K("Zmph")));
  EXPECT_FALSE(recorded.Has(K("ignS")));
  double redGain = 0;
  EXPECT_EQ(recorded.GetFloat(K("brgH"), redGain), noErr);
  EXPECT_EQ(redGain, 0.5);
  int32 flag = 0;
  EXPECT_EQ(recorded.GetInteger(K("Zm00"), flag), noErr);
  EXPECT_EQ(flag, 0xAB);  // widened without sign
  EXPECT_EQ(recorded.items()[0].key, K("brgH"));
  EXPECT_EQ(recorded.items()[8].key, K("Zoom"));
  EXPECT_EQ(h.scripting().descriptorParameters()->recordInfo, plugInDialogOptional);
  EXPECT_TRUE(IsBalanced(h));

  p.ignoreSelection = true;
  ASSERT_EQ(WriteScriptParameters(h.record(), p, v), noErr);
  ASSERT_TRUE(h.scripting().Recorded(recorded));
  EXPECT_EQ(recorded.size(), 19u);
  bool ignore = false;
  EXPECT_EQ(recorded.GetBoolean(K("ignS"), ignore), noErr);
  EXPECT_TRUE(ignore);
  // The previous recording was disposed of, not leaked.
  EXPECT_TRUE(IsBalanced(h));
}

TEST(ScriptDescriptors, PlaybackRestoresWhatWasRecorded) {
  Host h(Small());
  const FilterParameters p = Custom();
  const ProxyViewState v = CustomView();
  WriteScriptParameters(h.record(), p, v);
  Descriptor recorded;
  ASSERT_TRUE(h.scripting().Recorded(recorded));

  FilterParameters q = Defaults();
  ProxyViewState w;
  Played r = Play(h, recorded, plugInDialogDontDisplay, q, w);
  EXPECT_EQ(r.result, noErr);
  EXPECT_FALSE(r.showDialog);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ParameterAt(q, i), ParameterAt(p, i)) << i;
  EXPECT_EQ(w.zoomLevel, 3);
  EXPECT_EQ(w.focalPointV, -70);
  EXPECT_EQ(w.savedFlag, 0xAB);
  EXPECT_EQ(w.dialogWidth, 1920);  // never recorded, so never played
  // The played descriptor handle is disposed of and emptied.
  EXPECT_EQ(h.scripting().descriptorParameters()->descriptor, nullptr);
  EXPECT_TRUE(IsBalanced(h));
}

TEST(ScriptDescriptors, AnActionWithoutIgnSKeepsTheLastUsedValue) {
  Host h(Small());
  FilterParameters p = Defaults();
  p.ignoreSelection = true;  // from the last-used store
  ProxyViewState v;
  Descriptor action = Full(Custom(), CustomView());
  action.Erase(K("ignS"));
  Play(h, action, plugInDialogDontDisplay, p, v);
  EXPECT_TRUE(p.ignoreSelection);
}

TEST(ScriptDescriptors, AMissingExpectedKeyIsReportedAndTheDialogStillOpens) {
  Host h(Small());
  FilterParameters p = Defaults();
  ProxyViewState v;
  Descriptor action = Full(Custom(), CustomView());
  action.Erase(K("satU"));
  Played r = Play(h, action, plugInDialogDisplay, p, v);
  EXPECT_EQ(r.result, errMissingParameter);
  EXPECT_TRUE(r.showDialog);
  EXPECT_TRUE(DialogDecision(r.result, r.showDialog));
  EXPECT_EQ(p.greenGainFine, 0.0);  // kept
  EXPECT_EQ(p.blueGain, 4.5);       // the keys that were there are taken
  EXPECT_EQ(v.focalPointV, -70);
}

TEST(ScriptDescriptors, AnUnknownKeyStopsTheReadingButTheCloseResultStands) {
  Host h(Small());
  FilterParameters p = Defaults();
  ProxyViewState v;
  Descriptor action;
  for (int i = 0; i < kExpectedKeyCount; ++i) action.PutInteger(kExpectedScriptKeys[i], 2);
  action.PutInteger(K("what"), 7);  // after every expected key
  action.PutInteger(K("Zmsz"), 42);
  Played r = Play(h, action, plugInDialogDontDisplay, p, v);
  EXPECT_EQ(r.result, noErr);  // -19 stopped the loop; the close result replaces it
  EXPECT_EQ(p.redGain, 2.0);   // an integer key read as a float is converted
  EXPECT_EQ(v.savedSize, 1);   // not read: the loop had stopped

  // Before the expected keys, the same stop leaves them unseen: -1715.
  Descriptor early;
  early.PutInteger(K("what"), 7);
  early.PutFloat(K("brgH"), 3.0);
  FilterParameters q = Defaults();
  Played s = Play(h, early, plugInDialogDisplay, q, v);
  EXPECT_EQ(s.result, errMissingParameter);
  EXPECT_EQ(q.redGain, 1.0);
  EXPECT_TRUE(IsBalanced(h));
}

TEST(ScriptDescriptors, AMistypedValueFailsTheReadAndIsReportedAtClose) {
  Host h(Small());
  FilterParameters p = Defaults();
  ProxyViewState v;
  Descriptor action = Full(Custom(), CustomView());
  action.PutBoolean(K("conT"), true);  // a boolean where a float belongs
  Played r = Play(h, action, plugInDialogDisplay, p, v);
  EXPECT_EQ(r.result, host::errWrongDataType);
  EXPECT_FALSE(DialogDecision(r.result, r.showDialog));  // runs silently with what was read
  EXPECT_EQ(p.redGain, 0.5);
  EXPECT_EQ(p.redGainFine, 0.0);
  EXPECT_TRUE(IsBalanced(h));
}

TEST(ScriptDescriptors, Zm00KeepsOnlyTheLowByte) {
  Host h(Small());
  FilterParameters p = Defaults();
  ProxyViewState v;
  Descriptor action = Full(Custom(), CustomView());
  action.PutInteger(K("Zm00"), 0x1234);
  Play(h, action, plugInDialogDontDisplay, p, v);
  EXPECT_EQ(v.savedFlag, 0x34);
}

TEST(ScriptDescriptors, WithoutADescriptorThePluginDecides) {
  Host h(Small());
  FilterParameters p = Defaults();
  ProxyViewState v;
  bool show = false;
  EXPECT_EQ(ReadScriptParameters(h.record(), p, v, true, show), noErr);
  EXPECT_TRUE(show);
  EXPECT_EQ(ReadScriptParameters(h.record(), p, v, false, show), noErr);
  EXPECT_FALSE(show);
  // A host that refuses to open the descriptor: playInfo decides.
  h.ledger().FailAt("openReadDescriptorProc", 1);
  Played r = Play(h, Full(Custom(), CustomView()), plugInDialogDisplay, p, v, false);
  EXPECT_EQ(r.result, noErr);
  EXPECT_TRUE(r.showDialog);
  EXPECT_EQ(p.redGain, 1.0);
}

TEST(ScriptDescriptors, HostsWithoutScriptingServicesAreSurvived) {
  HostOptions options;
  options.scripting = host::ScriptingSupport::Absent;
  Host h(Small(), options);
  FilterParameters p = Custom();
  ProxyViewState v;
  bool show = false;
  EXPECT_EQ(ReadScriptParameters(h.record(), p, v, true, show), noErr);
  EXPECT_TRUE(show);
  EXPECT_EQ(WriteScriptParameters(h.record(), p, v), noErr);

  // Tables with members missing, and with counts of 0.
  Host g(Small());
  PIDescriptorParameters* dp = g.scripting().descriptorParameters();
  dp->readDescriptorProcs->getKeyProc = nullptr;
  dp->writeDescriptorProcs->closeWriteDescriptorProc = nullptr;
  g.scripting().Play(Full(Custom(), CustomView()), plugInDialogDisplay);
  EXPECT_EQ(ReadScriptParameters(g.record(), p, v, false, show), noErr);
  EXPECT_FALSE(show);
  EXPECT_EQ(WriteScriptParameters(g.record(), p, v), noErr);
  EXPECT_TRUE(IsBalanced(g));

  Host z(Small());
  z.scripting().descriptorParameters()->readDescriptorProcs->numReadDescriptorProcs = 0;
  z.scripting().descriptorParameters()->writeDescriptorProcs->numWriteDescriptorProcs = 0;
  FilterParameters q = Defaults();
  Played r = Play(z, Full(Custom(), CustomView()), plugInDialogDontDisplay, q, v);
  EXPECT_EQ(r.result, noErr);
  EXPECT_EQ(q.redGain, 0.5);  // used as they are
  EXPECT_EQ(WriteScriptParameters(z.record(), q, v), noErr);
  Descriptor recorded;
  EXPECT_TRUE(z.scripting().Recorded(recorded));
}

TEST(ScriptDescriptors, AWriterTheHostRefusesRecordsNothing) {
  Host h(Small());
  h.ledger().FailAt("openWriteDescriptorProc", 1);
  EXPECT_EQ(WriteScriptParameters(h.record(), Custom(), CustomView()), errMissingParameter);
  Descriptor recorded;
  EXPECT_FALSE(h.scripting().Recorded(recorded));
  EXPECT_TRUE(IsBalanced(h));
}

TEST(LastUsedStore, RoundTripsBothRecords) {
  Host h(Small());
  const FilterParameters p = Custom();
  const ProxyViewState v = CustomView();
  ASSERT_EQ(WriteLastUsedParameters(h.record(), p, v), noErr);
  auto entry = h.scripting().registry().find(kPluginUniqueString);
  ASSERT_NE(entry, h.scripting().registry().end());
  EXPECT_TRUE(entry->second.persistent);
  // "ignS" is always written, and the run counter beside the settings.
  EXPECT_EQ(entry->second.descriptor.size(), 22u);
  EXPECT_TRUE(entry->second.descriptor.Has(K("Zmpw")));

  FilterParameters q = Defaults();
  ProxyViewState w;
  EXPECT_EQ(ReadLastUsedParameters(h.record(), q, w), noErr);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ParameterAt(q, i), ParameterAt(p, i));
  EXPECT_EQ(q.reserved[0], 0.0);  // the reserved doubles do not travel
  EXPECT_EQ(w.dialogWidth, 1000);
  EXPECT_EQ(w.savedFlag, 0xAB);
  EXPECT_EQ(h.scripting().AcquiredSuites(), 0);
  EXPECT_TRUE(IsBalanced(h));
}

TEST(LastUsedStore, AnEntryWithoutZoomUpdatesOnlyTheEightDoubles) {
  Host h(Small());
  FilterParameters stored = Custom();
  stored.ignoreSelection = true;
  Descriptor entry = Full(stored, CustomView());
  entry.Erase(K("Zoom"));
  h.scripting().SetRegistryEntry(kPluginUniqueString, entry, true);
  FilterParameters p = Defaults();
  ProxyViewState v;
  EXPECT_EQ(ReadLastUsedParameters(h.record(), p, v), errMissingParameter);
  EXPECT_EQ(p.highlightRolloff, 7.5);
  EXPECT_EQ(v.focalPointV, 0);
  EXPECT_EQ(v.windowWidth, 1920);
  EXPECT_FALSE(p.ignoreSelection);
  EXPECT_TRUE(IsBalanced(h));
}

TEST(LastUsedStore, NoEntryChangesNothing) {
  Host h(Small());
  FilterParameters p = Custom();
  ProxyViewState v = CustomView();
  EXPECT_EQ(ReadLastUsedParameters(h.record(), p, v), noErr);
  EXPECT_EQ(p.redGain, 0.5);
  // An entry of someone else's shape (no "brgH") changes nothing either.
  Descriptor other;
  other.PutInteger(0x78782020, 1);
  h.scripting().SetRegistryEntry(kPluginUniqueString, other, true);
  EXPECT_EQ(ReadLastUsedParameters(h.record(), p, v), errMissingParameter);
  EXPECT_EQ(p.redGain, 0.5);
  EXPECT_TRUE(IsBalanced(h));
}

TEST(LastUsedStore, SurvivesARestartOfTheHost) {
  const std::string file = TempPath("registry-restart.json");
  std::remove(file.c_str());
  HostOptions options;
  options.registryFile = file;
  {
    Host first(Small(), options);
    ASSERT_EQ(WriteLastUsedParameters(first.record(), Custom(), CustomView()), noErr);
  }
  Host second(Small(), options);
  EXPECT_EQ(second.registryError(), "");
  FilterParameters p = Defaults();
  ProxyViewState v;
  EXPECT_EQ(ReadLastUsedParameters(second.record(), p, v), noErr);
  EXPECT_EQ(p.highlightRecovery, 6.5);
  EXPECT_EQ(v.offsetH, -4);
  std::remove(file.c_str());
}

TEST(LastUsedStore, PrecedenceIsDefaultsThenLastUsedThenThePlayedAction) {
  Host h(Small());
  FilterParameters stored = Defaults();
  stored.redGain = 1.7;
  stored.greenGain = 1.3;
  WriteLastUsedParameters(h.record(), stored, ProxyViewState());

  FilterParameters p = Defaults();
  ProxyViewState v;
  ReadLastUsedParameters(h.record(), p, v);
  Descriptor action;
  action.PutFloat(K("brgH"), 0.9);  // only red
  Played r = Play(h, action, plugInDialogDontDisplay, p, v);
  EXPECT_EQ(r.result, errMissingParameter);
  EXPECT_EQ(p.redGain, 0.9);
  EXPECT_EQ(p.greenGain, 1.3);
  EXPECT_EQ(p.blueGain, 1.0);
}

TEST(LastUsedStore, EveryFailurePathGivesEverythingBack) {
  struct Case {
    const char* callback;
    int k;
  };
  const Case cases[] = {{"AcquireSuite", 1},         {"AcquireSuite", 2},
                        {"registry.Get", 1},         {"descriptor.Make", 1},
                        {"descriptor.PutBoolean", 1}, {"registry.Register", 1},
                        {"descriptor.GetFloat", 3},  {"descriptor.GetInteger", 5},
                        {"descriptor.GetBoolean", 1}};
  for (const Case& c : cases) {
    Host h(Small());
    WriteLastUsedParameters(h.record(), Custom(), CustomView());
    const Descriptor before = h.scripting().registry().at(kPluginUniqueString).descriptor;
    h.ledger().Reset();
    h.ledger().FailAt(c.callback, c.k);
    FilterParameters p = Defaults();
    p.ignoreSelection = true;
    ProxyViewState v;
    const int32 read = ReadLastUsedParameters(h.record(), p, v);
    const int32 write = WriteLastUsedParameters(h.record(), p, v);
    EXPECT_TRUE(read != noErr || write != noErr) << c.callback << " " << c.k;
    EXPECT_EQ(h.ledger().FailuresInjected(), 1) << c.callback << " " << c.k;
    EXPECT_TRUE(IsBalanced(h)) << c.callback << " " << c.k;
    if (std::string(c.callback) == "descriptor.PutBoolean" || std::string(c.callback) == "registry.Register") {
      // The failed write left the previous entry in place.
      EXPECT_TRUE(h.scripting().registry().at(kPluginUniqueString).descriptor == before);
    }
  }
}

TEST(LastUsedStore, HostsWithoutTheBasicSuiteOrWithBrokenSuitesAreSurvived) {
  HostOptions options;
  options.offerBasicSuite = false;
  Host h(Small(), options);
  FilterParameters p = Defaults();
  ProxyViewState v;
  // No registry: the user's own file, which does not exist yet.
  EXPECT_EQ(ReadLastUsedParameters(h.record(), p, v), errPlugInHostInsufficient);
  EXPECT_EQ(p.redGain, Defaults().redGain);

  // A basic suite that reports success but hands back no suite.
  static int acquired = 0;
  SPBasicSuite empty{};
  empty.AcquireSuite = [](const char*, int32, const void** suite) -> SPErr {
    ++acquired;
    *suite = nullptr;
    return 0;
  };
  empty.ReleaseSuite = [](const char*, int32) -> SPErr {
    --acquired;
    return 0;
  };
  Host g(Small());
  g.record().sSPBasic = &empty;
  EXPECT_EQ(ReadLastUsedParameters(g.record(), p, v), errPlugInHostInsufficient);
  EXPECT_EQ(acquired, 0);

  // Suites whose members are NULL.
  Host n(Small());
  const void* suite = nullptr;
  n.record().sSPBasic->AcquireSuite(kPSActionDescriptorSuite, 2, &suite);
  auto* actions = const_cast<PSActionDescriptorProcs*>(static_cast<const PSActionDescriptorProcs*>(suite));
  n.record().sSPBasic->ReleaseSuite(kPSActionDescriptorSuite, 2);
  PSActionDescriptorProcs saved = *actions;
  actions->Make = nullptr;
  actions->GetFloat = nullptr;
  EXPECT_EQ(WriteLastUsedParameters(n.record(), p, v), errPlugInHostInsufficient);
  n.scripting().SetRegistryEntry(kPluginUniqueString, Full(Custom(), CustomView()), true);
  EXPECT_EQ(ReadLastUsedParameters(n.record(), p, v), errPlugInHostInsufficient);
  *actions = saved;
  EXPECT_TRUE(IsBalanced(n));
}

TEST(DescriptorText, RoundTripsThroughJsonExactly) {
  Descriptor d;
  d.PutFloat(K("brgH"), 0.1 + 0.2);
  d.PutFloat(K("conT"), -0.0);
  d.PutFloat(K("bAdj"), std::numeric_limits<double>::quiet_NaN());
  d.PutFloat(K("satU"), 4.9e-324);
  d.PutInteger(K("Zoom"), -2147483647 - 1);
  d.PutBoolean(K("ignS"), true);
  const std::string text = host::DescriptorToJson(d);
  EXPECT_NE(text.find("\"key\": \"brgH\""), std::string::npos);
  Descriptor back;
  std::string error;
  ASSERT_TRUE(host::DescriptorFromJson(text, back, &error)) << error;
  EXPECT_TRUE(back == d);
}

TEST(DescriptorText, RejectsWhatIsNotADescriptorWithAReason) {
  Descriptor d;
  std::string error;
  EXPECT_FALSE(host::DescriptorFromJson("{\"key\": 1}", d, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(host::DescriptorFromJson("[{\"key\": \"brgH\", \"type\": \"doub\", \"value\": \"x\"}]", d, &error));
  EXPECT_NE(error.find("brgH"), std::string::npos);
  EXPECT_FALSE(host::DescriptorFromJson("[{\"key\": \"Zoom\", \"type\": \"long\", \"value\": 1.5}]", d, &error));
  EXPECT_FALSE(host::DescriptorFromJson("[", d, &error));
  EXPECT_FALSE(host::DescriptorFromJson(std::string(200, '['), d, &error));
}
