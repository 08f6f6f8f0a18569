// What the TIFF reader and writer share: libtiff reading and writing
// through our stdio procedures, which keep the system's reason when a read
// or write fails (libtiff itself says only "Write error at scanline 72"),
// and messages collected per file instead of printed. Internal to
// kestrelle_imageio.
#pragma once

// libtiff's own int16, uint32, ... are deprecated aliases that collide with
// the host interface's names of the same types.
#define TIFF_DISABLE_DEPRECATED
#include <tiffio.h>

#include <cstdio>
#include <string>

namespace host {
namespace io {

// Collected in a fixed buffer: the handlers are called from C and must not throw.
struct TiffMessages {
  char text[512] = {};
  size_t used = 0;
  bool any = false;
};

// What libtiff's procedures work on.
struct TiffFile {
  std::FILE* file = nullptr;
  std::string name;    // libtiff puts it in front of some messages; we take it out
  int readError = 0;   // errno of the first failed read, 0: none
  int writeError = 0;  // errno of the first failed write, 0: none
  // Which way the stream went last. stdio needs a seek between a write and
  // a read; between two writes libtiff's seek to where the stream already
  // is would only cost a flush and a read of the last block.
  enum class Last { None, Read, Write } last = Last::None;
  TiffMessages messages;
};

// Owns an open TIFF.
struct TiffHandle {
  TIFF* tif = nullptr;
  ~TiffHandle() {
    if (tif) TIFFClose(tif);
  }
};

// Opens through our procedures with `mode` ("r", "w"; memory mapping is off).
TIFF* OpenTiff(TiffFile& file, const char* mode);

// The collected messages, one line, file name taken out; empty when none.
std::string TiffText(const TiffFile& file);
// "damaged TIFF: <what> (<libtiff's messages>)", or the system's reason when a
// read failed.
std::string TiffDamaged(const TiffFile& file, const std::string& what);
// "<what> (<messages>)", or "write error: <reason>" when a write failed.
std::string TiffWriteFailed(const TiffFile& file, const std::string& what);

bool TiffUsesPredictor(uint16_t compression);

}  // namespace io
}  // namespace host
