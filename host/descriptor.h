// The host's descriptors: an ordered list of typed keys, as scripting
// records them. Used for the action descriptor suite, the registry, the
// descriptor handles played to and recorded from the plug-in, and their
// readable JSON form.
#pragma once

#include <string>
#include <vector>

#include "hostapi/host_interface.h"

namespace host {

struct DescriptorItem {
  DescriptorKeyID key = 0;
  DescriptorTypeID type = 0;  // typeFloat, typeInteger or typeBoolean
  double floatValue = 0;
  int32 integerValue = 0;
  bool booleanValue = false;
};

class Descriptor {
 public:
  const std::vector<DescriptorItem>& items() const { return items_; }
  bool empty() const { return items_.empty(); }
  size_t size() const { return items_.size(); }

  // A key put again replaces its value and type, keeping its place.
  void PutFloat(DescriptorKeyID key, double value);
  void PutInteger(DescriptorKeyID key, int32 value);
  void PutBoolean(DescriptorKeyID key, bool value);
  void Put(const DescriptorItem& item);
  bool Erase(DescriptorKeyID key);
  void Clear() { items_.clear(); }

  const DescriptorItem* Find(DescriptorKeyID key) const;
  bool Has(DescriptorKeyID key) const { return Find(key) != nullptr; }

  // Reading converts between integers and floats (a float read as an integer
  // is rounded to nearest); any other type mismatch fails.
  OSErr GetFloat(DescriptorKeyID key, double& value) const;
  OSErr GetInteger(DescriptorKeyID key, int32& value) const;
  OSErr GetBoolean(DescriptorKeyID key, bool& value) const;

  // The bytes kept in a descriptor handle.
  std::vector<char> Serialize() const;
  static bool Deserialize(const char* data, size_t size, Descriptor& out);

  bool operator==(const Descriptor& o) const;

 private:
  std::vector<DescriptorItem> items_;
};

// A misread type or key: AppleEvent's "wrong data type".
constexpr OSErr errWrongDataType = -1703;

// "brgH" and its value in readable form, and back.
std::string KeyText(uint32 code);
uint32 KeyFromText(const std::string& text);

struct JsonValue;

// The readable JSON form: an array of {"key", "type", "value"} objects.
std::string DescriptorToJson(const Descriptor& d, int indent = 0);
bool DescriptorFromJson(const std::string& text, Descriptor& out, std::string* error);
bool DescriptorFromJsonValue(const JsonValue& root, Descriptor& out, std::string* error);

}  // namespace host
