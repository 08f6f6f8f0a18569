// The arithmetic of the preview's view: where the proxy stands in the frame,
// how large it is at a zoom level, which rectangle of the document the host
// is asked for, and how the view offsets convert to and from the focal point
// that keeps the view centre when the zoom level changes. Pure integer and
// double arithmetic; its only effect on the host is the input rectangle and
// the sampling rate it writes.
#pragma once

#include "hostapi/host_interface.h"
#include "dialog/preview_state.h"

struct ProxyViewState;

// The proxy centred in the frame: `frame` is the frame's window rectangle in
// screen coordinates, (originX, originY) the screen position of the dialog's
// client origin; the result is in client coordinates.
PixelRect PreviewImageRectFrom(const PixelRect& frame, int32 originX, int32 originY,
                               int32 proxyWidth, int32 proxyHeight);

// The host's sampling rate for the zoom level: level << 16, or 1.0 in fit
// mode (and for the levels that build no proxy).
void SetSamplingRate(FilterRecord& record, const ProxyViewState& view);

// The filter rectangle with each coordinate divided by n (truncating), cut to
// the 16-bit range.
VRect ScaledFilterRect(const FilterRecord& record, int32 n);

// Zoom level 0: the whole filter rectangle shrunk into the frame.
void LayoutFitView(FilterRecord& record, PreviewState& preview);
// Zoom level n >= 1: a window of at most frame size onto the document at 1:n.
void LayoutZoomedView(FilterRecord& record, PreviewState& preview, ProxyViewState& view);
// Keeps the zoomed window inside the scaled filter rectangle, writing the
// corrected offsets back, and asks the host for the window's pixels. The
// window is measured from the scaled rectangle's top-left corner, so a
// selection away from the document origin previews its own pixels.
void ClampZoomedView(FilterRecord& record, const PreviewState& preview, ProxyViewState& view);

// The smallest sampling factor at which the filter rectangle fits the frame.
int32 FitZoomFactor(const FilterRecord& record, const PreviewState& preview);

// Between the view offsets (proxy pixels at the current level) and the focal
// point (full-resolution pixels from the filter rectangle's centre).
void FocalPointToOffsets(const FilterRecord& record, ProxyViewState& view);
void OffsetsToFocalPoint(const FilterRecord& record, ProxyViewState& view);
