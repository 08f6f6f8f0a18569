// Writing a file so that a failure never costs the user the previous one.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

enum class ReplaceFileResult {
  Written,     // the target now holds exactly `data`
  CannotOpen,  // no file could be created there, or the target is read-only
  WriteFailed  // writing, flushing or replacing failed; the target is as it was
};

// Writes `data` through a staged file (the one atomic replace the command
// uses too) and refuses a target marked read-only, as a settings file the
// user protected must stay as it is.
ReplaceFileResult WriteFileReplacing(const std::string& path, const void* data, size_t size);

}  // namespace platform
