#include "tests/test_support.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

#include "cli/cli.h"
#include "files/system_names.h"
#include "host/plugin_module.h"
#include "platform/message_box.h"


MessageCapture::MessageCapture() { platform::SetMessageSink(&MessageCapture::Sink, this); }

MessageCapture::~MessageCapture() { platform::SetMessageSink(nullptr, nullptr); }

void MessageCapture::Sink(const char* text, const char* caption, void* context) {
  static_cast<MessageCapture*>(context)->messages_.push_back({text, caption});
}

// The same directory kestrelle looks in for its module.
std::string ExecutableDirectory() { return cli::ProgramDirectory(); }

std::string BuiltModulePath() {
  // Another build of the module, to see what these tests make of it (an
  // older one, to check that a test catches the fault it was written for).
  if (const char* other = std::getenv("KESTRELLE_TEST_MODULE"))
    if (*other != '\0') return other;
  // Tests live in <build>/tests; the module in <build>.
  return ExecutableDirectory() + "../" + host::DefaultModuleName();
}

std::string UserConfigDirectory() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "no-test";
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.') c = '_';
  return files::NameOfPath(files::SystemPath(ExecutableDirectory()) / "user-config" / name);
}

std::string FileText(const std::string& path) {
  std::string bytes;
  files::ReadFileBytes(path, SIZE_MAX, &bytes);
  return bytes;
}

void SaveText(const std::string& path, const std::string& bytes) {
  if (std::FILE* f = files::OpenFile(path, "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

void FolderTest::SetUp() {
  dir_ = ExecutableDirectory() + prefix_ + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
  std::error_code ignored;
  std::filesystem::remove_all(files::SystemPath(dir_), ignored);
  std::filesystem::create_directories(files::SystemPath(dir_));
}

void FolderTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(files::SystemPath(dir_), ignored);
}

void ClearUserConfig() {
  std::error_code ignored;
  std::filesystem::remove_all(files::SystemPath(UserConfigDirectory()), ignored);
}

namespace {

// Every test gets an empty settings folder of its own, so the filter's
// per-user file (kept where a host has no registry) never carries one
// test's settings into another, nor into the user's own.
class UserConfigIsolation : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    const std::string folder = UserConfigDirectory();
    ClearUserConfig();
#ifdef _WIN32
    SetEnvironmentVariableW(L"APPDATA", files::Wide(folder).c_str());
#else
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
#endif
  }
};

const bool kIsolated = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new UserConfigIsolation);
  return true;
}();

}  // namespace
