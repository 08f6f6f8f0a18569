// What the JPEG reader and writer share: libjpeg's error handling (its
// errors and the warnings that mean damaged data end in a longjmp with a
// message kept), stdio source and destination managers that keep the
// system's reason for a failed read or write, and the quality estimate.
// Internal to kestrelle_imageio.
#pragma once

#include <csetjmp>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include <string>

namespace host {
namespace io {

struct JpegErrors {
  jpeg_error_mgr manager;  // first: libjpeg hands back a pointer to it
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX + 64] = {};
  int ioError = 0;  // errno of a failed read or write, 0: none
};

// Installs our handlers on cinfo->err; call before jpeg_create_*.
jpeg_error_mgr* InitJpegErrors(JpegErrors& errors);
// The message of the error that ended in a longjmp.
std::string JpegMessage(const JpegErrors& errors);

struct JpegSource {
  jpeg_source_mgr manager;  // first
  std::FILE* file = nullptr;
  JpegErrors* errors = nullptr;
  JOCTET buffer[65536];
};
void InitJpegSource(j_decompress_ptr cinfo, JpegSource& source);

struct JpegDestination {
  jpeg_destination_mgr manager;  // first
  std::FILE* file = nullptr;
  JpegErrors* errors = nullptr;
  JOCTET buffer[65536];
};
void InitJpegDestination(j_compress_ptr cinfo, JpegDestination& destination);

// The IJG quality (1..100) whose tables are nearest to these; chroma may be null.
int EstimateJpegQuality(const JQUANT_TBL* luma, const JQUANT_TBL* chroma);

}  // namespace io
}  // namespace host
