// The headless stand-in for the common file dialogs: the driver queues the
// answers (a file name, or a cancel) before the dialog is shown; each file
// dialog takes the next one, and the requests are kept for checks.
#pragma once

#include <string>
#include <vector>

#include "platform/file_dialog.h"

namespace headless {

// An answer for the next file dialog; `fileName` null means Cancel.
void QueueFileDialogAnswer(const char* fileName);
void ClearFileDialogAnswers();
// Takes the next answer; false (Cancel) when there is none.
bool AnswerFileDialog(const platform::FileDialogRequest& request, std::string& fileName);
// The requests made so far, oldest first.
const std::vector<platform::FileDialogRequest>& FileDialogRequests();

}  // namespace headless
