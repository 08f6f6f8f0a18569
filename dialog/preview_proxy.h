// The dialog's live preview, its proxy: the document fetched from the host
// at reduced size into an unfiltered and a filtered 8-bit copy, filtered by
// the band renderer. Everything runs on the dialog's thread, inside Start,
// through the bound call state.
#pragma once

#include "platform/win32.h"
#include "dialog/preview_state.h"

// Sets the sampling rate and the host's input rectangle for the zoom level,
// lays the view out, (re)allocates both proxy buffers and fetches the
// unfiltered pixels.
void RebuildProxy();
void AllocateProxyBuffers();
void ReleaseProxyBuffers();
// Fetches the colour planes of the host's current input rectangle into
// `destination` (width x height per plane), converted to 8 bits.
void FetchProxyPixels(uint8* destination, int32 width, int32 height);
// Pans the zoomed view by (dx, dy) proxy pixels: what stays visible is
// copied, only the uncovered strips are fetched and filtered.
void PanPreview(int32 dx, int32 dy);
// Zooms by `steps` (negative: in); true when the level changed. `frame` is
// the preview frame in client coordinates.
bool StepZoom(const RECT& frame, int32 steps);

