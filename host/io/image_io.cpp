#include "host/io/image_io.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

struct FileCloser {
  std::FILE* file = nullptr;
  ~FileCloser() {
    if (file) std::fclose(file);
  }
};

const uint8 kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// Classic TIFF (42) and BigTIFF (43), either byte order.
bool IsTiffSignature(const uint8* b, size_t n) {
  if (n < 4) return false;
  return (b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0) ||
         (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43));
}

bool FormatFromName(const std::string& path, ImageFormat* format) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (ext == "png") {
    *format = ImageFormat::Png;
    return true;
  }
  if (ext == "tif" || ext == "tiff") {
    *format = ImageFormat::Tiff;
    return true;
  }
  return false;
}

// What WriteImage needs to trust before touching any file.
bool CheckImage(const Image& image, std::string* why) {
  const Document& d = image.document;
  if (d.planes != 1 && d.planes != 3) {
    *why = "cannot write " + std::to_string(d.planes) + " colour planes (only 1 or 3)";
    return false;
  }
  if (d.depth != 8 && d.depth != 16 && d.depth != 32) {
    *why = "cannot write " + std::to_string(d.depth) + "-bit samples (only 8, 16 or 32)";
    return false;
  }
  const int spp = io::SamplesPerPixel(image);
  if (!io::CheckShape(d.width, d.height, spp, d.SampleBytes(), why)) return false;
  const size_t pixels = size_t(d.width) * size_t(d.height);
  if (d.pixels.size() != pixels * d.PixelBytes() ||
      (!image.alpha.empty() && image.alpha.size() != pixels * size_t(d.SampleBytes()))) {
    *why = "the image's sample buffers do not match its size";
    return false;
  }
  return true;
}

std::string SystemError(int code) { return std::strerror(code); }

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

bool ReadImage(const std::string& path, Image& out, std::string* error) {
  FileCloser file;
  file.file = std::fopen(path.c_str(), "rb");
  if (!file.file) {
    Fail(error, path, "cannot open: " + SystemError(errno));
    return false;
  }
  uint8 head[8] = {};
  const size_t n = std::fread(head, 1, sizeof head, file.file);
  if (n < sizeof head && std::ferror(file.file)) {
    Fail(error, path, "cannot read: " + SystemError(errno));
    return false;
  }
  if (n == 0) {
    Fail(error, path, "the file is empty");
    return false;
  }
  const bool png = n == sizeof head && std::memcmp(head, kPngSignature, sizeof head) == 0;
  const bool tiff = IsTiffSignature(head, n);
  if (n < sizeof head && std::memcmp(head, kPngSignature, n) == 0) {
    Fail(error, path, "damaged PNG: the file is truncated");
    return false;
  }
  if (!png && !tiff) {
    Fail(error, path, "not a PNG or TIFF file");
    return false;
  }
  if (io::Seek(file.file, 0, SEEK_SET) != 0) {
    Fail(error, path, "cannot read: " + SystemError(errno));
    return false;
  }
  Image image;
  std::string why;
  const bool ok = png ? io::ReadPng(file.file, image, &why) : io::ReadTiff(file.file, path, image, &why);
  if (!ok) {
    Fail(error, path, why);
    return false;
  }
  out = std::move(image);
  return true;
}

bool WriteImage(const std::string& path, const Image& image, std::string* error) {
  ImageFormat format;
  if (!FormatFromName(path, &format)) {
    Fail(error, path, "unknown output format: the name must end in .png, .tif or .tiff");
    return false;
  }
  std::string why;
  if (!CheckImage(image, &why)) {
    Fail(error, path, why);
    return false;
  }
  if (format == ImageFormat::Png && image.document.depth == 32) {
    Fail(error, path, "PNG cannot hold 32-bit floating-point samples; write a .tif or .tiff file instead");
    return false;
  }

  std::string temp;
  int code = 0;
  std::FILE* f = CreateTemporary(path, &temp, &code);
  if (!f) {
    Fail(error, path, "cannot write: " + SystemError(code));
    return false;
  }
  bool ok = format == ImageFormat::Png ? io::WritePng(f, image, &why)
                                       : io::WriteTiff(f, temp, image, &why);
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
