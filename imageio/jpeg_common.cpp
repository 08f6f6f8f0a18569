#include "imageio/jpeg_common.h"

#include <jerror.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "imageio/io_support.h"

namespace host {
namespace io {
namespace {

JpegErrors& ErrorsOf(j_common_ptr cinfo) { return *reinterpret_cast<JpegErrors*>(cinfo->err); }

[[noreturn]] void OnErrorExit(j_common_ptr cinfo) {
  JpegErrors& e = ErrorsOf(cinfo);
  if (e.message[0] == 0) (*cinfo->err->format_message)(cinfo, e.message);
  std::longjmp(e.jump, 1);
}

// Warnings that leave the pixels as the file has them: kept quiet. Every
// other warning means damaged data that libjpeg would paper over with grey
// or skipped blocks, so it fails the read instead.
bool Harmless(int code) {
  return code == JWRN_ADOBE_XFORM || code == JWRN_JFIF_MAJOR || code == JWRN_BOGUS_ICC;
}

void OnEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  const int code = cinfo->err->msg_code;
  if (Harmless(code)) return;
  JpegErrors& e = ErrorsOf(cinfo);
  if (code == JWRN_JPEG_EOF) {
    std::snprintf(e.message, sizeof e.message, "the file is truncated");
  } else {
    (*cinfo->err->format_message)(cinfo, e.message);
  }
  std::longjmp(e.jump, 1);
}

void OnOutputMessage(j_common_ptr) {}

void SourceInit(j_decompress_ptr) {}

boolean SourceFill(j_decompress_ptr cinfo) {
  auto* s = reinterpret_cast<JpegSource*>(cinfo->src);
  const size_t n = std::fread(s->buffer, 1, sizeof s->buffer, s->file);
  if (n == 0) {
    if (std::ferror(s->file)) {
      s->errors->ioError = errno ? errno : EIO;
      std::snprintf(s->errors->message, sizeof s->errors->message, "read error: %s",
                    std::strerror(s->errors->ioError));
      ERREXIT(cinfo, JERR_FILE_READ);
    }
    // libjpeg's way: a fake end marker, with the warning that fails the read.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    s->buffer[0] = 0xff;
    s->buffer[1] = JPEG_EOI;
    s->manager.next_input_byte = s->buffer;
    s->manager.bytes_in_buffer = 2;
    return TRUE;
  }
  s->manager.next_input_byte = s->buffer;
  s->manager.bytes_in_buffer = n;
  return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long count) {
  auto* s = reinterpret_cast<JpegSource*>(cinfo->src);
  while (count > 0) {
    if (size_t(count) <= s->manager.bytes_in_buffer) {
      s->manager.next_input_byte += count;
      s->manager.bytes_in_buffer -= size_t(count);
      return;
    }
    count -= long(s->manager.bytes_in_buffer);
    SourceFill(cinfo);
  }
}

void SourceTerm(j_decompress_ptr) {}

void DestinationInit(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
  d->manager.next_output_byte = d->buffer;
  d->manager.free_in_buffer = sizeof d->buffer;
}

void WriteOut(j_compress_ptr cinfo, size_t n) {
  auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
  if (n > 0 && std::fwrite(d->buffer, 1, n, d->file) != n) {
    d->errors->ioError = errno ? errno : EIO;
    std::snprintf(d->errors->message, sizeof d->errors->message, "write error: %s",
                  std::strerror(d->errors->ioError));
    ERREXIT(cinfo, JERR_FILE_WRITE);
  }
}

boolean DestinationEmpty(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
  WriteOut(cinfo, sizeof d->buffer);
  d->manager.next_output_byte = d->buffer;
  d->manager.free_in_buffer = sizeof d->buffer;
  return TRUE;
}

void DestinationTerm(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
  WriteOut(cinfo, sizeof d->buffer - d->manager.free_in_buffer);
}

// The example tables of the JPEG standard, which IJG's quality scales.
const unsigned kLuma[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                            14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                            18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                            49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const unsigned kChroma[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                              24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                              99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                              99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

long TableDistance(const JQUANT_TBL* table, const unsigned* standard, long scale) {
  long d = 0;
  for (int i = 0; i < 64; ++i) {
    long expected = (long(standard[i]) * scale + 50) / 100;
    expected = expected < 1 ? 1 : expected > 255 ? 255 : expected;
    d += std::labs(expected - long(table->quantval[i]));
  }
  return d;
}

}  // namespace

jpeg_error_mgr* InitJpegErrors(JpegErrors& errors) {
  jpeg_error_mgr* m = jpeg_std_error(&errors.manager);
  m->error_exit = OnErrorExit;
  m->emit_message = OnEmitMessage;
  m->output_message = OnOutputMessage;
  return m;
}

std::string JpegMessage(const JpegErrors& errors) { return OneLine(errors.message); }

void InitJpegSource(j_decompress_ptr cinfo, JpegSource& s) {
  s.manager.init_source = SourceInit;
  s.manager.fill_input_buffer = SourceFill;
  s.manager.skip_input_data = SourceSkip;
  s.manager.resync_to_restart = jpeg_resync_to_restart;
  s.manager.term_source = SourceTerm;
  s.manager.bytes_in_buffer = 0;
  s.manager.next_input_byte = nullptr;
  cinfo->src = &s.manager;
}

void InitJpegDestination(j_compress_ptr cinfo, JpegDestination& d) {
  d.manager.init_destination = DestinationInit;
  d.manager.empty_output_buffer = DestinationEmpty;
  d.manager.term_destination = DestinationTerm;
  cinfo->dest = &d.manager;
}

int EstimateJpegQuality(const JQUANT_TBL* luma, const JQUANT_TBL* chroma) {
  if (!luma) return 0;
  int best = 0;
  long bestDistance = -1;
  for (int q = 1; q <= 100; ++q) {
    const long scale = q < 50 ? 5000 / q : 200 - 2 * q;
    long d = TableDistance(luma, kLuma, scale);
    if (chroma) d += TableDistance(chroma, kChroma, scale);
    // Ties go to the higher quality, whose tables are the finer ones.
    if (bestDistance < 0 || d <= bestDistance) {
      bestDistance = d;
      best = q;
    }
  }
  return best;
}

}  // namespace io
}  // namespace host
