// kestrelle with the filter's dialog, played by UI scripts: a separate process,
// real files, the dialog left as the script leaves it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#endif

#include "cli/cli.h"
#include "host/descriptor.h"
#include "host/host_profiles.h"
#include "imageio/image_io.h"
#include "settings/settings_file.h"
#include "tests/render_support.h"
#include "tests/cli_test_support.h"
#include "tests/run_program.h"
#include "tests/test_support.h"

using host::Document;
using host::Image;

using namespace cli_tests;

// --- The dialog, played by UI scripts -------------------------------------------
// The same tests run natively (the headless dialog) and under Wine (the real
// Windows dialog on an X server), with the same expected values.

namespace {

bool HasScreen() {
#ifdef _WIN32
  char display[256] = {};
  return GetEnvironmentVariableA("DISPLAY", display, sizeof display) > 0;
#else
  return true;  // the headless dialog needs none
#endif
}

#define REQUIRE_SCREEN()                                                                   \
  if (!HasScreen())                                                                        \
  GTEST_SKIP() << "no DISPLAY: the Windows dialog needs an X server (scripts/test starts " \
                  "Xvfb and exports DISPLAY)"

// Noise, with one flat block of colour (r, g, b).
Image BlockImage(int32 width, int32 height, VRect block, uint8 r, uint8 g, uint8 b) {
  Image image;
  image.document = host::MakeDocument(width, height, 3, 8);
  FillNoise(image.document, 11);
  for (int32 y = block.top; y < block.bottom; ++y)
    for (int32 x = block.left; x < block.right; ++x) {
      image.document.Set<uint8>(x, y, 0, r);
      image.document.Set<uint8>(x, y, 1, g);
      image.document.Set<uint8>(x, y, 2, b);
    }
  return image;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The recorded action's settings, in the record's field order.
FilterParameters RecordedParameters(const std::string& path) {
  host::Descriptor d;
  std::string error;
  EXPECT_TRUE(host::DescriptorFromJson(ReadFile(path), d, &error)) << error;
  FilterParameters p{};
  ResetParameters(p);
  const DescriptorKeyID keys[] = {FourCharCode("brgH"), FourCharCode("conT"), FourCharCode("bAdj"),
                                  FourCharCode("satU"), FourCharCode("lumC"), FourCharCode("Rcoe"),
                                  FourCharCode("Gcoe"), FourCharCode("Bcoe")};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(d.GetFloat(keys[i], ParameterAt(p, i)), noErr) << "row " << i;
  return p;
}

int32 RecordedInteger(const std::string& path, DescriptorKeyID key) {
  host::Descriptor d;
  host::DescriptorFromJson(ReadFile(path), d, nullptr);
  int32 v = -1;
  d.GetInteger(key, v);
  return v;
}

// The gains the eyedropper gives an area of one colour: the larger of red
// and the smaller of green and blue, over each channel.
FilterParameters PickedGains(double r, double g, double b) {
  FilterParameters p{};
  ResetParameters(p);
  const double reference = std::max(r, std::min(g, b));
  p.redGain = double(float(reference / r));
  p.greenGain = double(float(reference / g));
  p.blueGain = double(float(reference / b));
  return p;
}

void ExpectSameSettings(const FilterParameters& got, const FilterParameters& want) {
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ParameterAt(got, i), ParameterAt(want, i)) << "row " << i;
}

// Where `part` appears in `whole`, every sample within `tolerance`.
bool Contains(const Document& whole, const Document& part, int tolerance) {
  auto close = [&](int32 wx, int32 wy, int32 px, int32 py) {
    for (int c = 0; c < 3; ++c)
      if (std::abs(int(whole.Get<uint8>(wx, wy, c)) - int(part.Get<uint8>(px, py, c))) > tolerance) return false;
    return true;
  };
  for (int32 y = 0; y + part.height <= whole.height; ++y)
    for (int32 x = 0; x + part.width <= whole.width; ++x) {
      if (!close(x, y, 0, 0)) continue;
      bool all = true;
      for (int32 py = 0; py < part.height && all; py += 3)
        for (int32 px = 0; px < part.width && all; px += 3) all = close(x + px, y + py, px, py);
      if (all) return true;
    }
  return false;
}

}  // namespace

TEST(KestrelleDialog, PlaysAScriptAndRendersWhatTheDialogWasLeftWith) {
  REQUIRE_SCREEN();
  const std::string in = Temp("ui.png"), out = Temp("ui-out.png"), action = Temp("ui-action.json");
  const std::string saved = Temp("ui-saved.ksl");
  // Kept in the build tree, to look at.
  const std::string shot = ExecutableDirectory() + "dialog-screenshot.png";
  for (const std::string& f : {out, saved, shot}) std::remove(f.c_str());
  const Image source = BlockImage(120, 80, VRect{10, 20, 30, 60}, 200, 160, 100);
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, source, &error)) << error;

  const std::string steps =
      "pick 10,20,30,60        # the flat block: gains 1, 1.25, 2\n"
      "drag \"B Gain\" 180; type \"G Gain (fine)\" 5\n"
      "save-settings \"" + saved + "\"\n"
      "screenshot \"" + shot + "\"\n"
      "ok\n";
  ProgramRun run = Apply({"--quiet", "--record", action, "--ui-steps", steps, in, out});
  ASSERT_EQ(run.exitCode, 0) << run.output;

  FilterParameters want = PickedGains(200, 160, 100);
  want.blueGain = 1.8;         // dragged to 180
  want.greenGainFine = 0.05;   // "0.0" typed on to "0.05"
  ExpectSameSettings(RecordedParameters(action), want);
  EXPECT_EQ(FirstDifference(Read(out).document, Expected(source.document, want, {0, 0, 80, 120})), "");

  FilterParameters fromFile{};
  ResetParameters(fromFile);
  ASSERT_TRUE(ReadSettingsFile(BindSettings(fromFile), saved));
  ExpectSameSettings(fromFile, want);

  // The dialog as it was shown, the preview with the result in it.
  const Document screen = Read(shot).document;
#ifdef _WIN32
  EXPECT_GE(screen.width, 600);  // at least the dialog's template size
  EXPECT_GE(screen.height, 400);
#else
  EXPECT_EQ(screen.width, 1280 - 8);  // the default work area, less frame and caption
  EXPECT_EQ(screen.height, 984 - 8 - 19);
#endif
  EXPECT_TRUE(Contains(screen, Read(out).document, 2));
  for (const std::string& f : {in, out, action, saved}) std::remove(f.c_str());
}

TEST(KestrelleDialog, NeutralAreaZoomsAndPansToPickOnALargeImage) {
  REQUIRE_SCREEN();
  const std::string in = Temp("neutral.png"), out = Temp("neutral-out.png");
  const std::string action = Temp("neutral-action.json"), fit = Temp("fit.json");
  // Far right of an image wider than any preview, which opens in fit mode:
  // the preview is zoomed to 100 % and dragged before the pick. The flat
  // block reaches two pixels past the area on every side: at some preview
  // widths the plug-in's eyedropper lands one pixel right of what the
  // zoomed preview shows under the mouse.
  const Image source = BlockImage(3000, 160, VRect{48, 2798, 92, 2902}, 180, 150, 120);
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, source, &error)) << error;
  {
    std::ofstream f(fit);
    f << "[{\"key\": \"Zoom\", \"type\": \"long\", \"value\": 0}]\n";
  }
  ProgramRun run = Apply({"--quiet", "--play", fit, "--record", action, "--neutral-area", "50,2800,90,2900", in, out});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const FilterParameters want = PickedGains(180, 150, 120);
  ExpectSameSettings(RecordedParameters(action), want);
  EXPECT_EQ(RecordedInteger(action, FourCharCode("Zoom")), 1);
  EXPECT_EQ(FirstDifference(Read(out).document, Expected(source.document, want, {0, 0, 160, 3000})), "");

  ProgramRun outside = Apply({"--neutral-area", "150,10,170,20", in, out});
  EXPECT_EQ(outside.exitCode, 2);
  EXPECT_NE(outside.output.find("--neutral-area lies outside"), std::string::npos) << outside.output;
  for (const std::string& f : {in, out, action, fit}) std::remove(f.c_str());
}

TEST(KestrelleDialog, AppliesASettingsFileThroughLoadSettings) {
  REQUIRE_SCREEN();
  const std::string in = Temp("ksl.png"), out = Temp("ksl-out.png"), action = Temp("ksl-action.json");
  const std::string settings = Temp("warm.ksl");
  FilterParameters want{};
  ResetParameters(want);
  want.redGain = 0.9;
  want.redGainFine = 0.05;
  want.greenGain = 1.1;
  want.blueGain = 1.3;
  want.highlightRecovery = 40;
  want.highlightRolloff = 150;
  ASSERT_TRUE(WriteSettingsFile(BindSettings(want), settings));
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, NoiseImage(3, 8, 6), &error)) << error;
  const Document original = Read(in).document;

  // Played over other settings: the file's replace them.
  ProgramRun run = Apply({"--quiet", "--red-gain", "2", "--settings", settings, "--record", action, in, out});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ExpectSameSettings(RecordedParameters(action), want);
  EXPECT_EQ(FirstDifference(Read(out).document, Expected(original, want, {0, 0, 61, 97})), "");

  ProgramRun missing = Apply({"--quiet", "--settings", Temp("no-such.ksl"), in, Temp("never.png")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_FALSE(Exists(Temp("never.png")));
  for (const std::string& f : {in, out, action, settings}) std::remove(f.c_str());
}

TEST(KestrelleDialog, ADialogLeftOpenOrABadScriptWritesNothing) {
  REQUIRE_SCREEN();
  const std::string in = Temp("open.png"), out = Temp("open-out.png"), script = Temp("bad-script.txt");
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, NoiseImage(3, 8, 7), &error)) << error;

  ProgramRun open = Apply({"--quiet", "--ui-steps", "drag \"R Gain\" 150", in, out});
  EXPECT_EQ(open.exitCode, 1);
  EXPECT_NE(open.output.find("the dialog was cancelled (the script does not end with ok); nothing was written"),
            std::string::npos)
      << open.output;
  EXPECT_FALSE(Exists(out));

  // A step that cannot be played stops the script and cancels the dialog.
  ProgramRun unpainted = Apply({"--quiet", "--ui-steps", "click Eyedropper; load-settings nowhere.ksl; ok", in, out});
  EXPECT_EQ(unpainted.exitCode, 1);
  EXPECT_NE(unpainted.output.find("line 1: cannot read nowhere.ksl"), std::string::npos) << unpainted.output;
  EXPECT_FALSE(Exists(out));

  {
    std::ofstream f(script);
    f << "# fine so far\npick 1,1,5,5; wheel 0\nok\n";
  }
  ProgramRun bad = Apply({"--quiet", "--ui", script, in, out});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.output.find(script + ": line 2: 'wheel' takes -100 to 100 notches (not 0), not '0'"),
            std::string::npos)
      << bad.output;
  EXPECT_FALSE(Exists(out));
#ifndef _WIN32
  // Natively a dialog without a script has no user: refused before anything
  // is read, with the way out. (On Windows --dialog alone waits for the user.)
  ProgramRun alone = Apply({"--quiet", "--dialog", in, out});
  EXPECT_EQ(alone.exitCode, 2);
  EXPECT_NE(alone.output.find("--ui-steps ok"), std::string::npos) << alone.output;
  EXPECT_FALSE(Exists(out));
#endif
  for (const std::string& f : {in, script}) std::remove(f.c_str());
}
