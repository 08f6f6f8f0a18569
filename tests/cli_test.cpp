// kestrelle as users run it: a separate process, real files, exit codes.
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

TEST(Kestrelle, ExplainsItselfAndRejectsWrongCommandLines) {
  ProgramRun help = RunProgram(KestrelleProgram(), {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("apply [options] INPUT OUTPUT"), std::string::npos) << help.output;
  ProgramRun applyHelp = Apply({"--help"});
  EXPECT_EQ(applyHelp.exitCode, 0);
  EXPECT_NE(applyHelp.output.find("--highlight-rolloff"), std::string::npos);
  EXPECT_EQ(RunProgram(KestrelleProgram(), {"info", "--help"}).exitCode, 0);
  EXPECT_EQ(RunProgram(KestrelleProgram(), {}).exitCode, 2);
  EXPECT_EQ(RunProgram(KestrelleProgram(), {"polish"}).exitCode, 2);
  EXPECT_EQ(Apply({"only-one.png"}).exitCode, 2);
  ProgramRun bad = Apply({"--red-gain", "lots", "a.png", "b.png"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.output.find("'lots' is not a number"), std::string::npos) << bad.output;
  EXPECT_EQ(Apply({"--selection", "5,5,2,9", "a.png", "b.png"}).exitCode, 2);
  EXPECT_EQ(Apply({"--frobnicate", "1", "a.png", "b.png"}).exitCode, 2);
}

TEST(Kestrelle, FiltersPngAndTiffAtEveryDepth) {
  struct Case {
    const char* extension;
    int16 planes;
    int32 depth;
  };
  const Case cases[] = {{"png", 3, 8},  {"png", 3, 16}, {"png", 1, 16}, {"tif", 3, 8},
                        {"tif", 3, 16}, {"tif", 3, 32}, {"tif", 1, 32}, {"tiff", 1, 16}};
  for (const Case& c : cases) {
    const std::string in = Temp(std::string("in.") + c.extension);
    const std::string out = Temp(std::string("out.") + c.extension);
    Image source = NoiseImage(c.planes, c.depth, uint32(c.depth + c.planes));
    std::string error;
    ASSERT_TRUE(host::WriteImage(in, source, &error)) << error;
    const Document original = Read(in).document;  // as the file holds it
    std::vector<std::string> args = kWarmCast;
    args.push_back(in);
    args.push_back(out);
    ProgramRun run = Apply(args);
    ASSERT_EQ(run.exitCode, 0) << c.extension << " " << c.depth << ": " << run.output;
    const Document result = Read(out).document;
    EXPECT_EQ(FirstDifference(result, Expected(original, WarmCast(), {0, 0, 61, 97})), "")
        << c.extension << " " << c.planes << " planes " << c.depth << " bits";
    std::remove(in.c_str());
    std::remove(out.c_str());
  }
}

TEST(Kestrelle, KeepsAlphaAndFiltersOnlyTheSelection) {
  const std::string in = Temp("alpha.png"), out = Temp("alpha-out.png");
  Image source = NoiseImage(3, 8, 5);
  source.alpha.assign(size_t(97) * 61, 0);
  for (size_t i = 0; i < source.alpha.size(); ++i) source.alpha[i] = uint8(i * 13);
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, source, &error)) << error;
  std::vector<std::string> args = kWarmCast;
  for (const char* a : {"--selection", "10,20,30,50", "--tile", "7"}) args.push_back(a);
  args.push_back(in);
  args.push_back(out);
  ProgramRun run = Apply(args);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  Image result = Read(out);
  EXPECT_EQ(result.alpha, source.alpha);
  EXPECT_EQ(FirstDifference(result.document, Expected(source.document, WarmCast(), {10, 20, 30, 50})), "");
  std::remove(in.c_str());
  std::remove(out.c_str());
}

// Every host a user can name plays the same filter to the same pixels: the
// settings reach the filter through an action where the host plays them,
// through the dialog's edit boxes where it does not, and the transparency
// some hosts hand over as a plane comes back untouched. A host without a
// registry starts the next run from the last one's settings.
TEST(Kestrelle, PlaysEveryHostProfileToTheSamePixels) {
  const std::string in = Temp("profile.png"), out = Temp("profile-out.png");
  Image source = NoiseImage(3, 8, 41);
  source.alpha.assign(size_t(97) * 61, 0);
  for (size_t i = 0; i < source.alpha.size(); ++i) source.alpha[i] = uint8(i * 7);
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, source, &error)) << error;
  // Settings that edit boxes show exactly, so typed and played agree.
  FilterParameters settings = WarmCast();
  settings.redGainFine = 0.25;
  const Document expected = Expected(source.document, settings, {0, 0, 61, 97});
  for (const host::HostProfile& p : host::HostProfiles()) {
    SCOPED_TRACE(p.name);
    ClearUserConfig();
    ProgramRun run = Apply({"--host-profile", p.name, "--red-gain", "0.8", "--red-gain-fine", "0.25",
                            "--blue-gain", "1.25", "--quiet", in, out});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    Image result = Read(out);
    EXPECT_EQ(result.alpha, source.alpha);
    EXPECT_EQ(FirstDifference(result.document, expected), "");
  }
  // pspiHost keeps nothing between runs and has no registry: the dialog
  // opens on the settings the filter kept in its own file.
  ProgramRun again = Apply({"--host-profile", "pspihost", "--ui-steps", "ok", "--quiet", in, out});
  ASSERT_EQ(again.exitCode, 0) << again.output;
  EXPECT_EQ(FirstDifference(Read(out).document, expected), "");
  // What such a host cannot do is refused, not quietly left undone.
  EXPECT_EQ(Apply({"--host-profile", "gimp", "--play", in, in, out}).exitCode, 2);
  EXPECT_EQ(Apply({"--host-profile", "gimp", "--registry", Temp("r.json"), in, out}).exitCode, 2);
  EXPECT_EQ(Apply({"--host-profile", "frob", in, out}).exitCode, 2);
  const Document sixteen = host::MakeDocument(4, 4, 3, 16);
  Image deep;
  deep.document = sixteen;
  ASSERT_TRUE(host::WriteImage(Temp("deep.png"), deep, &error)) << error;
  ProgramRun refused = Apply({"--host-profile", "pspihost", "--ui-steps", "ok", Temp("deep.png"), out});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.output.find("8-bit documents only"), std::string::npos) << refused.output;
  for (const std::string& f : {in, out, Temp("deep.png")}) std::remove(f.c_str());
}

// GIMP calls every filter in a new process: "Repeat last filter" has only
// the filter's own last-used file to find the values of the interactive run
// before it, and runs without a dialog to the same pixels, transparency and
// all. A repeat has no dialog to type settings into.
TEST(Kestrelle, GimpRepeatsTheLastInteractiveRun) {
  const std::string in = Temp("gimp.png"), first = Temp("gimp-first.png"), again = Temp("gimp-again.png");
  Image source = NoiseImage(3, 8, 43);
  source.alpha.assign(size_t(97) * 61, 0);
  for (size_t i = 0; i < source.alpha.size(); ++i) source.alpha[i] = uint8(i * 5 + 1);
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, source, &error)) << error;
  const std::vector<std::string> gimp = {"--host-profile", "gimp", "--module", BuiltModulePath(), "--quiet"};
  auto with = [&gimp](std::vector<std::string> args) {
    args.insert(args.begin(), gimp.begin(), gimp.end());
    return Apply(args);
  };
  ProgramRun interactive = with({"--host-run", "interactive", "--blue-gain", "1.7", in, first});
  ASSERT_EQ(interactive.exitCode, 0) << interactive.output;
  ProgramRun repeat = with({"--host-run", "repeat", in, again});
  ASSERT_EQ(repeat.exitCode, 0) << repeat.output;
  EXPECT_EQ(repeat.output, "");
  FilterParameters typed{};
  ResetParameters(typed);
  typed.blueGain = 1.7;
  const Image made = Read(first), repeated = Read(again);
  EXPECT_EQ(FirstDifference(made.document, Expected(source.document, typed, {0, 0, 61, 97})), "");
  EXPECT_TRUE(repeated.document.pixels == made.document.pixels);
  EXPECT_EQ(repeated.alpha, source.alpha);

  ProgramRun typedIntoNothing = with({"--host-run", "repeat", "--blue-gain", "2", in, again});
  EXPECT_EQ(typedIntoNothing.exitCode, 2);
  EXPECT_NE(typedIntoNothing.output.find("last-used settings"), std::string::npos) << typedIntoNothing.output;
  EXPECT_EQ(with({"--host-run", "sometimes", in, again}).exitCode, 2);
  EXPECT_EQ(Apply({"--host-run", "repeat", in, again}).exitCode, 2);  // Photoshop has no such runs
  for (const std::string& f : {in, first, again}) std::remove(f.c_str());
}

// A run without the dialog streams the picture: a picture a hundred times
// larger needs hardly more memory, and comes out as a whole-image run would
// make it (a before/after picture keeps the whole image in memory).
TEST(Kestrelle, StreamsLargePicturesInBoundedMemory) {
  const std::string small = Temp("small.tif"), large = Temp("large.tif"), out = Temp("large-out.tif"),
                    whole = Temp("large-whole.tif"), pair = Temp("large-pair.tif");
  std::string error;
  for (const std::string* path : {&small, &large}) {
    host::ImageShape shape;
    shape.width = path == &small ? 600 : 6000;
    shape.height = path == &small ? 400 : 4000;
    std::FILE* f = std::fopen(path->c_str(), "w+b");
    ASSERT_NE(f, nullptr);
    host::ImageWriter writer;
    host::ImageProperties uncompressed;  // quick to make and to read back
    uncompressed.format = host::ImageFormat::Tiff;
    uncompressed.tiff.compression = 1;  // COMPRESSION_NONE
    ASSERT_TRUE(writer.Start(f, host::ImageFormat::Tiff, shape, uncompressed, &error)) << error;
    std::vector<uint8> rows(shape.RowBytes() * 100);
    for (int32 y = 0; y < shape.height; y += 100) {
      for (size_t i = 0; i < rows.size(); ++i) rows[i] = uint8(i * 7 + size_t(y) * 13);
      ASSERT_TRUE(writer.WriteRows(100, rows.data(), shape.RowBytes(), nullptr, 0, &error)) << error;
    }
    ASSERT_TRUE(writer.Finish(&error)) << error;
    std::fclose(f);
  }
  const ProgramRun few = Apply({"--red-gain", "1.2", "--quiet", small, Temp("small-out.tif")});
  const ProgramRun many = Apply({"--red-gain", "1.2", "--quiet", large, out});
  ASSERT_EQ(few.exitCode, 0) << few.output;
  ASSERT_EQ(many.exitCode, 0) << many.output;
  // The large picture is 72 MB of samples, the small one 0.7 MB. (Where the
  // system does not say how much a finished process held, there is nothing
  // to compare.)
  const bool measured = few.peakMemory > 0 && many.peakMemory > 0;
  if (measured) {
    EXPECT_LT(many.peakMemory - few.peakMemory, 24ll << 20)
        << "peak " << many.peakMemory << " bytes against " << few.peakMemory;
  }
  const ProgramRun held = Apply({"--red-gain", "1.2", "--quiet", "--side-by-side", pair, large, whole});
  ASSERT_EQ(held.exitCode, 0) << held.output;
  // The instrument: a run that holds the picture shows it.
  if (measured && held.peakMemory > 0) {
    EXPECT_GT(held.peakMemory - few.peakMemory, 60ll << 20) << held.peakMemory;
  }
  EXPECT_EQ(FirstDifference(Read(out).document, Read(whole).document), "");
  for (const std::string& f : {small, large, out, whole, pair, Temp("small-out.tif")}) std::remove(f.c_str());
}

// Streamed in bands, whatever tiles the host offers and wherever the
// selection starts (bands are anchored at its top, tiles may straddle them).
TEST(Kestrelle, StreamsWithAnyTileAndSelection) {
  const std::string in = Temp("tiles.tif"), out = Temp("tiles-out.tif");
  const Image source = NoiseImage(3, 16, 23);
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, source, &error)) << error;
  for (const char* tile : {"5", "64", "300"}) {
    for (const VRect& selection : {VRect{0, 0, 61, 97}, VRect{10, 20, 50, 90}, VRect{60, 0, 61, 97}}) {
      const std::string rect = std::to_string(selection.top) + "," + std::to_string(selection.left) + "," +
                               std::to_string(selection.bottom) + "," + std::to_string(selection.right);
      SCOPED_TRACE(std::string("tile ") + tile + ", selection " + rect);
      std::vector<std::string> args = kWarmCast;
      for (const std::string& a : {std::string("--tile"), std::string(tile), std::string("--selection"), rect})
        args.push_back(a);
      args.push_back(in);
      args.push_back(out);
      const ProgramRun run = Apply(args);
      ASSERT_EQ(run.exitCode, 0) << run.output;
      EXPECT_EQ(FirstDifference(Read(out).document, Expected(source.document, WarmCast(), selection)), "");
    }
  }
  std::remove(in.c_str());
  std::remove(out.c_str());
}

TEST(Kestrelle, RecordsAnActionAndPlaysItBack) {
  const std::string in = Temp("rec.png"), first = Temp("rec-1.png"), second = Temp("rec-2.png");
  const std::string action = Temp("action.json"), registry = Temp("registry.json");
  std::remove(registry.c_str());
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, NoiseImage(3, 8, 9), &error)) << error;

  std::vector<std::string> args = kWarmCast;
  for (const std::string& a : {std::string("--record"), action, std::string("--registry"), registry, in, first})
    args.push_back(a);
  ProgramRun run = Apply(args);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  std::ifstream recorded(action);
  std::string text((std::istreambuf_iterator<char>(recorded)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\"key\": \"brgH\", \"type\": \"doub\", \"value\": 0.8"), std::string::npos) << text;

  // Played back: the same result.
  ProgramRun replay = Apply({"--quiet", "--play", action, in, second});
  ASSERT_EQ(replay.exitCode, 0) << replay.output;
  EXPECT_EQ(FirstDifference(Read(first).document, Read(second).document), "");

  // Nothing given: the last-used settings from the registry apply.
  std::remove(second.c_str());
  ProgramRun remembered = Apply({"--quiet", "--registry", registry, in, second});
  ASSERT_EQ(remembered.exitCode, 0) << remembered.output;
  EXPECT_EQ(FirstDifference(Read(first).document, Read(second).document), "");

  ProgramRun badAction = Apply({"--play", registry, in, second});  // not an action
  EXPECT_EQ(badAction.exitCode, 1);
  EXPECT_NE(badAction.output.find("not a recorded action"), std::string::npos) << badAction.output;
  for (const std::string& f : {in, first, second, action, registry}) std::remove(f.c_str());
}

namespace {

// A PNG with other dimensions in its header (and the header's CRC redone).
std::string WithSize(std::string png, uint32 w, uint32 h) {
  for (int i = 0; i < 4; ++i) {
    png[16 + i] = char(w >> (24 - 8 * i));
    png[20 + i] = char(h >> (24 - 8 * i));
  }
  uint32 crc = 0xffffffffu;
  for (size_t i = 12; i < 29; ++i) {
    crc ^= uint8(png[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  crc ^= 0xffffffffu;
  for (int i = 0; i < 4; ++i) png[29 + i] = char(crc >> (24 - 8 * i));
  return png;
}

// One line on standard error, naming the file.
::testing::AssertionResult OneLineNaming(const ProgramRun& run, const std::string& file) {
  std::string text = run.output;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.find('\n') != std::string::npos) return ::testing::AssertionFailure() << "more than one line: " << run.output;
  if (text.rfind("kestrelle: ", 0) != 0) return ::testing::AssertionFailure() << "not an error line: " << run.output;
  const std::string name = file.substr(file.find_last_of("\\/") + 1);
  if (text.find(name) == std::string::npos) return ::testing::AssertionFailure() << "does not name " << name << ": " << run.output;
  return ::testing::AssertionSuccess();
}

}  // namespace

// Whatever is wrong with the files: one clear line, exit status 1, no
// output (an existing one is left as it was), and the input untouched.
TEST(Kestrelle, DamagedInputsAndUnusablePathsFailCleanlyAndTouchNothing) {
  std::string error;
  const std::string png = Temp("good.png"), tif = Temp("good.tif");
  ASSERT_TRUE(host::WriteImage(png, NoiseImage(3, 8, 2), &error)) << error;
  ASSERT_TRUE(host::WriteImage(tif, NoiseImage(3, 16, 2), &error)) << error;
  const std::string pngBytes = FileText(png), tifBytes = FileText(tif);
  auto damaged = [](std::string b) {
    for (size_t i = b.size() / 3; i < b.size() / 3 + 48; ++i) b[i] = char(b[i] ^ 0xA5);
    return b;
  };
  struct Case {
    std::string name, bytes;
  };
  std::string lostDirectory = tifBytes;
  lostDirectory[4] = lostDirectory[5] = lostDirectory[6] = char(0xff), lostDirectory[7] = 0x7f;
  const std::vector<Case> inputs = {
      {"truncated.png", pngBytes.substr(0, pngBytes.size() / 2)},
      {"header-only.png", pngBytes.substr(0, 20)},
      {"corrupt.png", damaged(pngBytes)},
      {"truncated.tif", tifBytes.substr(0, tifBytes.size() / 2)},
      {"corrupt.tif", damaged(tifBytes)},
      {"lost-directory.tif", lostDirectory},
      {"empty.png", ""},
      {"zero-size.png", WithSize(pngBytes, 0, 61)},
      {"absurd.png", WithSize(pngBytes, 100000, 100000)},
      {"too-wide.png", WithSize(pngBytes, 3000000, 1)},
  };
  const std::string out = Temp("damaged-out.png");
  for (const Case& c : inputs) {
    SCOPED_TRACE(c.name);
    const std::string in = Temp(c.name);
    SaveText(in, c.bytes);
    SaveText(out, "keep me");
    ProgramRun run = Apply({"--quiet", in, out});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(OneLineNaming(run, in));
    EXPECT_EQ(FileText(out), "keep me");
    EXPECT_EQ(FileText(in), c.bytes);
    std::remove(in.c_str());
  }
  std::remove(out.c_str());

  // Inputs that cannot be read, outputs that cannot be written.
  const std::string never = Temp("never.png");
  ProgramRun missing = Apply({"--quiet", Temp("no-such-file.png"), never});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(OneLineNaming(missing, "no-such-file.png"));
  ProgramRun folder = Apply({"--quiet", ExecutableDirectory(), never});
  EXPECT_EQ(folder.exitCode, 1);
  EXPECT_FALSE(Exists(never));
  for (const std::string& target : {Temp("no/such/folder/out.png"), Temp("out.gif")}) {
    SCOPED_TRACE(target);
    ProgramRun unwritable = Apply({"--quiet", png, target});
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_TRUE(OneLineNaming(unwritable, target));
    EXPECT_FALSE(Exists(target));
  }
  EXPECT_EQ(FileText(png), pngBytes);
  std::remove(png.c_str());
  std::remove(tif.c_str());
}

TEST(Kestrelle, ACancelledRunWritesNoOutput) {
  const std::string in = Temp("cancel.png"), out = Temp("cancel-out.png");
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, NoiseImage(3, 8, 4), &error)) << error;
  // As if Ctrl-C came while the filter ran: it stops at the next tile.
  cli::RequestCancel();
  std::vector<std::string> args = kWarmCast;
  args.push_back("--module");
  args.push_back(BuiltModulePath());
  args.push_back(in);
  args.push_back(out);
  EXPECT_EQ(cli::ApplyCommand(args), cli::kCancelled);
  EXPECT_FALSE(Exists(out));
  std::remove(in.c_str());
}
