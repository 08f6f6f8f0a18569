#include "pixel_request.h"

#include <string>

#include "../platform/message_box.h"
#include "call_state.h"
#include "host_rects.h"
#include "host_services.h"

namespace {

// What the host holds after the requests of this call: the rectangle it last
// delivered, and the planes and rate it was asked for then.
struct HostBuffer {
  bool known = false;
  VRect in{};
  Fixed rate = kFixedOne;
  int16 planes = 0;
  // Before the first request of a call: what the record showed on entry.
  bool heldOnEntry = false;
  VRect entryIn{};
};

HostBuffer gHostBuffer;

bool SameRect(const VRect& a, const VRect& b) {
  return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

bool Empty(const VRect& r) { return r.bottom <= r.top || r.right <= r.left; }

// True when the host may hand back a buffer it made for another request of
// the same rectangle.
bool MayHoldOtherBuffer(const PixelRequest& request) {
  const HostBuffer& b = gHostBuffer;
  if (!b.known) return b.heldOnEntry && SameRect(b.entryIn, request.in);
  return SameRect(b.in, request.in) && (b.rate != request.rate || b.planes != request.planes);
}

OSErr Advance(FilterRecord& record, const VRect& in, Fixed rate, int16 planes) {
  SetInRect(record, in);
  record.inputRate = rate;
  record.inLoPlane = record.outLoPlane = 0;
  record.inHiPlane = record.outHiPlane = int16(planes - 1);
  const OSErr result = record.advanceState();
  gHostBuffer.known = true;
  gHostBuffer.in = in;
  gHostBuffer.rate = rate;
  gHostBuffer.planes = planes;
  return result;
}

// A one-pixel request of another rectangle, so that the next request is a
// change of rectangle for every host. The output rectangle is emptied for it
// (no output buffer) and put back afterwards.
OSErr AskForAnotherRectangle(FilterRecord& record, const PixelRequest& request) {
  const VRect filter = FilterRect(record);
  VRect other{filter.top, filter.left, filter.top + 1, filter.left + 1};
  if (SameRect(other, request.in)) other.right += 1;
  const VRect out = OutRect(record);
  SetOutRect(record, VRect{0, 0, 0, 0});
  const OSErr result = Advance(record, other, kFixedOne, request.planes);
  SetOutRect(record, out);
  return result;
}

// Why a delivered buffer does not match the request, or "" when it does.
std::string Mismatch(const char* what, const void* data, int32 rowBytes, int32 columnBytes,
                     const VRect& rect, int16 planes, int32 sampleBytes) {
  if (Empty(rect)) return "";
  const int64 pixelBytes = int64(planes) * sampleBytes;
  const int64 rowLength = int64(Width(rect)) * pixelBytes;
  const std::string channels = std::to_string(planes) + (planes == 1 ? " channel" : " channels");
  if (data == nullptr) return std::string("it handed over no ") + what + " pixels";
  if (rowBytes < rowLength)
    return std::string("its ") + what + " rows hold " + std::to_string(rowBytes) + " bytes where " +
           std::to_string(Width(rect)) + " pixels of " + channels + " need " + std::to_string(rowLength);
  if (columnBytes != 0 && columnBytes != pixelBytes)
    return std::string("its ") + what + " pixels lie " + std::to_string(columnBytes) +
           " bytes apart where " + channels + " take " + std::to_string(pixelBytes);
  return "";
}

std::string Check(const FilterRecord& record, const PixelRequest& request, int32 sampleBytes) {
  std::string why = Mismatch("input", record.inData, record.inRowBytes, record.inColumnBytes,
                             request.in, request.planes, sampleBytes);
  if (why.empty() && request.writesOut)
    why = Mismatch("output", record.outData, record.outRowBytes, record.outColumnBytes,
                   request.setOut ? request.out : OutRect(record), request.planes, sampleBytes);
  return why;
}

}  // namespace

void BeginPixelRequests(const FilterRecord& record) {
  gHostBuffer = HostBuffer{};
  gHostBuffer.heldOnEntry = record.inData != nullptr;
  gHostBuffer.entryIn = InRect(record);
}

OSErr RequestPixels(FilterRecord& record, const PixelRequest& request, DeliveredPixels& delivered) {
  delivered = DeliveredPixels{};
  if (record.advanceState == nullptr) return errPlugInHostInsufficient;
  if (request.planes <= 0) return filterBadParameters;
  const int32 depth = SampleDepth(record);
  if (depth != 8 && depth != 16 && depth != 32) return filterBadParameters;
  const int32 sampleBytes = depth / 8;
  if (request.setOut) SetOutRect(record, request.out);

  if (MayHoldOtherBuffer(request)) {
    if (const OSErr err = AskForAnotherRectangle(record, request)) return err;
  }
  if (const OSErr err = Advance(record, request.in, request.rate, request.planes)) return err;
  std::string why = Check(record, request, sampleBytes);
  if (!why.empty()) {
    // Perhaps a buffer kept from before: once more, after another rectangle.
    if (const OSErr err = AskForAnotherRectangle(record, request)) return err;
    if (const OSErr err = Advance(record, request.in, request.rate, request.planes)) return err;
    why = Check(record, request, sampleBytes);
  }
  if (!why.empty()) {
    if (!gCallState.hostFaultShown) {
      platform::ShowMessageBox("Kestrelle cannot read the image from this host application: asked for " +
                               std::to_string(Width(request.in)) + " x " +
                               std::to_string(Height(request.in)) + " pixels, " + why + ".");
      gCallState.hostFaultShown = true;
    }
    gCallState.reported = true;
    return filterBadParameters;
  }
  delivered.in = static_cast<const uint8*>(record.inData);
  delivered.inRowBytes = record.inRowBytes;
  delivered.out = static_cast<uint8*>(record.outData);
  delivered.outRowBytes = record.outRowBytes;
  delivered.sampleBytes = sampleBytes;
  return noErr;
}
