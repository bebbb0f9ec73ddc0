#include "app/exitcodes.h"

#include "app/environment.h"
#include "engine/types.h"

int ExitCodeOfEnvironment(int environment) {
    switch (environment) {
    case kEnvWindowsTooOld:
    case kEnvWindowsUnknown: return kExitWindowsUnsupported;
    case kEnvNotAdministrator: return kExitNotAdministrator;
    default: return kExitFailed;  // the version could not even be asked
    }
}

int ExitCodeOfRevision(int result) {
    if (result == kReviseOk) return kExitRestartNeeded;
    if (result == kReviseStopped) return kExitCancelled;
    if (result == kReviseFontInUse) return kExitFontInUse;
    return kExitFailed;
}
