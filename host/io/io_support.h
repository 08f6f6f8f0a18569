// What the PNG and TIFF readers and writers share: the limits on what we
// accept, moving samples between file rows and the image, and stdio with
// 64-bit offsets. Internal to kestrelle_imageio.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "host/io/image_io.h"

namespace host {
namespace io {

// Larger than any camera or scan, small enough that a damaged header cannot
// make us reserve absurd amounts of memory.
constexpr int64_t kMaxSide = 2000000;
constexpr uint64_t kMaxPixelBytes = uint64_t(2) << 30;  // 2 GiB of samples, alpha included

// Checks dimensions and sample layout read from a file header against the
// limits above; on failure returns false with the reason in *why.
bool CheckShape(int64_t width, int64_t height, int samplesPerPixel, int bytesPerSample,
                std::string* why);

// Sizes the document (planes, depth, mode) and the alpha buffer; false when
// memory runs out.
bool AllocateImage(Image& image, int32 width, int32 height, int16 planes, int32 depth,
                   bool hasAlpha);

// A file's samples are numbered colour planes first, then alpha (the one
// extra sample). `src` holds `count` pixels starting at (x, y), its samples
// [first, first + n) in native byte order, `srcPixelBytes` apart; the file's
// 16-bit values are scaled into the host range on the way in.
void PutSamples(Image& image, int32 x, int32 y, int32 count, int first, int n, const uint8* src,
                size_t srcPixelBytes);
// The reverse, for writing: host 16-bit values come out in 0..65535.
void GetSamples(const Image& image, int32 x, int32 y, int32 count, int first, int n, uint8* dst,
                size_t dstPixelBytes);

inline int SamplesPerPixel(const Image& image) {
  return image.document.planes + (image.alpha.empty() ? 0 : 1);
}

// One line of text: messages from the libraries may contain line breaks.
std::string OneLine(std::string text);

// stdio with 64-bit offsets on every platform.
int Seek(std::FILE* f, int64_t offset, int whence);
int64_t Tell(std::FILE* f);

// The format readers and writers. They get an open file (positioned at its
// start) and the name to report; on failure they set *why to the reason,
// without the name.
bool ReadPng(std::FILE* f, Image& out, std::string* why);
bool ReadTiff(std::FILE* f, const std::string& name, Image& out, std::string* why);
bool WritePng(std::FILE* f, const Image& image, std::string* why);
bool WriteTiff(std::FILE* f, const std::string& name, const Image& image, std::string* why);

}  // namespace io
}  // namespace host
