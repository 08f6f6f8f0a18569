// A small, portable reader of Windows module files (PE32 and PE32+): the
// machine type and named resources. It reads the file as data, so it works
// on any platform and never runs the module's code. Every offset read from
// the file is checked before it is followed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct PeModule {
  uint16_t machine = 0;  // 0x14c x86, 0x8664 x64
  std::vector<uint8_t> bytes;
};

bool ReadPeModule(const std::string& path, PeModule& out, std::string* error);

// The data of the resource of type `type` (a resource type name such as
// "PIPL") and integer ID `id`, first language found. False when absent.
bool FindPeResource(const PeModule& module, const std::string& type, uint16_t id,
                  std::vector<uint8_t>& data, std::string* error);

const char* MachineName(uint16_t machine);

}  // namespace host
