#include "call_state.h"

CallState gCallState;
