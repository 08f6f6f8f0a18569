// The handlers of the host's selectors. Each works on the bound call state.
#pragma once

#include "plugin/call_state.h"

void DoAbout(CallState& call);
void DoParameters(CallState& call);
void DoPrepare(CallState& call);
void DoStart(CallState& call);
void DoContinue(CallState& call);
void DoFinish(CallState& call);

// What the About box says.
extern const char* const kAboutText;

// The host memory Prepare leaves room for: two buffers of every plane (and
// the mask) at the largest tile, plus slack. Sides are compared unsigned, so
// a negative side counts as 256.
int64 MemoryNeed(int16 planes, bool haveMaskData, int32 width, int32 height);
