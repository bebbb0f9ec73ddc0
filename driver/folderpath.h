// The folders a folder path passes through, for the decisions and the pins
// that must look at each of them.
#pragma once

#include <string>
#include <vector>

#include "platform/framework/cstring.h"

// "C:\\a\\b" (with or without the final backslash) gives "C:\\", "C:\\a",
// "C:\\a\\b".  Only a local drive's full path is taken: false for anything
// else (a share, a device path, a relative path), for an empty component,
// "." or "..", which Windows would fold into another folder than the one
// named, and for a path too long for the ANSI functions.  Backslashes that
// are the second byte of a double-byte character do not separate.
bool FolderChain(const char* folderPath, std::vector<std::string>* chain);

// The folder of a file's path, with its final backslash; "" when the path
// has none.  A backslash inside a double-byte character of the file's name
// does not end the folder.
CString FolderOf(const char* path);
