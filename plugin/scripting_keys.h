// The filter's scripting keys: one table that the descriptor operations, the
// last-used store and the scripting terminology resource all read, so a key
// cannot mean one thing to the code and another to the host's dictionary.
// The settings' keys and names are their rows' in hostapi/setting_table.h.
#pragma once

#include "hostapi/host_interface.h"

struct FilterParameters;
struct ProxyViewState;

enum class KeyType { Float, Integer, Boolean };

struct ScriptingKey {
  DescriptorKeyID key;
  KeyType type;
  // Floats: the index of the double in FilterParameters; otherwise -1.
  int parameterIndex;
  bool scriptWrite;  // recorded into actions (Zmpw/Zmph and, unless true, ignS are not)
  // The scripting terminology: declared keys carry a name and description.
  bool declared;
  const char* name;
  const char* description;
};

// In the order the last-used store reads and writes them: eight floats,
// twelve integers, the boolean.
constexpr int kScriptingKeyCount = 21;
extern const ScriptingKey kScriptingKeys[kScriptingKeyCount];

constexpr DescriptorKeyID keyIgnoreSelection = FourCharCode("ignS");
constexpr DescriptorKeyID keySavedFlag = FourCharCode("Zm00");
// The run counter of the last-used settings (the record's generation): kept
// with them in the registry and the last-used file, never in actions.
constexpr DescriptorKeyID keyRunGeneration = FourCharCode("Zmgn");

// The thirteen keys a played descriptor is expected to hold, zero-terminated.
constexpr int kExpectedKeyCount = 13;
extern const DescriptorKeyID kExpectedScriptKeys[kExpectedKeyCount + 1];

const ScriptingKey* FindScriptingKey(DescriptorKeyID key);

// The view-state field an integer key carries ("Zm00": the low byte of
// savedFlag). False for keys that are not integer keys.
bool ReadViewValue(const ProxyViewState& view, DescriptorKeyID key, int32& value);
bool StoreViewValue(ProxyViewState& view, DescriptorKeyID key, int32 value);

// The unique string of the plug-in: its descriptor registry key and the
// scope of its scripting terminology.
constexpr const char* kPluginUniqueString = "7ac1b023-63e8-461b-a7fd-95ea786ce3c4";
