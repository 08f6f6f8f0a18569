// Helpers for renderer tests: documents full of varied pixels, a render run
// set up the way the entry point sets it up, and the expected result of
// filtering a document pixel by pixel.
#pragma once

#include "host/host.h"
#include "plugin/parameters.h"
#include "render/transform.h"

// Pixels that cover the whole range of the depth, deterministic per seed
// (16-bit within the host's 0..32768, 32-bit within 0..1 with a few values
// outside it).
void FillNoise(host::Document& d, uint32 seed);
// The same, as an image file holds it: 32-bit values kept within 0..1.
void FillFileNoise(host::Document& d, uint32 seed);

// The warm-cast correction most tests use: gains 0.8 / 1.0 / 1.25 with a
// fine red tweak, recovery and rolloff at their defaults.
FilterParameters WarmCast();

// An action that plays `p` (every float key, and the integer keys a script
// writes set to 1), as a host hands a recorded action back.
host::Descriptor ActionFor(const FilterParameters& p);

// Switches the host to 32-bit coordinates (when offered), starts the call's
// pixel requests afresh and builds the transfer tables in its buffers, as
// every PluginMain call does; undone on destruction.
class CallScope {
 public:
  explicit CallScope(host::Host& h);
  ~CallScope();

 private:
  host::Host& host_;
};

// RenderFinal inside a CallScope; the output is committed to the document.
int16 RunFinal(host::Host& h, FilterParameters parameters);

// `original` filtered pixel by pixel inside `rect` with the kernels
// directly: what any correct tiling and threading must produce.
host::Document Expected(const host::Document& original, FilterParameters parameters, VRect rect);

// First differing sample, for readable failures; empty when identical.
std::string FirstDifference(const host::Document& a, const host::Document& b);
