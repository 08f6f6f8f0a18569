// Every host callback that can fail, failed at each of its calls in turn:
// over a whole silent run and over a scripted dialog run. Whatever fails,
// the plug-in must not crash, must give back every handle, buffer and
// suite, must say so when the document was not filtered, and must never
// leave a tile half written.
//
// Natively only: the sweep makes hundreds of runs, and the native module is
// the one that lets the host count its thread starts.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "host/filter_run.h"
#include "host/host.h"
#include "host/message_log.h"
#include "host/plugin_module.h"
#include "host/thread_gate.h"
#include "host/ui/ui_script.h"
#include "plugin/parameters.h"
#include "plugin/scripting_keys.h"
#include "tests/render_support.h"
#include "settings/settings_file.h"
#include "tests/test_support.h"

using host::Document;
using host::Host;
using host::HostOptions;

namespace {

// The callbacks whose failure the plug-in sees (the others, like
// disposeProc or progressProc, cannot report one).
const char* const kFailable[] = {
    "newProc",          "handle.lockProc",      "setSizeProc",          "allocateProc",
    "buffer.lockProc",  "advanceState",         "AcquireSuite",         "registry.Get",
    "registry.Register", "descriptor.Make",     "descriptor.PutFloat",  "descriptor.PutInteger",
    "descriptor.PutBoolean", "descriptor.GetFloat", "descriptor.GetInteger", "descriptor.GetBoolean",
    "openReadDescriptorProc", "openWriteDescriptorProc", "getFloatProc", "getIntegerProc",
    "getBooleanProc",   "putFloatProc",         "putIntegerProc",       "putBooleanProc",
    "displayPixels",    "threadStart",
};

constexpr int16 kTile = 64;

// One scenario, run as often as the sweep needs.
struct Scenario {
  Document original;
  // What the run may have filtered with: besides these, whatever the
  // parameters handle holds at the end.
  std::vector<FilterParameters> candidates;
  std::function<void(Host&)> prepare;                        // registry, played action
  std::function<host::RunResult(Host&, std::string&)> run;  // the host's calls
};

struct Outcome {
  host::RunResult result;
  std::string scriptError;
  std::vector<host::ShownBox> messages;
  bool balanced = false;
  std::string leak;
  std::map<std::string, int> counts;
  int injected = 0;
};

class FaultSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(module.Load(BuiltModulePath(), &error)) << error;
  }

  Outcome RunOnce(const Scenario& s, Host& h) {
    Outcome o;
    host::MessageLog log;
    log.Attach(module, false, true);
    host::ThreadStartGate gate(module, h.ledger());
    s.prepare(h);
    o.result = s.run(h, o.scriptError);
    log.Detach();
    o.messages = log.Messages();
    o.balanced = h.Balanced(&o.leak);
    o.counts = h.ledger().Counts();
    o.injected = h.ledger().FailuresInjected();
    return o;
  }

  static const FilterParameters* FinalRecord(Host& h) {
    Handle p = h.record().parameters;
    if (!p || !*p || h.handles().GetSize(p) < int32(sizeof(FilterParameters))) return nullptr;
    return reinterpret_cast<const FilterParameters*>(*p);
  }

  // Every kTile x kTile tile of the document is either untouched or wholly
  // filtered with one of the settings the run may have used. Returns how many
  // tiles were filtered, or -1 (with `why`) when a tile is neither.
  static int FilteredTiles(const Document& now, const Scenario& s, const std::vector<Document>& results,
                           std::string& why) {
    int filtered = 0;
    for (int32 top = 0; top < now.height; top += kTile)
      for (int32 left = 0; left < now.width; left += kTile) {
        auto same = [&](const Document& other) {
          for (int32 y = top; y < std::min(now.height, top + kTile); ++y) {
            const size_t from = size_t(y) * now.RowBytes() + size_t(left) * now.PixelBytes();
            const size_t to = size_t(y) * now.RowBytes() +
                              size_t(std::min(now.width, left + kTile)) * now.PixelBytes();
            if (!std::equal(now.pixels.begin() + long(from), now.pixels.begin() + long(to),
                            other.pixels.begin() + long(from)))
              return false;
          }
          return true;
        };
        bool matched = false;
        for (const Document& r : results)
          if (same(r)) {
            matched = true;
            break;
          }
        if (matched) {
          ++filtered;
        } else if (!same(s.original)) {
          why = "tile at row " + std::to_string(top) + ", column " + std::to_string(left) +
                " is neither the original nor a filtered tile";
          return -1;
        }
      }
    return filtered;
  }

  // Runs the scenario failing `callback` at its k-th call for every k the
  // clean run reached; returns the number of runs.
  int Sweep(const Scenario& s, const std::string& name) {
    Host clean(s.original, options);
    const Outcome reference = RunOnce(s, clean);
    EXPECT_EQ(reference.result.Error(), noErr) << name << ": the clean run failed";
    EXPECT_EQ(reference.scriptError, "") << name;
    EXPECT_TRUE(reference.balanced) << reference.leak;
    EXPECT_TRUE(reference.messages.empty()) << name << ": " << reference.messages.front().text;

    const int32 tiles = ((s.original.width + kTile - 1) / kTile) * ((s.original.height + kTile - 1) / kTile);
    int runs = 0;
    std::string covered;
    for (const char* callback : kFailable) {
      auto found = reference.counts.find(callback);
      const int calls = found == reference.counts.end() ? 0 : found->second;
      if (calls > 0) covered += " " + std::string(callback) + " " + std::to_string(calls);
      for (int k = 1; k <= calls; ++k) {
        SCOPED_TRACE(name + ": " + callback + " fails at call " + std::to_string(k));
        Host h(s.original, options);
        h.ledger().FailAt(callback, k);
        const Outcome o = RunOnce(s, h);
        ++runs;
        EXPECT_TRUE(o.balanced) << o.leak;

        std::vector<Document> results;
        std::vector<FilterParameters> used = s.candidates;
        if (const FilterParameters* p = FinalRecord(h)) used.push_back(*p);
        for (const FilterParameters& p : used)
          results.push_back(Expected(s.original, p, {0, 0, s.original.height, s.original.width}));
        std::string why;
        const int filtered = FilteredTiles(h.document(), s, results, why);
        EXPECT_GE(filtered, 0) << why;
        // A document left (partly) unfiltered is a failure the user hears of.
        if (filtered >= 0 && filtered < tiles) {
          EXPECT_TRUE(o.result.Error() != noErr || !o.messages.empty())
              << filtered << " of " << tiles << " tiles filtered, and no error nor message";
        }
      }
    }
    std::printf("%s, faults injected per callback:%s\n", name.c_str(), covered.c_str());
    return runs;
  }

  host::PluginModule module;
  HostOptions options = [] {
    HostOptions o;
    o.tileWidth = o.tileHeight = kTile;
    return o;
  }();
};

Document Photo(int32 w, int32 h) {
  Document d = host::MakeDocument(w, h, 3, 8);
  FillNoise(d, 5);
  return d;
}

}  // namespace

TEST_F(FaultSweep, EveryFailureOfASilentRunIsSurvived) {
#ifdef _WIN32
  GTEST_SKIP() << "swept natively";
#endif
  FilterParameters lastUsed{};
  ResetParameters(lastUsed);
  lastUsed.blueGain = 1.1;
  // The last-used settings the run finds in the registry, from a first run.
  host::Descriptor stored;
  {
    Host first(Photo(8, 8), options);
    first.scripting().Play(ActionFor(lastUsed), plugInDialogDontDisplay);
    ASSERT_EQ(host::RunFilter(first, module.entry(), true).Error(), noErr);
    ASSERT_EQ(first.scripting().registry().count(kPluginUniqueString), 1u);
    stored = first.scripting().registry().at(kPluginUniqueString).descriptor;
  }
  FilterParameters defaults{};
  ResetParameters(defaults);

  Scenario s;
  s.original = Photo(200, 150);
  s.candidates = {WarmCast(), lastUsed, defaults};
  s.prepare = [&](Host& h) {
    h.scripting().SetRegistryEntry(kPluginUniqueString, stored, true);
    h.scripting().Play(ActionFor(WarmCast()), plugInDialogDontDisplay);
  };
  s.run = [&](Host& h, std::string&) { return host::RunFilter(h, module.entry(), true); };
  const int runs = Sweep(s, "silent run");
  std::printf("silent run: %d injected faults\n", runs);
  EXPECT_GT(runs, 50);
}

TEST_F(FaultSweep, EveryFailureOfAScriptedDialogRunIsSurvived) {
#ifdef _WIN32
  GTEST_SKIP() << "swept natively";
#endif
  FilterParameters fromFile{};
  ResetParameters(fromFile);
  fromFile.redGain = 0.9;
  fromFile.blueGain = 1.2;
  fromFile.highlightRecovery = 60;
  const std::string settings = ::testing::TempDir() + "sweep.ksl";
  ASSERT_TRUE(WriteSettingsFile(BindSettings(fromFile), settings));
  FilterParameters defaults{};
  ResetParameters(defaults);

  // Wider than the preview: it opens in fit mode, zooms in, and pans.
  Scenario s;
  s.original = Photo(1400, 130);
  s.candidates = {fromFile, defaults};
  const std::string steps =
      "drag \"R Gain\" 120; type \"G Gain (fine)\" 5\n"
      "pick 10,20,30,60\n"
      "wheel 2\n"
      "press left 700,60; move 650,60; release left 650,60\n"
      "press right 600,60; release right 640,60\n"
      "load-settings \"" + settings + "\"\n"
      "ok\n";
  s.prepare = [&](Host& h) { h.scripting().Play(host::Descriptor(), plugInDialogDisplay); };
  s.run = [&](Host& h, std::string& scriptError) {
    host::UiScript script;
    std::string error;
    EXPECT_TRUE(host::ParseUiScript(steps, script, &error)) << error;
    host::UiSession ui(h, module, script);
    EXPECT_TRUE(ui.Start(&error)) << error;
    const host::RunResult run = host::RunFilter(h, module.entry(), false);
    ui.Finish();
    scriptError = ui.error();
    return run;
  };
  const int runs = Sweep(s, "dialog run");
  std::printf("dialog run: %d injected faults\n", runs);
  EXPECT_GT(runs, 50);
  std::remove(settings.c_str());
}
