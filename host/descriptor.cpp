#include "host/descriptor.h"

#include <cmath>
#include <cstring>
#include <sstream>

#include "host/json.h"

namespace host {

void Descriptor::Put(const DescriptorItem& item) {
  for (auto& existing : items_) {
    if (existing.key == item.key) {
      existing = item;
      return;
    }
  }
  items_.push_back(item);
}

void Descriptor::PutFloat(DescriptorKeyID key, double value) {
  DescriptorItem item;
  item.key = key;
  item.type = typeFloat;
  item.floatValue = value;
  Put(item);
}

void Descriptor::PutInteger(DescriptorKeyID key, int32 value) {
  DescriptorItem item;
  item.key = key;
  item.type = typeInteger;
  item.integerValue = value;
  Put(item);
}

void Descriptor::PutBoolean(DescriptorKeyID key, bool value) {
  DescriptorItem item;
  item.key = key;
  item.type = typeBoolean;
  item.booleanValue = value;
  Put(item);
}

bool Descriptor::Erase(DescriptorKeyID key) {
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (it->key == key) {
      items_.erase(it);
      return true;
    }
  }
  return false;
}

const DescriptorItem* Descriptor::Find(DescriptorKeyID key) const {
  for (const auto& item : items_)
    if (item.key == key) return &item;
  return nullptr;
}

OSErr Descriptor::GetFloat(DescriptorKeyID key, double& value) const {
  const DescriptorItem* item = Find(key);
  if (!item) return errMissingParameter;
  if (item->type == typeFloat) return value = item->floatValue, noErr;
  if (item->type == typeInteger) return value = item->integerValue, noErr;
  return errWrongDataType;
}

OSErr Descriptor::GetInteger(DescriptorKeyID key, int32& value) const {
  const DescriptorItem* item = Find(key);
  if (!item) return errMissingParameter;
  if (item->type == typeInteger) return value = item->integerValue, noErr;
  if (item->type == typeFloat) {
    const double v = item->floatValue;
    if (!(v > -2147483648.5 && v < 2147483647.5)) return errWrongDataType;  // NaN too
    value = int32(std::lround(v));
    return noErr;
  }
  return errWrongDataType;
}

OSErr Descriptor::GetBoolean(DescriptorKeyID key, bool& value) const {
  const DescriptorItem* item = Find(key);
  if (!item) return errMissingParameter;
  if (item->type != typeBoolean) return errWrongDataType;
  value = item->booleanValue;
  return noErr;
}

bool Descriptor::operator==(const Descriptor& o) const {
  if (items_.size() != o.items_.size()) return false;
  for (size_t i = 0; i < items_.size(); ++i) {
    const DescriptorItem &a = items_[i], &b = o.items_[i];
    if (a.key != b.key || a.type != b.type) return false;
    if (a.type == typeFloat && std::memcmp(&a.floatValue, &b.floatValue, sizeof(double)) != 0)
      return false;
    if (a.type == typeInteger && a.integerValue != b.integerValue) return false;
    if (a.type == typeBoolean && a.booleanValue != b.booleanValue) return false;
  }
  return true;
}

// Each item: key, type (4 bytes each) and an 8-byte value, little-endian
// host order; preceded by the count.
std::vector<char> Descriptor::Serialize() const {
  std::vector<char> out(4 + items_.size() * 16);
  const uint32 count = uint32(items_.size());
  std::memcpy(out.data(), &count, 4);
  char* p = out.data() + 4;
  for (const auto& item : items_) {
    std::memcpy(p, &item.key, 4);
    std::memcpy(p + 4, &item.type, 4);
    if (item.type == typeFloat) std::memcpy(p + 8, &item.floatValue, 8);
    if (item.type == typeInteger) std::memcpy(p + 8, &item.integerValue, 4);
    if (item.type == typeBoolean) p[8] = item.booleanValue ? 1 : 0;
    p += 16;
  }
  return out;
}

bool Descriptor::Deserialize(const char* data, size_t size, Descriptor& out) {
  out.Clear();
  if (data == nullptr || size < 4) return false;
  uint32 count = 0;
  std::memcpy(&count, data, 4);
  if (size_t(count) > (size - 4) / 16) return false;
  const char* p = data + 4;
  for (uint32 i = 0; i < count; ++i, p += 16) {
    DescriptorItem item;
    std::memcpy(&item.key, p, 4);
    std::memcpy(&item.type, p + 4, 4);
    if (item.type == typeFloat) std::memcpy(&item.floatValue, p + 8, 8);
    if (item.type == typeInteger) std::memcpy(&item.integerValue, p + 8, 4);
    if (item.type == typeBoolean) item.booleanValue = p[8] != 0;
    out.items_.push_back(item);
  }
  return true;
}

std::string KeyText(uint32 code) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) s += char((code >> shift) & 0xff);
  return s;
}

uint32 KeyFromText(const std::string& text) {
  if (text.size() != 4) return 0;
  return (uint32(uint8(text[0])) << 24) | (uint32(uint8(text[1])) << 16) |
         (uint32(uint8(text[2])) << 8) | uint32(uint8(text[3]));
}

std::string DescriptorToJson(const Descriptor& d, int indent) {
  const std::string pad(size_t(indent), ' ');
  std::ostringstream out;
  out << "[";
  bool first = true;
  for (const auto& item : d.items()) {
    out << (first ? "\n" : ",\n") << pad << "  {\"key\": " << JsonQuote(KeyText(item.key))
        << ", \"type\": " << JsonQuote(KeyText(item.type)) << ", \"value\": ";
    if (item.type == typeFloat) {
      out << JsonNumber(item.floatValue);
    } else if (item.type == typeInteger) {
      out << item.integerValue;
    } else if (item.type == typeBoolean) {
      out << (item.booleanValue ? "true" : "false");
    } else {
      out << "null";
    }
    out << "}";
    first = false;
  }
  out << (first ? "]" : "\n" + pad + "]");
  return out.str();
}

namespace {

bool ItemFromJson(const JsonValue& v, DescriptorItem& item, std::string* error) {
  const JsonValue* key = v.Member("key");
  const JsonValue* type = v.Member("type");
  const JsonValue* value = v.Member("value");
  if (v.kind != JsonValue::Object || !key || !type || !value || key->kind != JsonValue::String ||
      type->kind != JsonValue::String || key->text.size() != 4) {
    if (error) *error = "each item needs a four-character \"key\", a \"type\" and a \"value\"";
    return false;
  }
  item.key = KeyFromText(key->text);
  item.type = KeyFromText(type->text);
  if (item.type == typeFloat) {
    if (!JsonToDouble(*value, item.floatValue)) {
      if (error) *error = "\"" + key->text + "\" needs a number";
      return false;
    }
  } else if (item.type == typeInteger) {
    double d = 0;
    if (!JsonToDouble(*value, d) || d != std::floor(d) || d < -2147483648.0 || d > 2147483647.0) {
      if (error) *error = "\"" + key->text + "\" needs a 32-bit integer";
      return false;
    }
    item.integerValue = int32(d);
  } else if (item.type == typeBoolean) {
    if (value->kind != JsonValue::Bool) {
      if (error) *error = "\"" + key->text + "\" needs true or false";
      return false;
    }
    item.booleanValue = value->boolean;
  } else {
    if (error) *error = "type \"" + type->text + "\" is not one of doub, long, bool";
    return false;
  }
  return true;
}

}  // namespace

bool DescriptorFromJson(const std::string& text, Descriptor& out, std::string* error) {
  JsonValue root;
  if (!ParseJson(text, root, error)) return false;
  return DescriptorFromJsonValue(root, out, error);
}

bool DescriptorFromJsonValue(const JsonValue& root, Descriptor& out, std::string* error) {
  if (root.kind != JsonValue::Array) {
    if (error) *error = "a descriptor is a JSON array of items";
    return false;
  }
  out.Clear();
  for (const JsonValue& v : root.array) {
    DescriptorItem item;
    if (!ItemFromJson(v, item, error)) return false;
    out.Put(item);
  }
  return true;
}

}  // namespace host
