// Version query, tokens, the access check, named mutexes, privileges and restart, as the simulated machine
// declares them.  Included through platform/winapi.h only.
#pragma once

#include "platform/win32/base.h"
