// File names on their way to the system. Inside, a name is UTF-8 on Windows
// and the bytes the system gave elsewhere (POSIX names may hold any bytes
// but '/' and NUL, and are passed on untouched). On Windows every call that
// takes a name is the wide one, fed the name made UTF-16: the ANSI calls
// read a name in the system code page, where most of the world's letters
// have no place, so a file named in another language could not be opened,
// listed or written.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>

namespace files {

// std::fopen by name.
std::FILE* OpenFile(const std::string& path, const char* mode);

// std::remove by name.
int RemoveFile(const std::string& path);

// At most `limit` bytes from the start of the file; false when it cannot be
// opened or a read fails.
bool ReadFileBytes(const std::string& path, size_t limit, std::string* bytes);

// A std::filesystem path for a name, and the name of a path: the library
// would read a narrow string in the system code page on Windows.
std::filesystem::path SystemPath(const std::string& name);
std::string NameOfPath(const std::filesystem::path& path);

// A name as the file system compares it: Windows does not tell case apart,
// in any script ("É.png" is "é.png"); POSIX names are compared as bytes.
std::string CaseFolded(const std::string& name);

#ifdef _WIN32
// The UTF-16 name for the wide calls. Text that is not UTF-8 (a script file
// saved in the system code page, say) is read in that code page, as the
// ANSI calls read it.
std::wstring Wide(const std::string& name);
// UTF-8 from a name or text the system gave.
std::string FromWide(const wchar_t* text, size_t length);
std::string FromWide(const wchar_t* text);  // zero-terminated; "" for null
#endif

}  // namespace files
