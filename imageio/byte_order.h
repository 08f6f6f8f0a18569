// 16- and 32-bit values in either byte order: `be` for big-endian (a TIFF
// structure's "MM", and always in JPEG segments, PNG chunks and Photoshop's
// resources); little-endian (TIFF's "II") otherwise.
// Internal to kestrelle_imageio.
#pragma once

#include "hostapi/host_interface.h"

namespace host {
namespace io {

inline uint16 Get16(const uint8* p, bool be) { return be ? uint16(p[0] << 8 | p[1]) : uint16(p[1] << 8 | p[0]); }
inline uint32 Get32(const uint8* p, bool be) {
  return be ? uint32(p[0]) << 24 | uint32(p[1]) << 16 | uint32(p[2]) << 8 | p[3]
            : uint32(p[3]) << 24 | uint32(p[2]) << 16 | uint32(p[1]) << 8 | p[0];
}
inline void Put16(uint8* p, uint16 v, bool be) {
  p[be ? 0 : 1] = uint8(v >> 8);
  p[be ? 1 : 0] = uint8(v);
}
inline void Put32(uint8* p, uint32 v, bool be) {
  for (int i = 0; i < 4; ++i) p[be ? i : 3 - i] = uint8(v >> (24 - 8 * i));
}

}  // namespace io
}  // namespace host
