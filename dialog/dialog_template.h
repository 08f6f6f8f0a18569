// The filter dialog's template, FILTERDIALOG: one table that the resource
// generator turns into the Windows modules' dialog resource and that the
// headless window system builds its dialog from, so both show the same
// controls at the same places.
#pragma once

#include "platform/dialog_resource.h"

extern const DialogTemplate kFilterDialogTemplate;

// Control IDs the code refers to.
enum DialogControlId {
  kIdOk = 1,
  kIdCancel = 2,
  kIdReset = 12,
  kIdPreviewFrame = 900,
  kIdShowOriginal = 901,
  kIdEyedropper = 902,
  kIdSaveSettings = 903,
  kIdLoadSettings = 904,
};
