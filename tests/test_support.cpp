#include "test_support.h"

#include "host/plugin_module.h"
#include "platform/message_box.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#include <climits>
#endif

MessageCapture::MessageCapture() { platform::SetMessageSink(&MessageCapture::Sink, this); }

MessageCapture::~MessageCapture() { platform::SetMessageSink(nullptr, nullptr); }

void MessageCapture::Sink(const char* text, const char* caption, void* context) {
  static_cast<MessageCapture*>(context)->messages_.push_back({text, caption});
}

std::string ExecutableDirectory() {
#ifdef _WIN32
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path);
  return p.substr(0, p.find_last_of("\\/") + 1);
#else
  char path[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string p(path, n > 0 ? size_t(n) : 0);
  return p.substr(0, p.find_last_of('/') + 1);
#endif
}

std::string BuiltModulePath() {
  // Tests live in <build>/tests; the module in <build>.
  return ExecutableDirectory() + "../" + host::DefaultModuleName();
}
