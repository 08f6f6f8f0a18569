#include "platform/headless/file_dialog_answer.h"

#include <deque>

namespace headless {
namespace {

struct Answer {
  bool chosen;
  std::string fileName;
};

std::deque<Answer>& Answers() {
  static std::deque<Answer> answers;
  return answers;
}

std::vector<platform::FileDialogRequest>& Requests() {
  static std::vector<platform::FileDialogRequest> requests;
  return requests;
}

}  // namespace

void QueueFileDialogAnswer(const char* fileName) {
  Answers().push_back(Answer{fileName != nullptr, fileName ? fileName : ""});
}

void ClearFileDialogAnswers() {
  Answers().clear();
  Requests().clear();
}

bool AnswerFileDialog(const platform::FileDialogRequest& request, std::string& fileName) {
  Requests().push_back(request);
  if (Answers().empty()) return false;
  const Answer a = Answers().front();
  Answers().pop_front();
  fileName = a.fileName;
  return a.chosen;
}

const std::vector<platform::FileDialogRequest>& FileDialogRequests() { return Requests(); }

}  // namespace headless
