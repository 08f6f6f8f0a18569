// What the tests of kestrelle as a separate process share: scratch names,
// noise pictures as files hold them, and running `kestrelle apply`.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imageio/image_io.h"
#include "tests/render_support.h"
#include "tests/run_program.h"
#include "tests/test_support.h"

namespace cli_tests {

inline std::string Temp(const std::string& name) { return ExecutableDirectory() + "cli-" + name; }

inline bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// An empty folder beside the test program for one scenario, named with the
// suite's `prefix`, its path ending in a separator (Windows' file dialogs
// take one kind only).
inline std::string EmptyFolder(const std::string& prefix, const std::string& name) {
  const std::string path = ExecutableDirectory() + prefix + name;
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
  std::filesystem::create_directories(path);
#ifdef _WIN32
  return path + "\\";
#else
  return path + "/";
#endif
}

// What a run said holds `text`, and if not, what it said instead.
#define EXPECT_SAYS(run, text) \
  EXPECT_NE((run).output.find(text), std::string::npos) << "expected: " << (text) << "\n  said: " << (run).output

inline host::Image NoiseImage(int16 planes, int32 depth, uint32 seed) {
  host::Image image;
  image.document = host::MakeDocument(97, 61, planes, depth);
  FillFileNoise(image.document, seed);
  return image;
}

inline const std::vector<std::string> kWarmCast = {"--red-gain", "0.8", "--red-gain-fine", "0.3",
                                                   "--blue-gain=1.25", "--quiet"};

inline ProgramRun Apply(std::vector<std::string> args) {
  args.insert(args.begin(), "apply");
  return RunProgram(KestrelleProgram(), args);
}

inline host::Image Read(const std::string& path) {
  host::Image image;
  std::string error;
  EXPECT_TRUE(host::ReadImage(path, image, &error)) << error;
  return image;
}

}  // namespace cli_tests
