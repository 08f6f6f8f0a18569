#include "imageio/io_support.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#endif

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

bool CheckFileHoldsImage(const char* format, int64_t fileBytes, uint64_t rawBytes, uint64_t maxRatio,
                         int64_t width, int64_t height, std::string* why) {
  if (fileBytes < 0) return true;  // not a regular file: rows are checked as they arrive
  if (rawBytes / maxRatio <= uint64_t(fileBytes)) return true;
  *why = std::string("damaged ") + format + ": the file is " + std::to_string(fileBytes) +
         " bytes, too small for the " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels its header claims";
  return false;
}

namespace {

template <size_t Bytes>
void Gather(const uint8* in, size_t inStep, uint8* out, size_t outStep, int32 count) {
  for (int32 k = 0; k < count; ++k, in += inStep, out += outStep) std::memcpy(out, in, Bytes);
}

void Scale16(uint8* p, size_t count) {
  for (size_t i = 0; i < count; ++i, p += 2) {
    uint16 v;
    std::memcpy(&v, p, 2);
    v = HostFromFile16(v);
    std::memcpy(p, &v, 2);
  }
}

}  // namespace

void HostFrom16(uint8* samples, size_t count) { Scale16(samples, count); }

void Swap16(uint8* p, size_t count) {
  for (size_t i = 0; i < count; ++i, p += 2) {
    const uint8 t = p[0];
    p[0] = p[1];
    p[1] = t;
  }
}

void FileRowToHost(const uint8* file, const ImageShape& s, uint8* colour, uint8* alpha) {
  const size_t b = size_t(s.SampleBytes());
  const size_t colourBytes = size_t(s.planes) * b;
  const int32 w = s.width;
  if (!s.alpha) {
    std::memcpy(colour, file, s.RowBytes());
  } else {
    const size_t step = colourBytes + b;
    switch (colourBytes) {
      case 1: Gather<1>(file, step, colour, 1, w); break;
      case 2: Gather<2>(file, step, colour, 2, w); break;
      case 3: Gather<3>(file, step, colour, 3, w); break;
      case 4: Gather<4>(file, step, colour, 4, w); break;
      case 6: Gather<6>(file, step, colour, 6, w); break;
      default: Gather<12>(file, step, colour, 12, w); break;
    }
    if (alpha) {
      switch (b) {
        case 1: Gather<1>(file + colourBytes, step, alpha, 1, w); break;
        case 2: Gather<2>(file + colourBytes, step, alpha, 2, w); break;
        default: Gather<4>(file + colourBytes, step, alpha, 4, w); break;
      }
    }
  }
  if (s.depth == 16) Scale16(colour, size_t(w) * size_t(s.planes));
}

void HostRowToFile(const uint8* colour, const uint8* alpha, const ImageShape& s, uint8* file) {
  const size_t b = size_t(s.SampleBytes());
  const int32 w = s.width;
  const size_t step = size_t(FileSamples(s)) * b;
  if (s.depth == 16) {
    for (int32 x = 0; x < w; ++x) {
      for (int p = 0; p < s.planes; ++p) {
        uint16 h;
        std::memcpy(&h, colour + (size_t(x) * s.planes + p) * 2, 2);
        h = FileFromHost16(h);
        std::memcpy(file + size_t(x) * step + size_t(p) * 2, &h, 2);
      }
    }
  } else if (!s.alpha) {
    std::memcpy(file, colour, s.RowBytes());
    return;
  } else {
    const size_t colourBytes = size_t(s.planes) * b;
    switch (colourBytes) {
      case 1: Gather<1>(colour, 1, file, step, w); break;
      case 3: Gather<3>(colour, 3, file, step, w); break;
      case 4: Gather<4>(colour, 4, file, step, w); break;
      default: Gather<12>(colour, 12, file, step, w); break;
    }
  }
  if (s.alpha) {
    const size_t at = size_t(s.planes) * b;
    switch (b) {
      case 1: Gather<1>(alpha, 1, file + at, step, w); break;
      case 2: Gather<2>(alpha, 2, file + at, step, w); break;
      default: Gather<4>(alpha, 4, file + at, step, w); break;
    }
  }
}

void FilePlaneToHost(const uint8* file, const ImageShape& s, int sample, uint8* colour,
                     uint8* alpha) {
  const size_t b = size_t(s.SampleBytes());
  const int32 w = s.width;
  if (sample >= s.planes) {
    if (alpha) std::memcpy(alpha, file, size_t(w) * b);
    return;
  }
  uint8* out = colour + size_t(sample) * b;
  const size_t step = size_t(s.planes) * b;
  if (s.depth == 16) {
    for (int32 x = 0; x < w; ++x) {
      uint16 v;
      std::memcpy(&v, file + size_t(x) * 2, 2);
      v = HostFromFile16(v);
      std::memcpy(out + size_t(x) * step, &v, 2);
    }
    return;
  }
  switch (b) {
    case 1: Gather<1>(file, 1, out, step, w); break;
    default: Gather<4>(file, 4, out, step, w); break;
  }
}

void HostPlaneToFile(const uint8* colour, const uint8* alpha, const ImageShape& s, int sample,
                     uint8* file) {
  const size_t b = size_t(s.SampleBytes());
  const int32 w = s.width;
  if (sample >= s.planes) {
    std::memcpy(file, alpha, size_t(w) * b);
    return;
  }
  const uint8* in = colour + size_t(sample) * b;
  const size_t step = size_t(s.planes) * b;
  if (s.depth == 16) {
    for (int32 x = 0; x < w; ++x) {
      uint16 h;
      std::memcpy(&h, in + size_t(x) * step, 2);
      h = FileFromHost16(h);
      std::memcpy(file + size_t(x) * 2, &h, 2);
    }
    return;
  }
  switch (b) {
    case 1: Gather<1>(in, step, file, 1, w); break;
    default: Gather<4>(in, step, file, 4, w); break;
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

std::string SystemError(int code) { return std::strerror(code); }

void Warn(std::vector<std::string>* warnings, const std::string& text) {
  if (warnings && std::find(warnings->begin(), warnings->end(), text) == warnings->end()) {
    warnings->push_back(text);
  }
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

int64_t StoredFileSize(std::FILE* f) {
#ifdef _WIN32
  return _filelengthi64(_fileno(f));
#else
  struct stat info;
  return fstat(fileno(f), &info) == 0 ? int64_t(info.st_size) : -1;
#endif
}

bool ReadExactly(std::FILE* f, int64_t at, uint8* out, size_t n) {
  return at >= 0 && Seek(f, at, SEEK_SET) == 0 && std::fread(out, 1, n, f) == n;
}

bool WriteExactly(std::FILE* f, int64_t at, const uint8* data, size_t n) {
  return at >= 0 && Seek(f, at, SEEK_SET) == 0 && std::fwrite(data, 1, n, f) == n;
}

int64_t FileSize(std::FILE* f) {
  const int64_t at = Tell(f);
  if (at < 0 || Seek(f, 0, SEEK_END) != 0) return -1;
  const int64_t size = Tell(f);
  if (Seek(f, at, SEEK_SET) != 0) return -1;
  return size;
}

}  // namespace io
}  // namespace host
