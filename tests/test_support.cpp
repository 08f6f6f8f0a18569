#include "test_support.h"

#include "host/cli/cli.h"
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
  // Tests live in <build>/tests; the module in <build>.
  return ExecutableDirectory() + "../" + host::DefaultModuleName();
}
