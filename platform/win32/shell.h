// Shell folders, path helpers and the WOW64 file-system redirection functions, as the simulated machine
// declares them.  Included through platform/winapi.h only.
#pragma once

#include "platform/win32/base.h"
