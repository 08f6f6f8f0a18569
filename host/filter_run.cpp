#include "host/filter_run.h"

#include "host/host.h"

namespace host {
namespace {

bool Empty(const VRect& r) { return r.bottom <= r.top || r.right <= r.left; }
bool Empty(const Rect& r) { return r.bottom <= r.top || r.right <= r.left; }

// Continue is repeated while any requested rectangle, in either form, is
// non-empty; a host that advances the state itself looks at inRect and
// outRect only.
bool Requesting(Host& h, bool withMask) {
  const FilterRecord& r = h.record();
  if (!Empty(r.inRect) || !Empty(r.outRect) || (withMask && !Empty(r.maskRect))) return true;
  if (const BigDocumentStruct* big = h.OfferedBigDocument()) {
    if (!Empty(big->inRect32) || !Empty(big->outRect32) || (withMask && !Empty(big->maskRect32))) return true;
  }
  return false;
}

// A filter that keeps asking is stopped after a generous number of rounds.
constexpr int kMostContinues = 1000000;

}  // namespace

int16 RunResult::Error() const {
  for (int16 r : {parameters, prepare, start, continued, finish})
    if (r != 0) return r;
  return 0;
}

RunResult RunFilter(Host& host, PluginMainProc entry, bool askForParameters,
                    const std::function<void()>& afterParameters) {
  RunResult result;
  const HostOptions& options = host.options();
  // Hosts that keep nothing between runs start every one from scratch.
  if (options.parametersEveryRun) {
    host.ForgetPluginState();
    askForParameters = true;
  }
  // Hosts that ignore the plug-in's result codes go on regardless.
  const bool stopOnError = !options.ignoresErrors;
  if (askForParameters) {
    result.parameters = host.Call(entry, filterSelectorParameters);
    if (result.parameters != 0 && stopOnError) return result;
    if (result.parameters == 0 && afterParameters) afterParameters();
  }
  result.prepare = host.Call(entry, filterSelectorPrepare);
  if (result.prepare != 0 && stopOnError) return result;
  result.start = host.Call(entry, filterSelectorStart);
  if (result.start != 0 && stopOnError) return result;
  result.started = result.start == 0;
  if (options.hostAdvancesState) {
    // The host writes back what the filter left in outData, and hands out the
    // next buffers, itself: before each Continue and once after the last.
    // Finish never comes.
    while (Requesting(host, false) && result.continues < kMostContinues) {
      host.AdvanceState();
      ++result.continues;
      result.continued = host.Call(entry, filterSelectorContinue);
      if (result.continued != 0) break;
    }
    host.AdvanceState();
  } else {
    while (Requesting(host, true) && result.continues < kMostContinues) {
      ++result.continues;
      result.continued = host.Call(entry, filterSelectorContinue);
      if (result.continued != 0) break;
    }
    // Finish follows a successful Start, even after a failed Continue.
    result.finish = host.Call(entry, filterSelectorFinish);
    result.finished = true;
  }
  // The output reaches the document only when the run succeeded.
  if (result.Error() == noErr || !stopOnError) host.MergeOutput();
  return result;
}

}  // namespace host
