// The named event that carries the monitor's reload and stop requests.
#pragma once

#include "rtl/Handles.h"

// Creates the control event (manual reset, not set), owned by the
// Administrators: only LocalSystem (full access) and the Administrators (set
// and wait) may open it. Raises the operating-system error when that fails,
// with nothing left open. An existing control event is taken over (and
// reset) only when it is provably the monitor's own: our DACL, protected,
// and a trusted owner (LocalSystem, the Administrators or this service's
// account), as an earlier run leaves it while another process still holds a
// handle. Any other existing event, another kind of object holding the name,
// and a symbolic link in the name's place (the event made or opened is not
// the one at the name, or the link leads nowhere) are refused with EOSError
// ERROR_ALREADY_EXISTS.
TKernelHandle CreateControlEvent();
