// The POSIX half: identity from the device and inode numbers.
#include "files/file_identity.h"

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace files {

bool FollowLinks(const std::string& path, std::string* target, std::string* why) {
  std::string current = path;
  // As many links as the kernel itself follows before it calls it a loop.
  for (int hops = 0; hops < 40; ++hops) {
    struct stat s;
    if (lstat(current.c_str(), &s) != 0 || !S_ISLNK(s.st_mode)) {
      *target = current;
      return true;
    }
    std::vector<char> buffer(size_t(s.st_size > 0 ? s.st_size : PATH_MAX) + 1);
    const ssize_t n = readlink(current.c_str(), buffer.data(), buffer.size());
    if (n < 0 || size_t(n) >= buffer.size()) {
      if (why) *why = "cannot read the link " + current + ": " + SystemErrorText(n < 0 ? errno : ENAMETOOLONG);
      return false;
    }
    const std::string link(buffer.data(), size_t(n));
    current = !link.empty() && link[0] == '/' ? link : FolderOf(current) + "/" + link;
  }
  if (why) *why = path + ": too many levels of symbolic links";
  return false;
}

PathKind KindOf(const std::string& path) {
  struct stat s;
  if (stat(path.c_str(), &s) != 0) return PathKind::Missing;
  if (S_ISREG(s.st_mode)) return PathKind::File;
  if (S_ISDIR(s.st_mode)) return PathKind::Folder;
  return PathKind::Other;
}

bool Identify(const std::string& path, FileId* id, std::string* why) {
  struct stat s;
  if (stat(path.c_str(), &s) == 0) {
    id->device = uint64_t(s.st_dev);
    id->index = uint64_t(s.st_ino);
    id->name.clear();
    return true;
  }
  if (errno != ENOENT) {
    if (why) *why = SystemErrorText(errno);
    return false;
  }
  // Missing: a dangling link names the file it would create.
  std::string target;
  if (!FollowLinks(path, &target, why)) return false;
  const std::string folder = FolderOf(target);
  if (stat(folder.c_str(), &s) != 0) {
    if (why) *why = errno == ENOENT || errno == ENOTDIR ? "the folder " + folder + " does not exist"
                                                        : folder + ": " + SystemErrorText(errno);
    return false;
  }
  if (!S_ISDIR(s.st_mode)) {
    if (why) *why = folder + " is not a folder";
    return false;
  }
  id->device = uint64_t(s.st_dev);
  id->index = uint64_t(s.st_ino);
  id->name = NameOf(target);
  return true;
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::vector<char> folder(PATH_MAX);
  if (!getcwd(folder.data(), folder.size())) return path;
  return std::string(folder.data()) + "/" + path;
}

}  // namespace files
