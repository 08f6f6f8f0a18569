// What the tests of kestrelle as a separate process share: scratch names,
// noise pictures as files hold them, and running `kestrelle apply`.
#pragma once

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
