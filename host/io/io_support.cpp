#include "host/io/io_support.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace host {
namespace io {

bool CheckShape(int64_t width, int64_t height, int samplesPerPixel, int bytesPerSample,
                std::string* why) {
  if (width <= 0 || height <= 0) {
    *why = "the image has no pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")";
    return false;
  }
  if (width > kMaxSide || height > kMaxSide) {
    *why = "the image is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, more than the " + std::to_string(kMaxSide) + " a side we accept";
    return false;
  }
  const uint64_t bytes = uint64_t(width) * uint64_t(height) * uint64_t(samplesPerPixel) *
                         uint64_t(bytesPerSample);
  if (bytes > kMaxPixelBytes) {
    *why = "the image is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, more than the 2 GiB of pixel data we accept";
    return false;
  }
  return true;
}

bool AllocateImage(Image& image, int32 width, int32 height, int16 planes, int32 depth,
                   bool hasAlpha) {
  Document& d = image.document;
  d.width = width;
  d.height = height;
  d.planes = planes;
  d.depth = depth;
  d.imageMode = ModeFor(planes, depth);
  try {
    d.pixels.assign(d.RowBytes() * size_t(height), 0);
    if (hasAlpha) {
      image.alpha.assign(size_t(width) * size_t(height) * size_t(d.SampleBytes()), 0);
    } else {
      image.alpha.clear();
    }
  } catch (const std::bad_alloc&) {
    d.pixels = {};
    image.alpha = {};
    return false;
  } catch (const std::length_error&) {
    d.pixels = {};
    image.alpha = {};
    return false;
  }
  return true;
}

namespace {

// Where sample `s` of pixel (x, y) lives: in the document or in the alpha
// buffer, at which offset, and how far apart neighbouring pixels' samples are.
struct Run {
  bool alpha;
  size_t offset;
  size_t step;
};

Run SampleRun(const Image& image, int32 x, int32 y, int s) {
  const Document& d = image.document;
  if (s < d.planes) {
    return {false, size_t(d.Sample(x, y, s) - d.pixels.data()), d.PixelBytes()};
  }
  const size_t step = size_t(d.SampleBytes());
  return {true, (size_t(y) * size_t(d.width) + size_t(x)) * step, step};
}

template <size_t Bytes>
void CopyRun(uint8* out, size_t outStep, const uint8* in, size_t inStep, int32 count) {
  for (int32 k = 0; k < count; ++k, out += outStep, in += inStep) std::memcpy(out, in, Bytes);
}

void CopySamples(uint8* out, size_t outStep, const uint8* in, size_t inStep, int32 count,
                 int32 bytes) {
  switch (bytes) {
    case 1: CopyRun<1>(out, outStep, in, inStep, count); break;
    case 2: CopyRun<2>(out, outStep, in, inStep, count); break;
    default: CopyRun<4>(out, outStep, in, inStep, count); break;
  }
}

}  // namespace

void PutSamples(Image& image, int32 x, int32 y, int32 count, int first, int n, const uint8* src,
                size_t srcPixelBytes) {
  const int32 bytes = image.document.SampleBytes();
  for (int i = 0; i < n; ++i) {
    const int s = first + i;
    const Run run = SampleRun(image, x, y, s);
    const size_t step = run.step;
    uint8* out = (run.alpha ? image.alpha.data() : image.document.pixels.data()) + run.offset;
    const uint8* in = src + size_t(i) * size_t(bytes);
    if (bytes == 2 && s < image.document.planes) {
      for (int32 k = 0; k < count; ++k, out += step, in += srcPixelBytes) {
        uint16 v;
        std::memcpy(&v, in, 2);
        v = HostFromFile16(v);
        std::memcpy(out, &v, 2);
      }
    } else {
      CopySamples(out, step, in, srcPixelBytes, count, bytes);
    }
  }
}

void GetSamples(const Image& image, int32 x, int32 y, int32 count, int first, int n, uint8* dst,
                size_t dstPixelBytes) {
  const int32 bytes = image.document.SampleBytes();
  for (int i = 0; i < n; ++i) {
    const int s = first + i;
    const Run run = SampleRun(image, x, y, s);
    const size_t step = run.step;
    const uint8* in = (run.alpha ? image.alpha.data() : image.document.pixels.data()) + run.offset;
    uint8* out = dst + size_t(i) * size_t(bytes);
    if (bytes == 2 && s < image.document.planes) {
      for (int32 k = 0; k < count; ++k, in += step, out += dstPixelBytes) {
        uint16 h;
        std::memcpy(&h, in, 2);
        h = FileFromHost16(h);
        std::memcpy(out, &h, 2);
      }
    } else {
      CopySamples(out, dstPixelBytes, in, step, count, bytes);
    }
  }
}

std::string OneLine(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
  return out;
}

int Seek(std::FILE* f, int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(f, offset, whence);
#else
  return fseeko(f, off_t(offset), whence);
#endif
}

int64_t Tell(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return int64_t(ftello(f));
#endif
}

}  // namespace io
}  // namespace host
