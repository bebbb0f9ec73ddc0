// The simulated machine's registry and what Windows does with it at a
// start: the values of HKLM's RunOnce key are the commands it runs once, and
// volatile keys are gone.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

// Key paths are written as the program writes them below the root,
// beginning with "HKLM\\" ("HKLM\\Software\\Microsoft\\..."), in any
// letter case.

// The values of a key, name to text; empty when the key is not there.
std::map<std::string, std::string> RegistryValues(const std::string& key);
bool RegistryKeyExists(const std::string& key);
// Sets a text value, making the key (not volatile) when needed.
void SetRegistryValue(const std::string& key, const std::string& name, const std::string& text);

// Where the commands of RunOnce values go at a restart: the test starts the
// program with that command line and returns its exit code.  Without a
// starter the values are only removed.
void SetProgramStarter(std::function<int(const std::string& commandLine)> start);
// The command lines started from RunOnce values, in order, since the last Reset.
const std::vector<std::string>& RunOnceStarted();

// Open registry key handles (a leak detector for tests).
int OpenRegistryKeyCount();

// For RestartWindows: volatile keys go, then each RunOnce value is removed
// and its command started, in the order of the values' names.
void StartWindowsRegistry();

}  // namespace sim
