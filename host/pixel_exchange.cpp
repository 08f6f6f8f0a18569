// The host's side of advanceState: it hands the plug-in the pixels of the
// rectangles and planes it asked for (input sampled at the integral
// inputRate), gives it an output buffer, and writes that buffer back into the
// document at the next request or when the plug-in returns.
#include <algorithm>
#include <cstring>

#include "host.h"

namespace host {
namespace {

// Requests beyond this are refused as the host running out of memory.
constexpr int64 kLargestRequest = int64(1) << 30;

bool Uses32Bit(const BigDocumentStruct* big) { return big && big->PluginUsing32BitCoordinates; }

VRect Read(const BigDocumentStruct* big, const Rect& small, const VRect& wide) {
  if (Uses32Bit(big)) return wide;
  return VRect{small.top, small.left, small.bottom, small.right};
}

OSErr AdvanceStateThunk() { return Host::Active() ? Host::Active()->AdvanceState() : paramErr; }
void ProgressThunk(int32 done, int32 total) {
  if (Host::Active()) Host::Active()->Progress(done, total);
}
Boolean AbortThunk() { return Host::Active() && Host::Active()->Abort(); }

// The planes of a mode that hold colour; any further plane of the document
// is transparency.
int16 ColourPlanes(int16 mode) {
  switch (mode) {
    case plugInModeGrayScale:
    case plugInModeGray16:
    case plugInModeGray32:
      return 1;
    case plugInModeCMYKColor:
    case plugInModeCMYK64:
      return 4;
    default:
      return 3;
  }
}

bool SameRect(const VRect& a, const VRect& b) {
  return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

}  // namespace

// How the record describes the interleaved buffers: a pixel is its planes'
// samples side by side, one plane a sample further than the previous.
void Host::DescribeColumns(FilterRecord& r, int16 inPlanes, int16 outPlanes, int32 sample) const {
  if (options_.columnBytesZero) {
    r.inColumnBytes = r.outColumnBytes = 0;
    r.inPlaneBytes = r.outPlaneBytes = 1;
    return;
  }
  r.inColumnBytes = inPlanes * sample;
  r.outColumnBytes = outPlanes * sample;
  r.inPlaneBytes = r.outPlaneBytes = sample;
  // A request that includes the plane after the colour planes (transparency)
  // is described as if it did not.
  if (options_.columnBytesOmitTransparency && r.outHiPlane >= ColourPlanes(r.imageMode) && outPlanes > 1)
    r.outColumnBytes = (outPlanes - 1) * sample;
}

AdvanceStateProc AdvanceStateEntry() { return AdvanceStateThunk; }
ProgressProc ProgressEntry() { return ProgressThunk; }
TestAbortProc AbortEntry() { return AbortThunk; }

void Host::CommitOutput() {
  if (!outputPending_) return;
  outputPending_ = false;
  if (pendingData_ == nullptr) return;
  const Document& d = document_;
  const int32 sample = d.SampleBytes();
  const int16 count = int16(pendingHi_ - pendingLo_ + 1);
  for (int32 y = pendingRect_.top; y < pendingRect_.bottom; ++y) {
    if (y < 0 || y >= d.height) continue;
    const uint8* row = pendingData_ + int64(y - pendingRect_.top) * pendingRowBytes_;
    for (int32 x = pendingRect_.left; x < pendingRect_.right; ++x) {
      if (x < 0 || x >= d.width) continue;
      const uint8* pixel = row + int64(x - pendingRect_.left) * count * sample;
      for (int16 p = 0; p < count; ++p) {
        std::memcpy(document_.Sample(x, y, pendingLo_ + p), pixel + p * sample, size_t(sample));
      }
    }
  }
}

OSErr Host::AdvanceState() {
  if (!ledger_.Enter("advanceState")) return memFullErr;
  if (options_.keepsOnlyLastOutput) {
    outputPending_ = false;  // the previous chunk is dropped, not written back
  } else {
    CommitOutput();
  }
  FilterRecord& r = record_;
  const Document& d = document_;
  const VRect in = Read(OfferedBigDocument(), r.inRect, bigDocument_.inRect32);
  const VRect out = Read(OfferedBigDocument(), r.outRect, bigDocument_.outRect32);
  // A host that does not sample ignores the rate: full resolution.
  const int32 rate = options_.samplingSupport == 0 ? 1 : std::max<int32>(1, r.inputRate >> 16);
  requests_.push_back(PixelRequest{in, out, r.inLoPlane, r.inHiPlane, r.outLoPlane, r.outHiPlane, rate});

  const int32 sample = d.SampleBytes();
  auto planesOf = [&](int16 lo, int16 hi) -> int16 {
    if (lo < 0 || hi >= d.planes || hi < lo) return 0;
    return int16(hi - lo + 1);
  };
  const int16 inPlanes = planesOf(r.inLoPlane, r.inHiPlane);
  const int16 outPlanes = planesOf(r.outLoPlane, r.outHiPlane);
  const int64 inW = int64(in.right) - in.left, inH = int64(in.bottom) - in.top;
  const int64 outW = int64(out.right) - out.left, outH = int64(out.bottom) - out.top;
  if (inW < 0 || inH < 0 || outW < 0 || outH < 0) return paramErr;
  const int64 inRowBytes = inW * inPlanes * sample + options_.rowPadding;
  const int64 outRowBytes = outW * outPlanes * sample + options_.rowPadding;
  if (inRowBytes * inH > kLargestRequest || outRowBytes * outH > kLargestRequest ||
      inRowBytes > 0x7fffffff || outRowBytes > 0x7fffffff) {
    return memFullErr;
  }

  // Where the buffers have no image, this host leaves whatever was there.
  const uint8 outside = options_.outsideImageUninitialised ? 0xCD : 0;
  // The same rectangle as the last request: this host hands back the buffer
  // it made then, whatever planes or rate the new request names.
  const bool cached = options_.cachesInputByRect && inputCached_ && SameRect(in, cachedInRect_);
  const void* cachedData = r.inData;
  const int32 cachedRowBytes = r.inRowBytes;
  r.inData = r.outData = nullptr;
  r.inRowBytes = r.outRowBytes = 0;
  DescribeColumns(r, inPlanes, outPlanes, sample);
  const bool sameGeometry = in.top == out.top && in.left == out.left && in.bottom == out.bottom &&
                            in.right == out.right && r.inLoPlane == r.outLoPlane &&
                            r.inHiPlane == r.outHiPlane && rate == 1;

  // Straight into the document: all planes, full resolution, inside it.
  if (options_.output == OutputBuffer::SharedWithInput && sameGeometry && inPlanes == d.planes &&
      options_.rowPadding == 0 && in.top >= 0 && in.left >= 0 && in.bottom <= d.height &&
      in.right <= d.width && inW > 0 && inH > 0) {
    uint8* origin = document_.Sample(in.left, in.top, 0);
    r.inData = r.outData = origin;
    r.inRowBytes = r.outRowBytes = int32(d.RowBytes());
    return noErr;
  }

  // Input: every rate-th pixel of the document; outside it, zeros.
  if (cached) {
    r.inData = const_cast<void*>(cachedData);
    r.inRowBytes = cachedRowBytes;
  } else if (inPlanes > 0 && inW > 0 && inH > 0) {
    inBuffer_.assign(size_t(inRowBytes * inH), outside);
    for (int64 y = 0; y < inH; ++y) {
      const int64 dy = (in.top + y) * rate;
      if (dy < 0 || dy >= d.height) continue;
      uint8* row = inBuffer_.data() + y * inRowBytes;
      for (int64 x = 0; x < inW; ++x) {
        const int64 dx = (in.left + x) * rate;
        if (dx < 0 || dx >= d.width) continue;
        std::memcpy(row + x * inPlanes * sample, d.Sample(int32(dx), int32(dy), r.inLoPlane),
                    size_t(inPlanes) * sample);
      }
    }
    r.inData = inBuffer_.data();
    r.inRowBytes = int32(inRowBytes);
  }
  inputCached_ = options_.cachesInputByRect;
  cachedInRect_ = in;

  // Output: full resolution, written back later.
  if (outPlanes > 0 && outW > 0 && outH > 0) {
    if (options_.output == OutputBuffer::SharedWithInput && sameGeometry && r.inData) {
      r.outData = r.inData;
      r.outRowBytes = r.inRowBytes;
    } else {
      const size_t bytes = size_t(outRowBytes * outH);
      if (options_.output == OutputBuffer::Stale) {
        // Whatever the last request left, topped up with a pattern no real
        // picture has.
        outBuffer_.resize(bytes, 0xA5);
      } else {
        outBuffer_.assign(bytes, outside);
        for (int64 y = 0; y < outH; ++y) {
          const int64 dy = out.top + y;
          if (dy < 0 || dy >= d.height) continue;
          uint8* row = outBuffer_.data() + y * outRowBytes;
          for (int64 x = 0; x < outW; ++x) {
            const int64 dx = out.left + x;
            if (dx < 0 || dx >= d.width) continue;
            std::memcpy(row + x * outPlanes * sample, d.Sample(int32(dx), int32(dy), r.outLoPlane),
                        size_t(outPlanes) * sample);
          }
        }
      }
      r.outData = outBuffer_.data();
      r.outRowBytes = int32(outRowBytes);
    }
    outputPending_ = true;
    pendingRect_ = out;
    pendingLo_ = r.outLoPlane;
    pendingHi_ = r.outHiPlane;
    pendingRowBytes_ = r.outRowBytes;
    pendingData_ = static_cast<uint8*>(r.outData);
  }
  return noErr;
}

void Host::Progress(int32 done, int32 total) {
  ledger_.Enter("progressProc");
  progress_.emplace_back(done, total);
  if (options_.onProgress) options_.onProgress(done, total);
}

bool Host::Abort() {
  const int k = (ledger_.Enter("abortProc"), ledger_.Count("abortProc"));
  if (options_.cancelRequested && options_.cancelRequested->load()) return true;
  return options_.abortAfter > 0 && k >= options_.abortAfter;
}

}  // namespace host
