#include "host/basic_suite.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "host/scripting.h"

namespace host {

namespace {

// Suite errors are four-character codes in PICA.
constexpr SPErr kSPSuiteNotFoundError = SPErr(FourCharCode("S!Fd"));
constexpr SPErr kSPBadParameterError = SPErr(FourCharCode("Parm"));

SPErr AcquireSuiteThunk(const char* name, int32 version, const void** suite) {
  return ActiveScripting() ? ActiveScripting()->AcquireSuite(name, version, suite) : kSPSuiteNotFoundError;
}
SPErr ReleaseSuiteThunk(const char* name, int32 version) {
  return ActiveScripting() ? ActiveScripting()->ReleaseSuite(name, version) : kSPSuiteNotFoundError;
}
SPBoolean IsEqualThunk(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }
SPErr AllocateBlockThunk(size_t size, void** block) {
  if (!block) return kSPBadParameterError;
  *block = std::malloc(size ? size : 1);
  return *block ? 0 : SPErr(memFullErr);
}
SPErr FreeBlockThunk(void* block) {
  std::free(block);
  return 0;
}
SPErr ReallocateBlockThunk(void* block, size_t size, void** out) {
  if (!out) return kSPBadParameterError;
  *out = std::realloc(block, size ? size : 1);
  return *out ? 0 : SPErr(memFullErr);
}
SPErr UndefinedThunk() { return kSPBadParameterError; }

}  // namespace

void FillBasicSuite(SPBasicSuite& suite) {
  suite.AcquireSuite = AcquireSuiteThunk;
  suite.ReleaseSuite = ReleaseSuiteThunk;
  suite.IsEqual = IsEqualThunk;
  suite.AllocateBlock = AllocateBlockThunk;
  suite.FreeBlock = FreeBlockThunk;
  suite.ReallocateBlock = ReallocateBlockThunk;
  suite.Undefined = UndefinedThunk;
}

SPErr Scripting::AcquireSuite(const char* name, int32 version, const void** suite) {
  if (!suite || !name) return kSPBadParameterError;
  *suite = nullptr;
  if (!ledger_.Enter("AcquireSuite")) return kSPSuiteNotFoundError;
  const std::string n(name);
  if (n == kPSActionDescriptorSuite && version == kPSActionDescriptorSuiteVersion) {
    *suite = &actions_;
  } else if (n == kPSDescriptorRegistrySuite && version == kPSDescriptorRegistrySuiteVersion) {
    *suite = &registrySuite_;
  } else {
    return kSPSuiteNotFoundError;
  }
  ++acquired_[n + " v" + std::to_string(version)];
  return 0;
}

SPErr Scripting::ReleaseSuite(const char* name, int32 version) {
  ledger_.Enter("ReleaseSuite");
  if (!name) return kSPBadParameterError;
  int& count = acquired_[std::string(name) + " v" + std::to_string(version)];
  if (count <= 0) {
    misuse_.push_back(std::string("ReleaseSuite: ") + name + " was not acquired");
    return kSPBadParameterError;
  }
  --count;
  return 0;
}

int Scripting::AcquiredSuites() const {
  int n = 0;
  for (const auto& a : acquired_) n += a.second;
  return n;
}

}  // namespace host
