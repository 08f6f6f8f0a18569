#include "files/utf8.h"

#include <cstdint>

namespace files {
namespace {

// The length of the UTF-8 sequence at `p` (of `n` bytes left) and its code
// point; 0 when it is not one. Surrogates (ED A0..BF xx) count only when
// `surrogates` is set.
size_t Decode(const unsigned char* p, size_t n, bool surrogates, uint32_t* code) {
  const unsigned char b = p[0];
  if (b < 0x80) {
    *code = b;
    return 1;
  }
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED && !surrogates) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (n < length || p[1] < low || p[1] > high) return 0;
  uint32_t c = b & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    c = (c << 6) | (p[i] & 0x3F);
  }
  *code = c;
  return length;
}

void Append(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

}  // namespace

bool IsUtf8(const std::string& text) {
  const unsigned char* p = Bytes(text);
  for (size_t at = 0, n = text.size(); at < n;) {
    uint32_t c;
    const size_t length = Decode(p + at, n - at, false, &c);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string Utf8Replacing(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const unsigned char* p = Bytes(text);
  for (size_t at = 0, n = text.size(); at < n;) {
    uint32_t c;
    const size_t length = Decode(p + at, n - at, false, &c);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++at;
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  return out;
}

bool Utf16FromUtf8(const std::string& text, std::u16string* out) {
  out->clear();
  out->reserve(text.size());
  const unsigned char* p = Bytes(text);
  for (size_t at = 0, n = text.size(); at < n;) {
    uint32_t c;
    const size_t length = Decode(p + at, n - at, true, &c);
    if (length == 0) return false;
    at += length;
    if (c < 0x10000) {
      *out += char16_t(c);
    } else {
      c -= 0x10000;
      *out += char16_t(0xD800 + (c >> 10));
      *out += char16_t(0xDC00 + (c & 0x3FF));
    }
  }
  return true;
}

std::string Utf8FromUtf16(const std::u16string& text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    Append(out, c);  // a lone surrogate as its own three bytes
  }
  return out;
}

std::string Utf8Prefix(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  const unsigned char* p = Bytes(text);
  size_t at = 0;
  while (at < bytes) {
    uint32_t c;
    size_t length = Decode(p + at, text.size() - at, true, &c);
    if (length == 0) length = 1;  // a stray byte stands alone
    if (at + length > bytes) break;
    at += length;
  }
  return text.substr(0, at);
}

}  // namespace files
