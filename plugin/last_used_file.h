// The last-used settings where the host keeps none: hosts without a
// descriptor registry that call Parameters on every run (pspiHost, GIMP,
// IrfanView) would otherwise start every run from the defaults. The same
// fields the registry entry holds go to a small per-user file, replaced
// whole on every write; a file that is damaged in any way is ignored
// without a word, and the settings then stay as they are.
#pragma once

#include <string>
#include <vector>

#include "hostapi/host_interface.h"

struct FilterParameters;
struct ProxyViewState;

// The file's bytes for these settings.
std::vector<uint8> EncodeLastUsedFile(const FilterParameters& parameters, const ProxyViewState& view);

// All or nothing: true with both records filled when `bytes` is a whole,
// undamaged file; false with both untouched otherwise.
bool DecodeLastUsedFile(const std::vector<uint8>& bytes, FilterParameters& parameters,
                        ProxyViewState& view);

// Where the file lives ("" when the user has no settings folder).
std::string LastUsedFilePath();

// Reads the file into both records (noErr), or leaves them as they are
// (errPlugInHostInsufficient: no file, or not a usable one).
int32 ReadLastUsedFile(FilterParameters& parameters, ProxyViewState& view);

// Replaces the file atomically; noErr, or writErr when it could not be written.
int32 WriteLastUsedFile(const FilterParameters& parameters, const ProxyViewState& view);
