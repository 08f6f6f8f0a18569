#include "plugin/scripting_keys.h"

#include "plugin/parameters.h"

// The display names of "Gcoe" and "Bcoe" are the reverse of the dialog's
// labels ("Gcoe" carries highlightRecovery but is named "Rolloff"); recorded
// actions depend on which field each key carries, so the names stay.
const ScriptingKey kScriptingKeys[kScriptingKeyCount] = {
    {FourCharCode("brgH"), KeyType::Float, kRedGain, true, true, "R Gain", "R Gain"},
    {FourCharCode("conT"), KeyType::Float, kRedGainFine, true, true, "R Gain (fine)", "R Gain (fine)"},
    {FourCharCode("bAdj"), KeyType::Float, kGreenGain, true, true, "G Gain", "G Gain"},
    {FourCharCode("satU"), KeyType::Float, kGreenGainFine, true, true, "G Gain (fine)", "G Gain (fine)"},
    {FourCharCode("lumC"), KeyType::Float, kBlueGain, true, true, "B Gain", "B Gain"},
    {FourCharCode("Rcoe"), KeyType::Float, kBlueGainFine, true, true, "B Gain (fine)", "B Gain (fine)"},
    {FourCharCode("Gcoe"), KeyType::Float, kHighlightRecovery, true, true, "Rolloff",
     "Highlight desaturation rolloff"},
    {FourCharCode("Bcoe"), KeyType::Float, kHighlightRolloff, true, true, "Highlight Recovery",
     "Highlight Recovery"},
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
    FourCharCode("brgH"), FourCharCode("conT"), FourCharCode("bAdj"), FourCharCode("satU"),
    FourCharCode("lumC"), FourCharCode("Rcoe"), FourCharCode("Gcoe"), FourCharCode("Bcoe"),
    FourCharCode("Zoom"), FourCharCode("Zmoh"), FourCharCode("Zmov"), FourCharCode("Zmfh"),
    FourCharCode("Zmfv"), 0};

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
