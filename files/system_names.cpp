#include "files/system_names.h"

namespace files {

bool ReadFileBytes(const std::string& path, size_t limit, std::string* bytes) {
  bytes->clear();
  std::FILE* f = OpenFile(path, "rb");
  if (!f) return false;
  char buffer[8192];
  while (bytes->size() < limit) {
    const size_t want = limit - bytes->size() < sizeof buffer ? limit - bytes->size() : sizeof buffer;
    const size_t n = std::fread(buffer, 1, want, f);
    bytes->append(buffer, n);
    if (n < want) break;
  }
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

}  // namespace files
