// Windows, dialogs, controls and the message queue, as the simulated machine
// declares them.  Included through platform/winapi.h only.
#pragma once

#include "platform/win32/base.h"
