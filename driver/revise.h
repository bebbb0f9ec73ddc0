// The driver's own functions beside COpenTypeManager::ReviseFont.
#pragma once

// Removes what a revision of fontPath that was cut short may have left beside
// it: files of exactly the pattern the replacement uses, nothing else.
void RemoveReplaceLeftovers(const char* fontPath);
