// The dialog's live preview in its window: where it sits in the dialog, and
// the filtered proxy painted through the host's displayPixels.
#pragma once

#include "platform/win32.h"
#include "dialog/preview_state.h"

// The proxy's place in the dialog (client coordinates).
RECT PreviewImageRect(HWND dialog);
// The preview frame's window rectangle in client coordinates.
RECT PreviewFrameRect(HWND dialog);
void MeasurePreviewFrame(HWND dialog);
// The one operation every parameter change ends with: sampling rate, render
// (unless Show Original), invalidate the frame.
void RefreshPreview(HWND dialog);
void PaintPreview(HWND dialog);
