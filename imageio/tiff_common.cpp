#include "imageio/tiff_common.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "imageio/io_support.h"

namespace host {
namespace io {
namespace {

TiffFile& FileOf(thandle_t h) { return *static_cast<TiffFile*>(h); }

tmsize_t ReadProc(thandle_t h, void* data, tmsize_t size) {
  if (size <= 0) return 0;
  TiffFile& t = FileOf(h);
  if (t.last == TiffFile::Last::Write && Seek(t.file, 0, SEEK_CUR) != 0) return 0;
  t.last = TiffFile::Last::Read;
  const size_t n = std::fread(data, 1, size_t(size), t.file);
  if (n < size_t(size) && std::ferror(t.file) && t.readError == 0) t.readError = errno ? errno : EIO;
  return tmsize_t(n);
}

tmsize_t WriteProc(thandle_t h, void* data, tmsize_t size) {
  if (size <= 0) return 0;
  TiffFile& t = FileOf(h);
  if (t.last == TiffFile::Last::Read && Seek(t.file, 0, SEEK_CUR) != 0) return 0;
  t.last = TiffFile::Last::Write;
  const size_t n = std::fwrite(data, 1, size_t(size), t.file);
  if (n < size_t(size) && t.writeError == 0) t.writeError = errno ? errno : EIO;
  return tmsize_t(n);
}

toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
  // libtiff passes unsigned offsets; only SEEK_SET ones can be meaningful
  // beyond the signed range, and those are past any file we accept.
  if (offset > toff_t(INT64_MAX)) return toff_t(-1);
  TiffFile& t = FileOf(h);
  std::FILE* f = t.file;
  if (t.last == TiffFile::Last::Write) {
    // Appending strip after strip, libtiff asks for the end (or the offset
    // it already is at) each time: stay, rather than flush stdio's buffer
    // and have it read back the block it lands in.
    const int64_t at = Tell(f);
    if (whence == SEEK_SET && at >= 0 && at == int64_t(offset)) return offset;
    if (whence == SEEK_END && offset == 0 && at >= 0 && at >= StoredFileSize(f)) return toff_t(at);
  }
  if (Seek(f, int64_t(offset), whence) != 0) {
    // A seek flushes stdio's buffer first: a full disk shows up here.
    if (std::ferror(f) && t.writeError == 0) t.writeError = errno ? errno : EIO;
    return toff_t(-1);
  }
  t.last = TiffFile::Last::None;  // a seek lets either way follow
  const int64_t at = Tell(f);
  return at < 0 ? toff_t(-1) : toff_t(at);
}

int CloseProc(thandle_t) { return 0; }  // the caller owns, flushes and closes the file

toff_t SizeProc(thandle_t h) {
  const int64_t size = FileSize(FileOf(h).file);
  return size < 0 ? 0 : toff_t(size);
}

int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
  auto* m = static_cast<TiffMessages*>(user);
  m->any = true;
  if (m->used + 3 >= sizeof m->text) return 1;
  if (m->used > 0) {
    std::memcpy(m->text + m->used, "; ", 2);
    m->used += 2;
  }
  const int n = std::vsnprintf(m->text + m->used, sizeof m->text - m->used, format, args);
  if (n > 0) m->used = std::min(sizeof m->text - 1, m->used + size_t(n));
  return 1;  // handled: libtiff must not pass it on to its process-wide handler
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// A few libtiff messages bypass per-file handlers; by default libtiff prints
// those to stderr. This process shows its errors its own way.
void SilenceProcessWideHandlers() {
  static const bool silenced = [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    return true;
  }();
  (void)silenced;
}

struct Options {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  ~Options() {
    if (options) TIFFOpenOptionsFree(options);
  }
};

}  // namespace

TIFF* OpenTiff(TiffFile& file, const char* mode) {
  SilenceProcessWideHandlers();
  Options o;
  if (!o.options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(o.options, OnError, &file.messages);
  TIFFOpenOptionsSetWarningHandlerExtR(o.options, OnWarning, &file.messages);
  // No single allocation of libtiff's own beyond what any image we accept needs.
  TIFFOpenOptionsSetMaxSingleMemAlloc(o.options, tmsize_t(kMaxPixelBytes));
  const std::string m = std::string(mode) + "m";
  return TIFFClientOpenExt(file.name.c_str(), m.c_str(), thandle_t(&file), ReadProc, WriteProc,
                           SeekProc, CloseProc, SizeProc, MapProc, UnmapProc, o.options);
}

std::string TiffText(const TiffFile& file) {
  std::string text = file.messages.text;
  const std::string prefix = file.name + ": ";
  for (size_t at; (at = text.find(prefix)) != std::string::npos;) text.erase(at, prefix.size());
  return OneLine(text);
}

std::string TiffDamaged(const TiffFile& file, const std::string& what) {
  if (file.readError != 0) return "read error: " + SystemError(file.readError);
  std::string text = "damaged TIFF: " + what;
  if (file.messages.used > 0) text += " (" + TiffText(file) + ")";
  return text;
}

std::string TiffWriteFailed(const TiffFile& file, const std::string& what) {
  if (file.writeError != 0) return "write error: " + SystemError(file.writeError);
  return what + (file.messages.used ? " (" + TiffText(file) + ")" : std::string());
}

bool TiffUsesPredictor(uint16_t compression) {
  return compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE ||
         compression == COMPRESSION_DEFLATE;
}

}  // namespace io
}  // namespace host
