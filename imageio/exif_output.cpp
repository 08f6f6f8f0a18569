#include "imageio/exif_output.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include "imageio/byte_order.h"
#include "imageio/jpeg_common.h"
#include "imageio/metadata.h"

namespace host {
namespace io {

const char kUnreadThumbnail[] =
    "the EXIF thumbnail is not a JPEG we can read, so it cannot be made again from the corrected picture; it was "
    "left out";
const char kUnreadableThumbnail[] =
    "the EXIF thumbnail cannot be read, so it cannot be made again from the corrected picture; it was left out";
namespace {

// Cameras' thumbnails are 160 x 120; anything past this is no thumbnail we
// make (the accumulators would cost more than the picture is worth).
constexpr int kMaxThumbnailSide = 512;
// Below this the room is too small for any thumbnail worth showing.
constexpr uint32 kMinRoom = 1024;


// --- libjpeg in memory: each function owns its setjmp and holds nothing
// that needs destroying.

bool ReadThumbnailHeader(JpegErrors* e, jpeg_decompress_struct* cinfo, bool* created, const uint8* data,
                         size_t size, int* w, int* h, int* quality) {
  if (setjmp(e->jump)) return false;
  jpeg_create_decompress(cinfo);
  *created = true;
  jpeg_mem_src(cinfo, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  *w = int(cinfo->image_width);
  *h = int(cinfo->image_height);
  const JQUANT_TBL* luma = cinfo->quant_tbl_ptrs[0];
  *quality = luma ? EstimateJpegQuality(luma, cinfo->quant_tbl_ptrs[1]) : 0;
  return true;
}

bool CompressThumbnail(JpegErrors* e, jpeg_compress_struct* cinfo, bool* created, unsigned char** out,
                       unsigned long* outSize, const uint8* rgb, int w, int h, int quality) {
  if (setjmp(e->jump)) return false;
  jpeg_create_compress(cinfo);
  *created = true;
  jpeg_mem_dest(cinfo, out, outSize);
  cinfo->image_width = JDIMENSION(w);
  cinfo->image_height = JDIMENSION(h);
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_RGB;
  jpeg_set_defaults(cinfo);
  cinfo->write_JFIF_header = FALSE;  // a thumbnail lives inside EXIF, which says it all
  jpeg_set_quality(cinfo, quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  while (cinfo->next_scanline < cinfo->image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb + size_t(cinfo->next_scanline) * size_t(w) * 3);
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  return true;
}

std::vector<uint8> EncodeJpeg(const std::vector<uint8>& rgb, int w, int h, int quality) {
  JpegErrors errors;
  jpeg_compress_struct cinfo{};
  cinfo.err = InitJpegErrors(errors);
  bool created = false;
  unsigned char* out = nullptr;
  unsigned long size = 0;
  const bool ok = CompressThumbnail(&errors, &cinfo, &created, &out, &size, rgb.data(), w, h, quality);
  if (created) jpeg_destroy_compress(&cinfo);
  std::vector<uint8> bytes;
  if (ok && out) bytes.assign(out, out + size);
  std::free(out);
  return bytes;
}

// Offsets in an EXIF block of IFD0's link to the next directory and of the
// ThumbnailLength value in that next directory; false when not found.
bool ThumbnailRecords(const std::vector<uint8>& b, bool be, uint32* ifd0NextAt, uint32* lengthAt) {
  const size_t size = b.size();
  if (size < 8) return false;
  const uint32 ifd0 = Get32(&b[4], be);
  if (ifd0 > size || size - ifd0 < 2) return false;
  const uint32 n0 = Get16(&b[ifd0], be);
  const uint64_t next = uint64_t(ifd0) + 2 + uint64_t(n0) * 12;
  if (next + 4 > size) return false;
  const uint32 ifd1 = Get32(&b[size_t(next)], be);
  if (ifd1 == 0 || ifd1 > size || size - ifd1 < 2) return false;
  const uint32 n1 = Get16(&b[ifd1], be);
  if (uint64_t(ifd1) + 2 + uint64_t(n1) * 12 > size) return false;
  for (uint32 i = 0; i < n1; ++i) {
    const uint8* r = &b[ifd1 + 2 + size_t(i) * 12];
    if (Get16(r, be) == kTagThumbnailLength && Get16(r + 2, be) == kTypeLong && Get32(r + 4, be) == 1) {
      *ifd0NextAt = uint32(next);
      *lengthAt = ifd1 + 2 + i * 12 + 8;
      return true;
    }
  }
  return false;
}

}  // namespace

// --- the thumbnail ------------------------------------------------------------

bool ThumbnailMaker::Plan(const ExifBytes& old, const ImageShape& shape) {
  width_ = height_ = 0;
  JpegErrors errors;
  jpeg_decompress_struct cinfo{};
  cinfo.err = InitJpegErrors(errors);
  bool created = false;
  int w = 0, h = 0, quality = 0;
  const bool ok = ReadThumbnailHeader(&errors, &cinfo, &created, old.data(), old.size(), &w, &h, &quality);
  if (created) jpeg_destroy_decompress(&cinfo);
  if (!ok || w < 1 || h < 1 || w > kMaxThumbnailSide || h > kMaxThumbnailSide || shape.width < 1 ||
      shape.height < 1) {
    return false;
  }
  shape_ = shape;
  width_ = w;
  height_ = h;
  oldBytes_ = old.size();
  // A quality between what small pictures need and what the room allows.
  quality_ = quality > 0 ? std::min(95, std::max(60, quality)) : 90;
  // The picture fitted inside, centred; a sliver of a pixel is no border.
  const double scale = std::min(double(w) / shape.width, double(h) / shape.height);
  innerW_ = std::max(1, std::min(w, int(std::lround(shape.width * scale))));
  innerH_ = std::max(1, std::min(h, int(std::lround(shape.height * scale))));
  if (w - innerW_ <= 1) innerW_ = w;
  if (h - innerH_ <= 1) innerH_ = h;
  left_ = (w - innerW_) / 2;
  top_ = (h - innerH_) / 2;
  auto ranges = [](int inner, int32 source, std::vector<int32>& from, std::vector<int32>& to) {
    from.resize(size_t(inner));
    to.resize(size_t(inner));
    for (int i = 0; i < inner; ++i) {
      from[size_t(i)] = int32(int64_t(i) * source / inner);
      to[size_t(i)] = std::max(int32(int64_t(i + 1) * source / inner), from[size_t(i)] + 1);
    }
  };
  ranges(innerW_, shape.width, x0_, x1_);
  ranges(innerH_, shape.height, y0_, y1_);
  sums_.assign(size_t(innerW_) * size_t(innerH_) * 3, 0);
  firstRow_ = 0;
  return true;
}

uint32 ThumbnailMaker::Room() const {
  // About 1.5 bytes a pixel holds a photograph at quality 95 with room to
  // spare (the header adds about 600 bytes); the same picture in other
  // colours takes about what the old thumbnail took, so twice that is
  // plenty and keeps the file from growing much.
  const uint32 most = uint32(width_) * uint32(height_) * 3 / 2 + 2048;
  return std::min(most, std::max<uint32>(uint32(oldBytes_) * 2 + 2048, 4096));
}

void ThumbnailMaker::AddRows(int32 y, int32 rows, const RowsIn& in) {
  // Every pixel of every camera photograph passes through here, so the
  // per-row work is a plain pass over 8-bit samples: deeper rows are brought
  // to 8 bits once, each inner column's range is summed, and those sums go
  // to the inner rows the source row falls in (one, unless the picture is
  // smaller than the thumbnail).
  const int32 w = shape_.width;
  const size_t planes = size_t(shape_.planes);
  const size_t samples = size_t(w) * planes;
  if (shape_.depth != 8 && eight_.size() < samples) eight_.resize(samples);
  columns_.resize(size_t(innerW_) * 3);
  for (int32 r = 0; r < rows; ++r) {
    const int32 sy = y + r;
    if (firstRow_ >= innerH_ || y0_[size_t(firstRow_)] > sy) continue;
    const uint8* row = in.ColourRow(r);
    if (shape_.depth == 16) {
      for (size_t s = 0; s < samples; ++s) {
        uint16 h;
        std::memcpy(&h, row + 2 * s, 2);
        eight_[s] = uint8((uint32(std::min<uint16>(h, 32768)) * 255u + 16384u) / 32768u);
      }
      row = eight_.data();
    } else if (shape_.depth != 8) {
      for (size_t s = 0; s < samples; ++s) {
        float f;
        std::memcpy(&f, row + 4 * s, 4);
        eight_[s] = uint8(!(f > 0) ? 0u : f >= 1 ? 255u : uint32(std::lround(f * 255.0f)));
      }
      row = eight_.data();
    }
    // A grey picture's one sample stands for all three channels.
    const size_t g = planes == 3 ? 1 : 0, b = planes == 3 ? 2 : 0;
    for (int j = 0; j < innerW_; ++j) {
      uint64_t sum[3] = {0, 0, 0};
      const uint8* p = row + size_t(x0_[size_t(j)]) * planes;
      const uint8* end = row + size_t(x1_[size_t(j)]) * planes;
      for (; p < end; p += planes) {
        sum[0] += p[0];
        sum[1] += p[g];
        sum[2] += p[b];
      }
      std::copy(sum, sum + 3, &columns_[size_t(j) * 3]);
    }
    for (int32 i = firstRow_; i < innerH_ && y0_[size_t(i)] <= sy; ++i) {
      if (sy >= y1_[size_t(i)]) continue;
      uint64_t* cell = &sums_[size_t(i) * size_t(innerW_) * 3];
      for (size_t k = 0; k < columns_.size(); ++k) cell[k] += columns_[k];
    }
    while (firstRow_ < innerH_ && y1_[size_t(firstRow_)] <= sy + 1) ++firstRow_;
  }
}

std::vector<uint8> ThumbnailMaker::Encode(uint32 room) const {
  if (!planned()) return {};
  std::vector<uint8> rgb(size_t(width_) * size_t(height_) * 3, 0);
  for (int i = 0; i < innerH_; ++i) {
    for (int j = 0; j < innerW_; ++j) {
      const uint64_t n = uint64_t(y1_[size_t(i)] - y0_[size_t(i)]) * uint64_t(x1_[size_t(j)] - x0_[size_t(j)]);
      for (int c = 0; c < 3; ++c) {
        const uint64_t sum = sums_[(size_t(i) * size_t(innerW_) + size_t(j)) * 3 + size_t(c)];
        rgb[((size_t(top_ + i) * size_t(width_)) + size_t(left_ + j)) * 3 + size_t(c)] = uint8((sum + n / 2) / n);
      }
    }
  }
  for (int quality = quality_; quality >= 20; quality -= 15) {
    std::vector<uint8> jpeg = EncodeJpeg(rgb, width_, height_, quality);
    if (jpeg.empty()) return {};
    if (jpeg.size() <= room) return jpeg;
  }
  return {};
}

// --- the block -------------------------------------------------------------------

void ExifOutput::Prepare(const ImageProperties& p, const ImageShape& shape, bool textIntoExif, size_t maxBytes,
                         std::vector<std::string>* warnings) {
  warnings_ = warnings;
  bytes_.clear();
  thumbnail_ = ThumbnailMaker();
  ExifBlock b;
  const bool parsed = !p.exif.empty() && ParseExif(p.exif.data(), p.exif.size(), &b);
  if (!p.exif.empty() && !parsed) {
    // Not ours to understand: kept as it came.
    if (p.exif.size() <= maxBytes) {
      bytes_ = p.exif;
    } else {
      Warn(warnings, "the EXIF block is too large for this format; it was left out");
    }
    return;
  }
  bool changed = BringExifInLine(p, textIntoExif, &b);
  // A directory after IFD0 that parsing left out (a thumbnail in strips,
  // whose offsets we do not follow) must not be carried as it came.
  if (parsed && DropsUnreadThumbnail(p.exif, b)) {
    Warn(warnings, kUnreadThumbnail);
    changed = true;
  }
  if (!parsed && !changed) return;
  bigEndian_ = b.bigEndian;

  bool thumbnail = false;
  if (!b.thumbnail.empty()) {
    thumbnail = thumbnail_.Plan(b.thumbnail, shape);
    if (!thumbnail) {
      Warn(warnings, kUnreadableThumbnail);
    }
  }
  // Byte for byte when nothing but the thumbnail changes and the thumbnail
  // ends the block: its room starts where it did.
  if (!changed && (b.thumbnail.empty() || thumbnail)) {
    if (!thumbnail) {
      if (p.exif.size() <= maxBytes) {
        bytes_ = p.exif;
        return;
      }
    } else if (b.thumbnail.origin() + b.thumbnail.size() == p.exif.size()) {
      const uint32 at = b.thumbnail.origin();
      const uint32 room = uint32(std::min<size_t>(thumbnail_.Room(),
                                                  maxBytes > at ? maxBytes - at : 0));
      if (room >= kMinRoom && ThumbnailRecords(p.exif, b.bigEndian, &ifd0NextAt_, &lengthAt_)) {
        bytes_.assign(p.exif.begin(), p.exif.begin() + at);
        bytes_.resize(size_t(at) + room, 0);
        thumbnailAt_ = at;
        thumbnailRoom_ = room;
        return;
      }
    }
  }
  // Laid out again. Without a thumbnail of its own a directory that
  // described one describes nothing.
  if (!thumbnail) {
    b.thumbnail.clear();
    b.ifd1 = ExifIfd();
  }
  LayoutOptions o;
  o.bigEndian = b.bigEndian;
  o.maxBytes = maxBytes;
  o.thumbnailRoom = thumbnail ? thumbnail_.Room() : 0;
  ExifLayout l = LayOutExif(b, o);
  if (thumbnail && l.bytes.size() > maxBytes) {
    // Less room for the thumbnail, down to what is worth a thumbnail.
    const size_t rest = l.bytes.size() - l.thumbnailRoom;
    if (maxBytes >= rest + kMinRoom) {
      o.thumbnailRoom = uint32(maxBytes - rest);
    } else {
      Warn(warnings, "the EXIF block leaves no room for a thumbnail in this format; it was left out");
      thumbnail_ = ThumbnailMaker();
      thumbnail = false;
      b.thumbnail.clear();
      b.ifd1 = ExifIfd();
      o.thumbnailRoom = 0;
    }
    l = LayOutExif(b, o);
  }
  if (l.bytes.size() > maxBytes) {
    Warn(warnings, "the EXIF block is too large for this format; it was left out");
    thumbnail_ = ThumbnailMaker();
    return;
  }
  if (!l.makerNoteKept) {
    Warn(warnings, "the camera's maker note could not keep its offset in the EXIF block; values the camera "
                   "addresses from the block's start may read wrongly");
  }
  bytes_ = std::move(l.bytes);
  thumbnailAt_ = l.thumbnailAt;
  thumbnailRoom_ = l.thumbnailRoom;
  lengthAt_ = l.lengthAt;
  ifd0NextAt_ = l.ifd0NextAt;
}

bool ExifOutput::Finish(std::vector<uint8>* patched) {
  if (!wantsRows() || thumbnailRoom_ == 0) return false;
  const std::vector<uint8> jpeg = thumbnail_.Encode(thumbnailRoom_);
  *patched = bytes_;
  std::fill(patched->begin() + thumbnailAt_, patched->begin() + thumbnailAt_ + thumbnailRoom_, uint8(0));
  if (jpeg.empty()) {
    // No thumbnail rather than the old one: IFD0 links to no directory after it.
    Put32(patched->data() + ifd0NextAt_, 0, bigEndian_);
    Warn(warnings_, "the EXIF thumbnail could not be made again within the room the format allows; it was "
                    "left out");
  } else {
    std::memcpy(patched->data() + thumbnailAt_, jpeg.data(), jpeg.size());
    Put32(patched->data() + lengthAt_, uint32(jpeg.size()), bigEndian_);
  }
  return true;
}

// --- patching the written file -------------------------------------------------

bool PatchJpegExif(std::FILE* f, const std::vector<uint8>& bytes) {
  const int64_t end = FileSize(f);
  int64_t at = 2;  // after SOI
  uint8 head[10];
  while (at + 4 <= end && ReadExactly(f, at, head, 4) && head[0] == 0xff) {
    const int marker = head[1];
    const size_t length = size_t(head[2]) << 8 | head[3];
    if (marker == 0xda || length < 2) break;  // the image data: no APP1 after it
    if (marker == 0xe1 && length == bytes.size() + 8 && ReadExactly(f, at + 4, head, 6) &&
        std::memcmp(head, "Exif\0\0", 6) == 0) {
      const bool ok = WriteExactly(f, at + 10, bytes.data(), bytes.size());
      return Seek(f, 0, SEEK_END) == 0 && ok;
    }
    at += 2 + int64_t(length);
  }
  Seek(f, 0, SEEK_END);
  return false;
}

bool PatchPngExif(std::FILE* f, const std::vector<uint8>& bytes) {
  const int64_t end = FileSize(f);
  int64_t at = 8;  // after the signature
  uint8 head[8];
  while (at + 12 <= end && ReadExactly(f, at, head, 8)) {
    const uint32 length = Get32(head, true);
    if (std::memcmp(head + 4, "IDAT", 4) == 0) break;
    if (std::memcmp(head + 4, "eXIf", 4) == 0 && length == bytes.size()) {
      uint8 crc[4];
      Put32(crc, uint32(crc32(crc32(crc32(0, nullptr, 0), head + 4, 4), bytes.data(), uInt(bytes.size()))), true);
      const bool ok = WriteExactly(f, at + 8, bytes.data(), bytes.size()) && std::fwrite(crc, 1, 4, f) == 4;
      return Seek(f, 0, SEEK_END) == 0 && ok;
    }
    at += 12 + int64_t(length);
  }
  Seek(f, 0, SEEK_END);
  return false;
}

}  // namespace io
}  // namespace host
