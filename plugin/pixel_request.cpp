#include "plugin/pixel_request.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "plugin/call_state.h"
#include "plugin/host_rects.h"
#include "plugin/host_services.h"

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
                     const VRect& rect, int16 planes, int16 colourPlanes, int32 sampleBytes) {
  if (Empty(rect)) return "";
  const int64 pixelBytes = int64(planes) * sampleBytes;
  const int64 rowLength = int64(Width(rect)) * pixelBytes;
  const std::string channels = std::to_string(planes) + (planes == 1 ? " channel" : " channels");
  if (data == nullptr) return std::string("it handed over no ") + what + " pixels";
  if (rowBytes < rowLength)
    return std::string("its ") + what + " rows hold " + std::to_string(rowBytes) + " bytes where " +
           std::to_string(Width(rect)) + " pixels of " + channels + " need " + std::to_string(rowLength);
  // PaintShop Pro leaves the transparency plane out of the column bytes of
  // a buffer that holds it; the row length above says what the rows hold.
  const bool omitsFurtherPlanes = colourPlanes > 0 && colourPlanes < planes &&
                                  columnBytes == int64(colourPlanes) * sampleBytes;
  if (columnBytes != 0 && columnBytes != pixelBytes && !omitsFurtherPlanes)
    return std::string("its ") + what + " pixels lie " + std::to_string(columnBytes) +
           " bytes apart where " + channels + " take " + std::to_string(pixelBytes);
  return "";
}

std::string Check(const FilterRecord& record, const PixelRequest& request, int32 sampleBytes) {
  std::string why = Mismatch("input", record.inData, record.inRowBytes, record.inColumnBytes,
                             request.in, request.planes, request.colourPlanes, sampleBytes);
  if (why.empty() && request.writesOut)
    why = Mismatch("output", record.outData, record.outRowBytes, record.outColumnBytes,
                   request.setOut ? request.out : OutRect(record), request.planes, request.colourPlanes,
                   sampleBytes);
  return why;
}

// The checked request itself, at the rate the request names.
OSErr RequestChecked(FilterRecord& record, const PixelRequest& request, int32 sampleBytes) {
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
  return noErr;
}

// Full-resolution rows of a band, at most this many bytes per request.
constexpr int64 kSamplingBandBytes = int64(8) << 20;

// The pixels a sampling host would deliver, for a host that does not sample:
// every rate-th pixel of every rate-th row of the full-resolution rectangle
// behind the request, fetched in bands of rows and kept here.
std::vector<uint8> gSampled;

OSErr RequestSampledByFilter(FilterRecord& record, const PixelRequest& request, int32 sampleBytes,
                             DeliveredPixels& delivered) {
  const int64 n = request.rate >> 16;
  const VRect& in = request.in;
  const int64 width = Width(in), height = Height(in);
  const int64 pixelBytes = int64(request.planes) * sampleBytes;
  const int64 fullWidth = (width - 1) * n + 1;
  if (int64(in.left) * n + fullWidth > 0x7fffffff || int64(in.bottom) * n > 0x7fffffff ||
      width * height * pixelBytes > (int64(1) << 31))
    return memFullErr;
  gSampled.assign(size_t(width * height * pixelBytes), 0);
  const int64 rowsPerBand = std::max<int64>(1, kSamplingBandBytes / std::max<int64>(1, fullWidth * pixelBytes * n));
  for (int64 first = 0; first < height; first += rowsPerBand) {
    const int64 last = std::min(height, first + rowsPerBand);  // sampled rows [first, last)
    PixelRequest band = request;
    band.rate = kFixedOne;
    band.in.top = int32((in.top + first) * n);
    band.in.bottom = int32((in.top + last - 1) * n + 1);
    band.in.left = int32(in.left * n);
    band.in.right = int32(band.in.left + fullWidth);
    if (const OSErr err = RequestChecked(record, band, sampleBytes)) return err;
    const uint8* base = static_cast<const uint8*>(record.inData);
    for (int64 y = first; y < last; ++y) {
      const uint8* row = base + (y - first) * n * record.inRowBytes;
      uint8* out = gSampled.data() + y * width * pixelBytes;
      for (int64 x = 0; x < width; ++x) std::memcpy(out + x * pixelBytes, row + x * n * pixelBytes, size_t(pixelBytes));
    }
  }
  // The record tells what was asked, as after any other request.
  SetInRect(record, in);
  record.inputRate = request.rate;
  delivered.in = gSampled.data();
  delivered.inRowBytes = int32(width * pixelBytes);
  delivered.sampleBytes = sampleBytes;
  return noErr;
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
  // Hosts that do not sample deliver full resolution whatever the rate says:
  // the filter samples itself (only the input is ever sampled).
  if (request.rate > kFixedOne && record.samplingSupport == 0 && !request.writesOut && !Empty(request.in))
    return RequestSampledByFilter(record, request, sampleBytes, delivered);
  if (const OSErr err = RequestChecked(record, request, sampleBytes)) return err;
  delivered.in = static_cast<const uint8*>(record.inData);
  delivered.inRowBytes = record.inRowBytes;
  delivered.out = static_cast<uint8*>(record.outData);
  delivered.outRowBytes = record.outRowBytes;
  delivered.sampleBytes = sampleBytes;
  return noErr;
}
