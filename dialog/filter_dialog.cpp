#include "filter_dialog.h"

// The dialog arrives with the window layer; until then it cannot be created,
// which Start treats like Cancel.
intptr_t RunFilterDialog(FilterRecord&) { return -1; }
