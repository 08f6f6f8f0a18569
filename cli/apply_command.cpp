#include <cstdio>
#include <string>

#include "cli/apply_options.h"
#include "cli/apply_session.h"
#include "cli/batch_command.h"
#include "cli/cli.h"
#include "cli/interrupts.h"
#include "cli/worker_pool.h"

namespace cli {
namespace {

class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled) {}
  ~ProgressBar() { Finish(); }
  void Show(int32 done, int32 total) {
    if (!enabled_ || total <= 0) return;
    const int percent = int(int64(done) * 100 / total);
    if (percent == last_) return;
    last_ = percent;
    const int filled = percent * 30 / 100;
    std::fprintf(stderr, "\rFiltering [%s%s] %3d%%", std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(30 - filled), '.').c_str(), percent);
    std::fflush(stderr);
    shown_ = true;
  }
  void Finish() {
    if (shown_) std::fputc('\n', stderr);
    shown_ = false;
  }

 private:
  bool enabled_;
  bool shown_ = false;
  int last_ = -1;
};

}  // namespace

int ApplyCommand(const std::vector<std::string>& args) {
  CatchInterrupts();
  ApplyOptions o;
  if (int code = ParseApplyOptions(args, o)) return code;
  if (o.help) {
    std::fputs(ApplyHelp().c_str(), stdout);
    return kSuccess;
  }
  if (o.worker) return WorkerCommand(o);
  if (o.batch()) return BatchCommand(o);
  ApplySession session;
  std::string error;
  if (int code = session.Open(o, &error)) {
    Error(error);
    return code;
  }
  ProgressBar bar(!o.quiet && IsTerminal(stderr));
  session.SetProgress([&bar](int32 done, int32 total) { bar.Show(done, total); });
  const FileOutcome outcome = session.Run(FileTask{o.input, o.output, o.sideBySide, o.record});
  bar.Finish();
  for (const std::string& w : outcome.warnings) Error(w);
  if (!outcome.error.empty()) Error(outcome.error);
  return outcome.exitCode;
}

}  // namespace cli
