// What the PNG reader and writer share: libpng's error and I/O callbacks.
//
// libpng reports errors by longjmp. Every call that can fail runs inside a
// small function that owns the setjmp; such functions hold only plain
// locals (no destructors for a longjmp to skip), and all buffers they fill
// are allocated by their callers beforehand. Internal to kestrelle_imageio.
#pragma once

#include <png.h>

#include <cstdio>
#include <string>

namespace host {
namespace io {

struct PngContext {
  std::FILE* file = nullptr;
  char message[256] = {};
  char warning[256] = {};  // the latest; libpng explains a bad IHDR only in warnings
};

[[noreturn]] void PngOnError(png_structp png, png_const_charp text);
void PngOnWarning(png_structp png, png_const_charp text);
void PngReadData(png_structp png, png_bytep data, size_t length);
void PngWriteData(png_structp png, png_bytep data, size_t length);
void PngFlushData(png_structp png);

}  // namespace io
}  // namespace host
