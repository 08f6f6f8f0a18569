// Text as the program holds it inside: UTF-8. File names reach it from
// Windows as UTF-16 and go back the same way; natively they are the bytes
// the system gave, which need not be UTF-8 at all.
//
// Windows allows a name to hold a lone surrogate (half of a UTF-16 pair),
// which no UTF-8 can spell. Such a unit is written as the three bytes UTF-8
// would give its number ("WTF-8"), so every Windows name comes back exactly;
// those bytes are not valid UTF-8, and IsUtf8 says so.
#pragma once

#include <string>

namespace files {

// Is `text` well-formed UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF)?
bool IsUtf8(const std::string& text);

// `text` with each byte that is not part of a well-formed UTF-8 sequence
// replaced by U+FFFD: valid UTF-8 that shows where the bad bytes were.
std::string Utf8Replacing(const std::string& text);

// UTF-16 from UTF-8, lone surrogates taken back from their three bytes.
// False (and `out` incomplete) at the first byte that is not UTF-8.
bool Utf16FromUtf8(const std::string& text, std::u16string* out);

// UTF-8 from UTF-16; a lone surrogate becomes its three bytes.
std::string Utf8FromUtf16(const std::u16string& text);

// The longest start of `text` of at most `bytes` bytes that does not end
// inside a UTF-8 sequence.
std::string Utf8Prefix(const std::string& text, size_t bytes);

}  // namespace files
