// kestrelle as users run it: a separate process, real files, exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "host/cli/cli.h"
#include "host/io/image_io.h"
#include "render_support.h"
#include "run_program.h"
#include "test_support.h"

using host::Document;
using host::Image;

namespace {

std::string Temp(const std::string& name) { return ExecutableDirectory() + "cli-" + name; }

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

Image NoiseImage(int16 planes, int32 depth, uint32 seed) {
  Image image;
  image.document = host::MakeDocument(97, 61, planes, depth);
  FillNoise(image.document, seed);
  if (depth == 32) {
    // Files hold what a 32-bit document holds: linear values in 0..1.
    for (size_t i = 0; i < image.document.pixels.size(); i += 4) {
      float v;
      std::memcpy(&v, &image.document.pixels[i], 4);
      v = v < 0 ? 0 : v > 1 ? 1 : v;
      std::memcpy(&image.document.pixels[i], &v, 4);
    }
  }
  return image;
}

const std::vector<std::string> kWarmCast = {"--red-gain", "0.8", "--red-gain-fine", "0.3",
                                            "--blue-gain=1.25", "--quiet"};

ProgramRun Apply(std::vector<std::string> args) {
  args.insert(args.begin(), "apply");
  return RunProgram(KestrelleProgram(), args);
}

Image Read(const std::string& path) {
  Image image;
  std::string error;
  EXPECT_TRUE(host::ReadImage(path, image, &error)) << error;
  return image;
}

}  // namespace

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
  const Case cases[] = {{"png", 3, 8},  {"png", 3, 16}, {"png", 1, 8},  {"tif", 3, 8},
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

TEST(Kestrelle, ADamagedInputFailsCleanlyAndTouchesNothing) {
  const std::string in = Temp("damaged.png"), out = Temp("damaged-out.png");
  std::string error;
  ASSERT_TRUE(host::WriteImage(in, NoiseImage(3, 8, 2), &error)) << error;
  {
    std::ifstream f(in, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    f.close();
    std::ofstream cut(in, std::ios::binary | std::ios::trunc);
    cut << bytes.substr(0, bytes.size() / 2);
  }
  {
    std::ofstream existing(out);
    existing << "keep me";
  }
  ProgramRun run = Apply({"--quiet", in, out});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("damaged.png"), std::string::npos) << run.output;
  std::ifstream kept(out);
  std::string content((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "keep me");

  ProgramRun missing = Apply({"--quiet", Temp("no-such-file.png"), Temp("never.png")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_FALSE(Exists(Temp("never.png")));
  std::remove(in.c_str());
  std::remove(out.c_str());
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
