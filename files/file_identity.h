// Which file a path names, independent of how it is spelt: "x.png",
// "./x.png", a symbolic link to it and a hard link to it are the same file.
// Comparing spellings is what let `kestrelle apply x.png ./x.png` overwrite
// its own input.
#pragma once

#include <cstdint>
#include <string>

namespace files {

// A file's identity: device and inode on POSIX, volume serial number and
// file index on Windows. A path that names no file yet (an output to be
// created) is identified by its folder's identity and its name there.
struct FileId {
  uint64_t device = 0;
  uint64_t index = 0;
  std::string name;  // empty for an existing file; the new file's name otherwise
  bool operator==(const FileId& o) const;
  bool operator!=(const FileId& o) const { return !(*this == o); }
};

enum class PathKind { Missing, File, Folder, Other };

// Where `path` leads once every symbolic link on the way to its last
// component is followed (as cp follows a link it writes to), relative links
// resolved against the link's folder. A path that is not a link comes back
// as it is. False with a reason for a loop or an unreadable link.
bool FollowLinks(const std::string& path, std::string* target, std::string* why);

// What is at `path` (links followed).
PathKind KindOf(const std::string& path);

// The identity of the file `path` names, links followed; for a missing file,
// of its folder and name. False with a reason when neither can be found (the
// folder does not exist, or cannot be searched).
bool Identify(const std::string& path, FileId* id, std::string* why);

// The folder part of `path` ("." when it has none) and its last component.
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);

// `path` made absolute against the current folder (unchanged when it is
// absolute already).
std::string Absolute(const std::string& path);

// The reason for the last failed system call, as one line of text.
std::string SystemErrorText(int code);
#ifdef _WIN32
// The same for a Windows error code (GetLastError).
std::string WindowsErrorText(unsigned long code);
#endif

}  // namespace files
