// The EXIF an output file carries, and its thumbnail made again from the
// picture as it is written. A thumbnail that showed the picture before the
// correction would be shown in its place by viewers and file browsers, so it
// is never kept: the rows are shrunk into a thumbnail of the old one's size
// as they pass, and the block, written with room for it before the pixels,
// is patched once the last row is in. Internal to kestrelle_imageio.
#pragma once

#include <string>
#include <vector>

#include "imageio/exif_block.h"
#include "imageio/io_support.h"

namespace host {
namespace io {

// What every output says of a thumbnail it cannot make again: one in
// strips (not followed), and one that is no JPEG we can read.
extern const char kUnreadThumbnail[];
extern const char kUnreadableThumbnail[];

// Shrinks rows into a small picture (a box filter into one accumulator per
// thumbnail pixel, the picture fitted inside and centred on black) and
// encodes it as a baseline JPEG in memory.
class ThumbnailMaker {
 public:
  // From the JPEG it replaces: its size and quality. False when that JPEG
  // cannot be read (then no thumbnail is made).
  bool Plan(const ExifBytes& oldThumbnail, const ImageShape& shape);
  bool planned() const { return width_ > 0; }
  int width() const { return width_; }
  int height() const { return height_; }
  // Bytes that hold such a thumbnail at its quality in all but odd cases.
  uint32 Room() const;
  void AddRows(int32 y, int32 rows, const RowsIn& in);
  // The JPEG, at the planned quality or lower until it fits `room`; empty
  // when it does not fit even then.
  std::vector<uint8> Encode(uint32 room) const;

 private:
  ImageShape shape_;
  int width_ = 0, height_ = 0;       // the thumbnail's
  int left_ = 0, top_ = 0;           // where the picture starts in it
  int innerW_ = 0, innerH_ = 0;      // the picture's size in it
  int quality_ = 90;
  size_t oldBytes_ = 0;
  std::vector<uint64_t> sums_;       // innerW_ x innerH_ x 3
  std::vector<int32> x0_, x1_;       // source columns of each inner column
  std::vector<int32> y0_, y1_;       // source rows of each inner row
  int32 firstRow_ = 0;               // the first inner row a new source row can reach
  std::vector<uint64_t> columns_;    // one source row's sums per inner column, x 3
  std::vector<uint8> eight_;         // a deeper row brought to 8 bits
};

// The EXIF block of a JPEG or PNG output.
class ExifOutput {
 public:
  // Decides what the output carries: the image's own block, byte for byte
  // when nothing in it must change (text and orientation agree, no
  // thumbnail or one at its end), otherwise laid out again with the maker
  // note at its own offset; room for a new thumbnail where the old one was.
  // With `textIntoExif` the text tags create a block when there is none
  // (JPEG has no other place for them). `maxBytes`: the largest block the
  // format holds. What cannot be kept is named in *warnings (may be null).
  void Prepare(const ImageProperties& p, const ImageShape& shape, bool textIntoExif, size_t maxBytes,
               std::vector<std::string>* warnings);
  // What to write before the pixels (empty: no EXIF).
  const std::vector<uint8>& bytes() const { return bytes_; }
  bool wantsRows() const { return thumbnail_.planned(); }
  void AddRows(int32 y, int32 rows, const RowsIn& in) {
    if (wantsRows()) thumbnail_.AddRows(y, rows, in);
  }
  // After the last row: true with the block to put in place of bytes() (the
  // same size) when it changed.
  bool Finish(std::vector<uint8>* patched);

 private:
  std::vector<uint8> bytes_;
  ThumbnailMaker thumbnail_;
  bool bigEndian_ = false;
  uint32 thumbnailAt_ = 0, thumbnailRoom_ = 0, lengthAt_ = 0, ifd0NextAt_ = 0;
  std::vector<std::string>* warnings_ = nullptr;
};

// Where the EXIF data of a written file lies, found by walking its
// segments or chunks; the PNG one also fixes the chunk's CRC. False when
// no block of exactly that size is there.
bool PatchJpegExif(std::FILE* f, const std::vector<uint8>& bytes);
bool PatchPngExif(std::FILE* f, const std::vector<uint8>& bytes);

}  // namespace io
}  // namespace host
