// Modal message boxes, the only way this filter talks to the user outside its
// dialog. On Windows they are real MessageBoxA calls without owner window and
// with only an OK button; in the native build the text goes to the host's
// standard error. Either way a sink installed by a test or by the bundled
// host sees every box first, so the exact text and caption can be checked
// without a modal window blocking the run.
#pragma once

#include <string>

namespace platform {

// The caption of every message box but the About box.
constexpr const char* kMessageCaption = "Verdaline";

void ShowMessageBox(const std::string& text, const char* caption = kMessageCaption);

// A sink replaces the OS box (and the native stderr line) while installed.
typedef void (*MessageSink)(const char* text, const char* caption, void* context);
void SetMessageSink(MessageSink sink, void* context);

}  // namespace platform
