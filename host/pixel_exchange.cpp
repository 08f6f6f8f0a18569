// The host's side of advanceState: it hands the plug-in the pixels of the
// rectangles and planes it asked for (input sampled at the integral
// inputRate), gives it an output buffer, and writes that buffer back into the
// document (or, where the output starts empty, into the output kept apart,
// so the document keeps its original pixels until the run ends) at the next
// request or when the plug-in returns.
#include <algorithm>
#include <cstring>

#include "host/host.h"

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
  const int32 left = std::max<int32>(pendingRect_.left, 0), right = std::min<int32>(pendingRect_.right, d.width);
  if (right <= left) return;
  for (int32 y = std::max<int32>(pendingRect_.top, 0); y < std::min<int32>(pendingRect_.bottom, d.height); ++y) {
    const uint8* row = pendingData_ + int64(y - pendingRect_.top) * pendingRowBytes_ +
                       int64(left - pendingRect_.left) * count * sample;
    if (count == d.planes) {  // whole pixels side by side: one span
      std::memcpy(OutputAt(left, y, 0), row, size_t(right - left) * d.PixelBytes());
      continue;
    }
    for (int32 x = left; x < right; ++x, row += count * sample)
      std::memcpy(OutputAt(x, y, pendingLo_), row, size_t(count) * sample);
  }
}

// Copies the document's pixels [x0, x0 + n * step) of row y, every step-th,
// planes lo .. lo + count - 1, into `to`.
void Host::CopyIn(uint8* to, int64 x0, int64 n, int64 step, int32 y, int16 lo, int16 count) {
  const Document& d = document_;
  const size_t bytes = size_t(count) * d.SampleBytes();
  if (step == 1 && count == d.planes) {
    std::memcpy(to, PixelAt(int32(x0), y, 0), size_t(n) * bytes);
    return;
  }
  for (int64 i = 0; i < n; ++i, to += bytes) std::memcpy(to, PixelAt(int32(x0 + i * step), y, lo), bytes);
}

OSErr Host::AdvanceState() {
  if (!ledger_.Enter("advanceState")) return memFullErr;
  CommitOutput();
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

  // The rows of the document the request touches.
  {
    int64 top = d.height, bottom = 0;
    if (inPlanes > 0 && inW > 0 && inH > 0) top = std::min<int64>(top, int64(in.top) * rate), bottom = std::max<int64>(bottom, (int64(in.bottom) - 1) * rate + 1);
    if (outPlanes > 0 && outW > 0 && outH > 0) top = std::min<int64>(top, out.top), bottom = std::max<int64>(bottom, out.bottom);
    top = std::max<int64>(top, 0);
    bottom = std::min<int64>(bottom, d.height);
    // Rows that cannot be had (a damaged file, a full disk): the host stops
    // the run as a user would, and says why itself (RowsError).
    if (bottom > top && !HoldRows(int32(top), int32(bottom))) return userCanceledErr;
  }

  // Straight into the document: all planes, full resolution, inside it.
  if (options_.output == OutputBuffer::SharedWithInput && shadow_.pixels.empty() && sameGeometry &&
      inPlanes == d.planes && options_.rowPadding == 0 && in.top >= 0 && in.left >= 0 && in.bottom <= d.height &&
      in.right <= d.width && inW > 0 && inH > 0 && (!rows_ || rows_->Contiguous(in.top, in.bottom))) {
    uint8* origin = PixelAt(in.left, in.top, 0);
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
    // The columns inside the document: x from first to last - 1.
    const int64 first = std::max<int64>(0, -int64(in.left));
    const int64 last = std::min<int64>(inW, (int64(d.width) - 1) / rate - in.left + 1);
    for (int64 y = 0; y < inH && last > first; ++y) {
      const int64 dy = (in.top + y) * rate;
      if (dy < 0 || dy >= d.height) continue;
      CopyIn(inBuffer_.data() + y * inRowBytes + first * inPlanes * sample, (in.left + first) * rate,
             last - first, rate, int32(dy), r.inLoPlane, inPlanes);
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
        const int64 first = std::max<int64>(0, -int64(out.left));
        const int64 last = std::min<int64>(outW, int64(d.width) - out.left);
        for (int64 y = 0; y < outH && last > first; ++y) {
          const int64 dy = out.top + y;
          if (dy < 0 || dy >= d.height) continue;
          CopyIn(outBuffer_.data() + y * outRowBytes + first * outPlanes * sample, out.left + first,
                 last - first, 1, int32(dy), r.outLoPlane, outPlanes);
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
