#include "host/io/image_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "host/io/io_support.h"

namespace host {
namespace {

using io::OneLine;

void Fail(std::string* error, const std::string& path, const std::string& why) {
  if (error) *error = path + ": " + OneLine(why);
}

// What writing needs to trust before touching any file: the buffers match
// the image's size.
bool CheckBuffers(const Image& image, std::string* why) {
  const Document& d = image.document;
  if (d.width <= 0 || d.height <= 0 || (d.planes != 1 && d.planes != 3) ||
      (d.depth != 8 && d.depth != 16 && d.depth != 32)) {
    return CanWrite(ImageFormat::Tiff, ShapeOf(image), why);
  }
  const size_t pixels = size_t(d.width) * size_t(d.height);
  if (d.pixels.size() != pixels * d.PixelBytes() ||
      (!image.alpha.empty() && image.alpha.size() != pixels * size_t(d.SampleBytes()))) {
    *why = "the image's sample buffers do not match its size";
    return false;
  }
  return true;
}

// Rows in bands of about this many bytes: big enough that per-band costs
// vanish, small enough that cancelling is prompt.
constexpr size_t kBandBytes = size_t(4) << 20;

int32 BandRows(const ImageShape& s) {
  const size_t row = std::max<size_t>(1, s.RowBytes());
  return int32(std::max<size_t>(1, std::min<size_t>(size_t(s.height), kBandBytes / row)));
}

using io::SystemError;

#ifdef _WIN32
std::string WindowsError(DWORD code) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 code, 0, text, sizeof text, nullptr);
  return n ? OneLine(text) : "error " + std::to_string(code);
}
#endif

// A new file next to `target` that no one else has: exclusive creation, so
// two writers never share one, and readable and writable (libtiff may read
// back what it wrote).
std::FILE* CreateTemporary(const std::string& target, std::string* tempPath, int* errorCode) {
  static std::atomic<int> counter{0};
#ifdef _WIN32
  const long pid = long(_getpid());
#else
  const long pid = long(getpid());
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    *tempPath = target + ".kestrelle-" + std::to_string(pid) + "-" + std::to_string(++counter) + ".tmp";
#ifdef _WIN32
    const int fd = _open(tempPath->c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY,
                         _S_IREAD | _S_IWRITE);
#else
    const int fd = open(tempPath->c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
#endif
    if (fd < 0) {
      if (errno == EEXIST) continue;
      *errorCode = errno;
      return nullptr;
    }
#ifdef _WIN32
    std::FILE* f = _fdopen(fd, "w+b");
#else
    // Replacing a file keeps its permissions.
    struct stat existing;
    if (stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
      if (fchmod(fd, existing.st_mode & 07777) != 0) {
        // Not worth failing the write for; the file gets the default mode.
      }
    }
    std::FILE* f = fdopen(fd, "w+b");
#endif
    if (!f) {
      *errorCode = errno;
#ifdef _WIN32
      _close(fd);
#else
      close(fd);
#endif
      std::remove(tempPath->c_str());
      return nullptr;
    }
    return f;
  }
  *errorCode = EEXIST;
  return nullptr;
}

// Flushes everything to the disk and closes the file; false when any of it
// failed, so a file cut short by a full disk never replaces a good one.
bool FinishFile(std::FILE* f, int* errorCode) {
  bool ok = std::fflush(f) == 0 && !std::ferror(f);
  if (!ok) *errorCode = errno;
#ifdef _WIN32
  if (ok && _commit(_fileno(f)) != 0) {
    ok = false;
    *errorCode = errno;
  }
#else
  if (ok && fsync(fileno(f)) != 0) {
    ok = false;
    *errorCode = errno;
  }
#endif
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    *errorCode = errno;
  }
  return ok;
}

bool ReplaceFile(const std::string& from, const std::string& to, std::string* why) {
#ifdef _WIN32
  // rename() does not replace an existing file on Windows.
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  *why = "cannot replace the file: " + WindowsError(GetLastError());
#else
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  *why = "cannot replace the file: " + SystemError(errno);
#endif
  return false;
}

}  // namespace

bool FormatFromName(const std::string& path, ImageFormat* format) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (ext == "png") {
    *format = ImageFormat::Png;
  } else if (ext == "tif" || ext == "tiff") {
    *format = ImageFormat::Tiff;
  } else if (ext == "jpg" || ext == "jpeg") {
    *format = ImageFormat::Jpeg;
  } else {
    return false;
  }
  return true;
}

bool ReadImage(const std::string& path, Image& out, std::string* error, const ReadOptions& options) {
  ImageReader reader;
  if (!reader.Open(path, error, options)) return false;
  const ImageShape& s = reader.shape();
  Image image;
  static_cast<ImageProperties&>(image) = reader.properties();
  Document& d = image.document;
  d.width = s.width;
  d.height = s.height;
  d.planes = s.planes;
  d.depth = s.depth;
  d.imageMode = ModeFor(s.planes, s.depth);
  const size_t rowBytes = s.RowBytes(), alphaRowBytes = s.AlphaRowBytes();
  // Memory follows the rows that arrive: a damaged file that claims more
  // than it holds fails before we hold what it claims. Up to 64 times the
  // file's size (more than any photograph compresses) is reserved at once,
  // so ordinary files are read without a copy.
  const uint64_t plausible = std::max<uint64_t>(uint64_t(std::max<int64_t>(reader.fileSize(), 0)) * 64,
                                                uint64_t(16) << 20);
  int32 reserved = int32(std::min<uint64_t>(uint64_t(s.height), plausible / (rowBytes + alphaRowBytes) + 1));
  const int32 band = BandRows(s);
  try {
    d.pixels.resize(size_t(reserved) * rowBytes);
    image.alpha.resize(size_t(reserved) * alphaRowBytes);
    for (int32 y = 0; y < s.height; y += band) {
      const int32 rows = std::min(band, s.height - y);
      if (y + rows > reserved) {
        reserved = int32(std::min<int64_t>(s.height, std::max<int64_t>(y + rows, int64_t(reserved) * 2)));
        d.pixels.resize(size_t(reserved) * rowBytes);
        image.alpha.resize(size_t(reserved) * alphaRowBytes);
      }
      if (!reader.ReadRows(rows, d.pixels.data() + size_t(y) * rowBytes, rowBytes,
                           s.alpha ? image.alpha.data() + size_t(y) * alphaRowBytes : nullptr,
                           alphaRowBytes, error)) {
        return false;
      }
    }
  } catch (const std::bad_alloc&) {
    if (error) *error = path + ": not enough memory for the image";
    return false;
  } catch (const std::length_error&) {
    if (error) *error = path + ": not enough memory for the image";
    return false;
  }
  if (!reader.Finish(error)) return false;
  out = std::move(image);
  return true;
}

bool WriteImageToFile(std::FILE* file, ImageFormat format, const Image& image, std::string* error,
                      const WriteOptions& options) {
  std::string why;
  if (!CheckBuffers(image, &why)) {
    if (error) *error = why;
    return false;
  }
  const ImageShape s = ShapeOf(image);
  ImageWriter writer;
  if (!writer.Start(file, format, s, image, error, options)) return false;
  const size_t rowBytes = s.RowBytes(), alphaRowBytes = s.AlphaRowBytes();
  const int32 band = BandRows(s);
  for (int32 y = 0; y < s.height; y += band) {
    const int32 rows = std::min(band, s.height - y);
    if (!writer.WriteRows(rows, image.document.pixels.data() + size_t(y) * rowBytes, rowBytes,
                          s.alpha ? image.alpha.data() + size_t(y) * alphaRowBytes : nullptr,
                          alphaRowBytes, error)) {
      return false;
    }
  }
  return writer.Finish(error);
}

bool WriteImage(const std::string& path, const Image& image, std::string* error,
                const WriteOptions& options) {
  ImageFormat format;
  if (!FormatFromName(path, &format)) {
    Fail(error, path, "unknown output format: the name must end in .png, .tif, .tiff, .jpg or .jpeg");
    return false;
  }
  std::string why;
  if (!CheckBuffers(image, &why) || !CanWrite(format, ShapeOf(image), &why)) {
    Fail(error, path, why);
    return false;
  }

  std::string temp;
  int code = 0;
  std::FILE* f = CreateTemporary(path, &temp, &code);
  if (!f) {
    Fail(error, path, "cannot write: " + SystemError(code));
    return false;
  }
  bool ok = WriteImageToFile(f, format, image, &why, options);
  if (!FinishFile(f, &code) && ok) {
    ok = false;
    why = "cannot write: " + SystemError(code);
  }
  if (ok) ok = ReplaceFile(temp, path, &why);
  if (!ok) {
    std::remove(temp.c_str());
    Fail(error, path, why);
    return false;
  }
  return true;
}

}  // namespace host
