// A JPEG's APPn and COM segments between files: what each one is, where a
// JPEG output writes each again (most byte for byte, in their places; the
// few that re-encoding makes false laid out afresh or left out), what PNG
// and TIFF outputs cannot carry of them, and the extended XMP packet that
// spans several of them. Internal to kestrelle_imageio.
#pragma once

#include <string>
#include <vector>

#include "imageio/image_io.h"

namespace host {
namespace io {

// A segment's bytes after its length field: the length counts itself.
constexpr size_t kMaxSegmentBytes = 65533;

enum class SegmentKind : uint8 {
  Jfif,         // APP0 "JFIF": its density is kept, the rest made again by libjpeg
  JfifThumbnail,  // APP0 "JFXX": a thumbnail of the picture as it was read
  Adobe,        // APP14 "Adobe": its colour transform follows what we write
  Exif,         // APP1 "Exif\0\0"
  Xmp,          // APP1, the main XMP packet
  ExtendedXmp,  // APP1, a piece of a packet too large for one segment
  Icc,          // APP2 "ICC_PROFILE", one piece of the profile
  Mpf,          // APP2 "MPF": offsets of secondary images after the main one
  Photoshop,    // APP13 "Photoshop 3.0": image resources, IPTC among them
  Comment,      // COM
  Other,        // anything else, passed through as it came
};

SegmentKind KindOf(const JpegSegment& s);

// The segment for messages: `APP12 segment "OLYMPUS OPTICAL CO.,LTD." (1008 bytes)`.
std::string DescribeSegment(const JpegSegment& s);

// The Photoshop image resources of a JPEG's APP13 segments, joined.
std::vector<uint8> PhotoshopFromSegments(const std::vector<JpegSegment>& segments);

// A segment to write: the marker and its bytes after the length field.
struct JpegMarker {
  int code;
  std::vector<uint8> bytes;
};

// What a JPEG output writes after its JFIF segment, in order. A JPEG input's
// segments keep their places and bytes, except: EXIF is `exif` (laid out by
// the caller: "Exif\0\0" and the block, empty for none), the ICC profile,
// the main XMP packet and the image resources are made from the properties
// (the same bytes when unchanged), Adobe's transform follows `components`,
// and MPF is left out. What an input of another format holds goes where
// JPEG keeps it. Everything that finds no place is named in *warnings.
std::vector<JpegMarker> JpegOutputMarkers(const ImageProperties& p, const std::vector<uint8>& exif,
                                          int components, std::vector<std::string>* warnings);

// Whether a JPEG output writes a JFIF segment: always, unless the input
// was a JPEG whose segments we know and it had none.
bool JpegOutputHasJfif(const ImageProperties& p);
// What a JPEG input's JFIF segment says that a JPEG output repeats: its
// version and density. False when it had none, or one without a density.
struct JfifFields {
  int minorVersion = 1;  // of version 1
  int unit = 0;          // 0 aspect ratio, 1 per inch, 2 per cm
  long x = 1, y = 1;
};
bool InputJfif(const ImageProperties& p, JfifFields* out);

// The XMP a PNG or TIFF output carries: the main packet with a JPEG's
// extended packet merged in, so nothing of it is lost where one text holds
// any size. A packet that cannot be put together is named in *warnings.
std::string WholeXmp(const ImageProperties& p, const char* format, std::vector<std::string>* warnings);
// The extended XMP packet the segments hold for `xmp` (found by the GUID it
// names), whole; empty with the reason in *problem when it is incomplete,
// and with *problem empty when there is none.
std::string ExtendedXmp(const std::vector<JpegSegment>& segments, const std::string& xmp, std::string* problem);
// The main packet with the extended one's descriptions inside its RDF and
// its pointer to them removed; empty when either is not laid out as XMP is.
std::string MergeXmp(const std::string& xmp, const std::string& extended);

// The MD5 digest (RFC 1321) in 32 upper-case hex digits: the GUID that
// names an extended XMP packet.
std::string Md5Hex(const std::string& text);

// Names the segments of a JPEG input a PNG or TIFF output has no place for
// (besides those whose content goes in the properties).
void NameSegmentsLeftOut(const ImageProperties& p, const char* format, std::vector<std::string>* warnings);

}  // namespace io
}  // namespace host
