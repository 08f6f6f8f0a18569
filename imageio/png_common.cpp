#include "imageio/png_common.h"

#include <cerrno>
#include <cstring>

namespace host {
namespace io {

void PngOnError(png_structp png, png_const_charp text) {
  auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
  // Our own I/O callbacks set a message first and call png_error with it.
  if (text != context->message) std::snprintf(context->message, sizeof context->message, "%s", text);
  png_longjmp(png, 1);
}

// Warnings concern ancillary chunks we may drop, and change nothing we keep;
// the latest is kept to explain an error that follows it.
void PngOnWarning(png_structp png, png_const_charp text) {
  auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
  std::snprintf(context->warning, sizeof context->warning, "%s", text);
}

void PngReadData(png_structp png, png_bytep data, size_t length) {
  auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
  if (std::fread(data, 1, length, context->file) == length) return;
  if (std::feof(context->file)) {
    std::snprintf(context->message, sizeof context->message, "the file is truncated");
  } else {
    std::snprintf(context->message, sizeof context->message, "read error: %s", std::strerror(errno));
  }
  png_error(png, context->message);
}

void PngWriteData(png_structp png, png_bytep data, size_t length) {
  auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
  if (std::fwrite(data, 1, length, context->file) == length) return;
  std::snprintf(context->message, sizeof context->message, "write error: %s", std::strerror(errno));
  png_error(png, context->message);
}

void PngFlushData(png_structp) {}  // the caller flushes and closes the file and checks both

}  // namespace io
}  // namespace host
