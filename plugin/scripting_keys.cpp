#include "plugin/scripting_keys.h"

#include "plugin/parameters.h"

namespace {

// A setting's double, under the key and terminology of its row.
constexpr ScriptingKey SettingKey(int index) {
  const SettingRow& s = kSettings[index];
  return {s.key,
          KeyType::Float,
          index,
          true,
          true,
          s.terminologyName ? s.terminologyName : s.label,
          s.terminologyDescription ? s.terminologyDescription : s.label};
}

}  // namespace

const ScriptingKey kScriptingKeys[kScriptingKeyCount] = {
    SettingKey(kRedGain),
    SettingKey(kRedGainFine),
    SettingKey(kGreenGain),
    SettingKey(kGreenGainFine),
    SettingKey(kBlueGain),
    SettingKey(kBlueGainFine),
    SettingKey(kHighlightRecovery),
    SettingKey(kHighlightRolloff),
    {FourCharCode("Zoom"), KeyType::Integer, -1, true, true, "Proxy zoom level", "Proxy zoom level"},
    {FourCharCode("Zmoh"), KeyType::Integer, -1, true, true, "Proxy offset H", "Offset of proxy horizontally"},
    {FourCharCode("Zmov"), KeyType::Integer, -1, true, true, "Proxy offset V", "Offset of proxy vertically"},
    {FourCharCode("Zmfh"), KeyType::Integer, -1, true, true, "Focal point H", "Proxy focal point H"},
    {FourCharCode("Zmfv"), KeyType::Integer, -1, true, true, "Focal point V", "Proxy focal point V"},
    {FourCharCode("Zmww"), KeyType::Integer, -1, true, false, nullptr, nullptr},
    {FourCharCode("Zmwh"), KeyType::Integer, -1, true, false, nullptr, nullptr},
    {FourCharCode("Zmpw"), KeyType::Integer, -1, false, false, nullptr, nullptr},
    {FourCharCode("Zmph"), KeyType::Integer, -1, false, false, nullptr, nullptr},
    {FourCharCode("Zmsz"), KeyType::Integer, -1, true, false, nullptr, nullptr},
    {FourCharCode("Zmrm"), KeyType::Integer, -1, true, false, nullptr, nullptr},
    {FourCharCode("Zm00"), KeyType::Integer, -1, true, false, nullptr, nullptr},
    {FourCharCode("ignS"), KeyType::Boolean, -1, true, true, "ignore selection", "filter entire image"},
};

const DescriptorKeyID kExpectedScriptKeys[kExpectedKeyCount + 1] = {
    kSettings[kRedGain].key,           kSettings[kRedGainFine].key,      kSettings[kGreenGain].key,
    kSettings[kGreenGainFine].key,     kSettings[kBlueGain].key,         kSettings[kBlueGainFine].key,
    kSettings[kHighlightRecovery].key, kSettings[kHighlightRolloff].key, FourCharCode("Zoom"),
    FourCharCode("Zmoh"),              FourCharCode("Zmov"),             FourCharCode("Zmfh"),
    FourCharCode("Zmfv"),              0};

const ScriptingKey* FindScriptingKey(DescriptorKeyID key) {
  for (const ScriptingKey& k : kScriptingKeys)
    if (k.key == key) return &k;
  return nullptr;
}

namespace {

int32* ViewField(ProxyViewState& v, DescriptorKeyID key) {
  switch (key) {
    case FourCharCode("Zoom"): return &v.zoomLevel;
    case FourCharCode("Zmoh"): return &v.offsetH;
    case FourCharCode("Zmov"): return &v.offsetV;
    case FourCharCode("Zmfh"): return &v.focalPointH;
    case FourCharCode("Zmfv"): return &v.focalPointV;
    case FourCharCode("Zmww"): return &v.windowWidth;
    case FourCharCode("Zmwh"): return &v.windowHeight;
    case FourCharCode("Zmpw"): return &v.dialogWidth;
    case FourCharCode("Zmph"): return &v.dialogHeight;
    case FourCharCode("Zmsz"): return &v.savedSize;
    case FourCharCode("Zmrm"): return &v.savedMode;
    default: return nullptr;
  }
}

}  // namespace

bool ReadViewValue(const ProxyViewState& view, DescriptorKeyID key, int32& value) {
  if (key == keySavedFlag) {
    value = int32(view.savedFlag);  // widened without sign
    return true;
  }
  int32* field = ViewField(const_cast<ProxyViewState&>(view), key);
  if (!field) return false;
  value = *field;
  return true;
}

bool StoreViewValue(ProxyViewState& view, DescriptorKeyID key, int32 value) {
  if (key == keySavedFlag) {
    view.savedFlag = uint8(value & 0xff);
    return true;
  }
  int32* field = ViewField(view, key);
  if (!field) return false;
  *field = value;
  return true;
}
