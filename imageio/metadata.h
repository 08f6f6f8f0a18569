// Metadata between the formats: EXIF's text tags and orientation, text
// tags and their EXIF and PNG homes, IPTC in its Photoshop and PNG
// containers, dates in TIFF and PNG form. Internal to kestrelle_imageio.
#pragma once

#include <string>
#include <vector>

#include "imageio/exif_block.h"
#include "imageio/image_io.h"

namespace host {
namespace io {

// Fills the empty text tags from an EXIF block's first directory.
void TextFromExif(const std::vector<uint8>& exif, TextTags* text);
// The orientation an EXIF block gives (1..8), 0 when it gives none.
uint16 ExifOrientation(const std::vector<uint8>& exif);

// The first directory brought in line with the text tags and orientation
// (with `textIntoExif` even when the image had no block); true when that
// changed anything.
bool BringExifInLine(const ImageProperties& p, bool textIntoExif, ExifBlock* b);

// IPTC-IIM records in Photoshop's image resources (JPEG APP13 after its
// "Photoshop 3.0" name, PNG raw profiles): found and made.
std::vector<uint8> IptcFromPhotoshop(const uint8* data, size_t size);
std::vector<uint8> PhotoshopFromIptc(const std::vector<uint8>& iptc);
// The image resources an output writes: `resources` with its IPTC record
// made `iptc` (added, replaced or removed), the same bytes when it already
// is; resources of IPTC alone when there were none.
std::vector<uint8> PhotoshopWithIptc(const std::vector<uint8>& resources, const std::vector<uint8>& iptc);
// Whether the resources hold anything besides IPTC (and bytes that follow
// no resource count as something).
bool HasResourcesBesidesIptc(const std::vector<uint8>& resources);
// The resources without Photoshop's thumbnails (ids 0x0409 and 0x040c),
// which show the picture as it was before the filter; each one left out is
// named.
std::vector<uint8> WithoutThumbnails(const std::vector<uint8>& resources, std::vector<std::string>* warnings);

// Names a PNG's gamma when an output of another format (which has no place
// for it) would show the picture otherwise: a gamma that is not sRGB's and
// that no profile or sRGB chunk stands beside.
void NamePngGammaLeftOut(const ImageProperties& p, const char* format, std::vector<std::string>* warnings);

// ImageMagick's "Raw profile type NAME" text chunks: a header, then hex.
std::string RawProfile(const std::string& type, const std::vector<uint8>& bytes);
bool FromRawProfile(const std::string& text, std::vector<uint8>* bytes);

// "YYYY:MM:DD HH:MM:SS" (TIFF, EXIF) and "YYYY-MM-DDTHH:MM:SS" (PNG).
std::string PngDate(const std::string& tiffDate);
bool TiffDate(const std::string& pngDate, std::string* tiffDate);

// PNG's keywords for the text tags; null when the key is none of them.
std::string* TextTagForKey(TextTags& text, const std::string& key);
// (key, value) pairs for a PNG output, the date in PNG form.
std::vector<std::pair<std::string, std::string>> PngKeywords(const TextTags& text);

// Latin-1 (tEXt, zTXt) to UTF-8 and back; false when the text has
// characters Latin-1 lacks.
std::string Utf8FromLatin1(const std::string& text);
bool Latin1FromUtf8(const std::string& text, std::string* latin1);
// Whether the bytes are plain ASCII (files::IsUtf8 says whether they are
// well-formed UTF-8).
bool IsAscii(const std::string& text);

}  // namespace io
}  // namespace host
