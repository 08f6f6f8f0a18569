// Every request this filter makes for pixels goes through here: the preview's
// proxy and the strips a pan uncovers, the eyedropper's area, the final
// render's tiles.
//
// Hosts are not the interface's letter. Some keep the buffer of the last
// rectangle they delivered and hand it back for a request of the same
// rectangle whatever planes or rate it names; some leave the column bytes at
// 0. So every request asks for all colour planes at once, interleaved; a
// rectangle is never asked for again at another rate or with other planes
// without a different rectangle in between; and what comes back is checked
// against what was asked before anything reads it. A host that hands back
// something else is asked once more after a different rectangle; if it still
// does, the user is told in words what the host did and nothing is read.
#pragma once

#include "hostapi/host_interface.h"

struct PixelRequest {
  VRect in{};              // the input rectangle (in the coordinates of the sampling rate)
  Fixed rate = kFixedOne;  // inputRate for the request
  int16 planes = 0;        // planes 0 .. planes - 1, interleaved, in and out
  // The colour planes among them, when further planes (transparency) follow;
  // 0: all are colour planes. Hosts that describe such a buffer's column
  // bytes as if the further planes were not there are believed when the
  // rows hold them all.
  int16 colourPlanes = 0;
  bool setOut = false;     // also set the output rectangle to `out` (else it stays as it is)
  VRect out{};
  bool writesOut = false;  // the output buffer is written: it must match `out` too
};

// The buffers of a request that passed the checks. Rows of `in` hold
// Width(request.in) pixels of `planes` samples each, `sampleBytes` apiece.
struct DeliveredPixels {
  const uint8* in = nullptr;
  int32 inRowBytes = 0;
  uint8* out = nullptr;
  int32 outRowBytes = 0;
  int32 sampleBytes = 1;
};

// Forgets what the host may hold from an earlier call. The entry point calls
// it at the start of every call, once the record is bound.
void BeginPixelRequests(const FilterRecord& record);

// Asks the host for the request's pixels and checks them. Returns noErr with
// `delivered` filled, or the error: the host's own, or filterBadParameters
// after a message saying what the host handed back.
OSErr RequestPixels(FilterRecord& record, const PixelRequest& request, DeliveredPixels& delivered);
