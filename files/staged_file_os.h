// What staging a file asks of the operating system, one implementation per
// system (staged_file_posix.cpp, staged_file_windows.cpp). Internal to
// files/.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace files {
namespace os {

// Put in temporary names before the process id. Windows process ids are
// another namespace than POSIX ones, so its builds mark theirs apart.
extern const char kTemporaryMarker[];

long ThisProcess();
bool ProcessIsGone(long id);

enum class CreateResult { Created, Exists, Failed };
// Creates `path`, which must not exist, opened "w+b"; on POSIX it takes the
// permissions of `replacing` when that is a regular file, as the new file
// takes its place. errno tells why it failed.
CreateResult CreateExclusive(const std::string& path, const std::string& replacing, std::FILE** out);

// Asks the system to put the file's data on the disk; errno on failure.
bool SyncData(std::FILE* file);

// The file's size in bytes (what has been flushed to it), 0 when unknown.
long long FileSize(std::FILE* file);

// Starts writing `length` bytes at `offset` of the file to the disk without
// waiting for them, where the system can (Linux); a hint, never an error.
void StartWriteBack(std::FILE* file, long long offset, long long length);

// Moves `from` over `to`, replacing it in one step; false with the reason.
bool Replace(const std::string& from, const std::string& to, std::string* why);

// Makes a rename in `folder` survive a power cut, where the system needs it.
void SyncFolder(const std::string& folder);

// `folder` as the start of the paths of the files in it ("" for ".").
std::string FolderPrefix(const std::string& folder);

// Calls `visit` with the name of each file in `folder` ending in ".tmp".
void ForEachTemporary(const std::string& folder, const std::function<void(const std::string& name)>& visit);

}  // namespace os
}  // namespace files
