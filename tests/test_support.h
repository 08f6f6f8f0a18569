// Shared helpers for the tests: capturing message boxes, finding the module
// built next to the test program, and checking a host's balance.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host.h"

struct ShownMessage {
  std::string text;
  std::string caption;
};

// Collects every message box shown while it lives instead of showing it.
class MessageCapture {
 public:
  MessageCapture();
  ~MessageCapture();
  const std::vector<ShownMessage>& messages() const { return messages_; }
  void clear() { messages_.clear(); }

 private:
  static void Sink(const char* text, const char* caption, void* context);
  std::vector<ShownMessage> messages_;
};

// The directory the test program runs from, with a trailing separator.
std::string ExecutableDirectory();

// The module (Kestrelle.so, Kestrelle x64.8bf or Kestrelle.8bf) built next to
// the test program, or the one KESTRELLE_TEST_MODULE names.
std::string BuiltModulePath();

// The folder the current test's plug-in keeps per-user settings in (each
// test starts with none).
std::string UserConfigDirectory();
// Empties it, as for a user who never ran the filter.
void ClearUserConfig();

// A file's bytes as text ("" when it cannot be read), and text written as a
// whole file.
std::string FileText(const std::string& path);
void SaveText(const std::string& path, const std::string& bytes);

// A test with a folder of its own under the test program's folder, empty
// when the test starts and removed when it ends.
class FolderTest : public ::testing::Test {
 protected:
  explicit FolderTest(const char* prefix) : prefix_(prefix) {}
  void SetUp() override;
  void TearDown() override;
  std::string Path(const std::string& name) const { return dir_ + name; }
  std::string dir_;

 private:
  const char* prefix_;
};

// A test assertion that the host got back everything the plug-in acquired.
inline ::testing::AssertionResult IsBalanced(const host::Host& h) {
  std::string why;
  if (h.Balanced(&why)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "host not balanced: " << why;
}
