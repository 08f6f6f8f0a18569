// The modal filter dialog that Start opens.
#pragma once

#include "hostapi/host_interface.h"

// Shows the dialog, owned by the host's window, and returns 1 for OK, 2 for
// Cancel, or another value when the dialog could not be created.
intptr_t RunFilterDialog(FilterRecord& record);
