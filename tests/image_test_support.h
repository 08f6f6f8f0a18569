// Helpers for the image file tests: bytes in and out of files, images of
// noise and of smooth gradients, JPEGs made directly with libjpeg in layouts
// our writer never produces, an ICC profile that other tools can parse, and
// Debian's image tools when they are installed.
#pragma once

#include <png.h>

#include <string>
#include <vector>

#include "imageio/image_io.h"

std::vector<uint8> FileBytes(const std::string& path);
void SaveBytes(const std::string& path, const std::vector<uint8>& bytes);

// Noise over the whole range, the extremes included (16-bit: 0 and 32768;
// float: values outside 0..1, infinity and NaN travel bit for bit).
host::Image NoiseImage(int32 w, int32 h, int16 planes, int32 depth, bool alpha, uint32 seed);
// Smooth gradients with a little texture: what JPEG is made for, so lossy
// round trips stay close.
host::Image SmoothImage(int32 w, int32 h, int16 planes, int32 depth, bool alpha);

// The largest difference between two images' colour samples in file units
// (16-bit as 0..65535); alpha must be identical. -1 when their shapes differ.
double MaxDifference(const host::Image& a, const host::Image& b);

struct DirectJpeg {
  int components = 3;
  int colorSpace = 0;  // a J_COLOR_SPACE value; 0: RGB for 3, grey for 1, CMYK for 4
  int quality = 85;
  bool progressive = false;
  int restartRows = 0;  // restart markers every this many MCU rows; 0: none
  bool arithmetic = false;
};

// A JPEG of an image's 8-bit colour samples (or of generated CMYK samples
// for four components) straight through libjpeg.
bool WriteJpegDirect(const std::string& path, const host::Image& image, const DirectJpeg& recipe);

// A PNG straight through libpng, in layouts our writer never produces:
// `packedRows` are the rows as PNG packs them, one after the other.
bool WritePngDirect(const std::string& path, uint32 w, uint32 h, int bits, int colorType, bool interlaced,
                    const std::vector<uint8>& packedRows, const std::vector<png_color>& palette,
                    const std::vector<uint8>& trns);

// The APPn and COM segments of a JPEG file's bytes, in order, up to its
// first scan.
std::vector<host::JpegSegment> SegmentsOf(const std::vector<uint8>& jpeg);
// The JPEG with `segments` put right after its JFIF segment (right after its
// start when it has none).
std::vector<uint8> WithSegments(const std::vector<uint8>& jpeg, const std::vector<host::JpegSegment>& segments);
// A segment of `marker` whose bytes are `text` (its NULs included) and then `more`.
host::JpegSegment Segment(uint8 marker, const std::string& text, const std::vector<uint8>& more = {});

// Segments of every kind a JPEG output treats its own way, in an order no
// writer of ours would choose: a CIFF-like APP0, Olympus's APP12, a UTF-8
// comment, the main XMP packet, Photoshop's resources (a thumbnail and
// IPTC), an unknown APP15, the extended XMP packet (over 64 KB, its two
// pieces the wrong way round), MPF, Ducky's APP12, Adobe's APP14.
std::vector<host::JpegSegment> SegmentsOfEveryKind();

// Appends a PNG chunk (length, type, data, CRC) made byte by byte.
void PutChunk(std::vector<uint8>& png, const char* type, const std::vector<uint8>& data);
// The largest difference, over the three channels, between the mean of `a`
// within [ax0, ax1) x [ay0, ay1) and the mean of all of `b` (8-bit samples).
double MaxMeanDifference(const host::Image& a, int ax0, int ay0, int ax1, int ay1, const host::Image& b);
// That difference for a thumbnail's picture part (centred and letterboxed
// on black, as cameras make them) against the picture.
double ThumbnailDifference(const host::Image& thumbnail, const host::Image& picture);

// An 8 x 8 grey PNG made byte by byte, with these chunks (type, data)
// before its image data.
std::vector<uint8> GreyPngWithChunks(const std::vector<std::pair<std::string, std::vector<uint8>>>& chunks);
// One whose iCCP chunk holds `profile` (which libpng refuses for grey when
// it is an RGB one).
std::vector<uint8> GreyPngWithProfile(const std::vector<uint8>& profile);

// A small but valid display profile whose description is `description`.
std::vector<uint8> TestIccProfile(const std::string& description);

// /usr/bin/NAME when it is there (natively, with the package installed);
// empty otherwise, and under Wine.
std::string DebianTool(const std::string& name);
