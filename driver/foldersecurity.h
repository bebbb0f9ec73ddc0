// Who may change a folder: the decision behind every operation the program
// makes with the administrator's rights in a place a standard user might
// reach (keeping a font's revision for the next start of Windows, staging,
// completing it later).  It is made from the folder's own access rules and
// those of every folder above it, never from its name: a user's profile can
// sit anywhere, and a folder link can put any name in front of any folder.
#pragma once

enum FolderControl {
    // Only administrators, the system and the account the program runs as
    // (when that account is an administrator's) can add to, remove from,
    // rename or re-secure the folder or any folder above it.
    kFolderAdministratorsOnly,
    // Someone else can, or something needed to tell could not be read.
    kFolderUserControlled,
};

// folderPath is a full path of a folder ("C:\\x\\y", with or without the
// final backslash; a drive root "C:\\").  A path that is not a local drive's
// folder, that passes through a link of any kind, or whose security cannot be
// read, is user-controlled.
FolderControl ControlOfFolder(const char* folderPath);
