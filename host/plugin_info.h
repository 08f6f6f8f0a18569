// What a filter module tells a host about itself: its property list (menu
// placement, entry points, modes, enable rule, filter cases, scripting) and
// its scripting terminology, decoded into readable text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct PipelineProperty {
  uint32_t vendor = 0;
  uint32_t key = 0;
  std::vector<uint8_t> data;
};

// Splits a Windows PiPL resource into its properties; false with a reason
// when the bytes are not a well-formed property list.
bool ParsePiPL(const std::vector<uint8_t>& resource, std::vector<PipelineProperty>& out,
               std::string* error);

// Readable descriptions of a PiPL and of a terminology ('aete') resource.
std::string DescribePiPL(const std::vector<PipelineProperty>& properties);
std::string DescribeTerminology(const std::vector<uint8_t>& resource);

}  // namespace host
