// patool: the font makers' command-line tool for difference files.
//
//   patool make OLD NEW OUT.pa         write the file that turns OLD into NEW
//   patool show FILE.pa [--font OLD]   print it and name every rule it breaks
//   patool apply FONT FILE.pa OUT      build the revised font as the updater does
//   patool check OLD FILE.pa NEW       does the file turn OLD into NEW?
//   patool release OLD_DIR NEW_DIR OUT_DIR [--with-updater upd.exe]
//                                      the difference files of a product line,
//                                      as the customers' package
//   patool verify HOST_DIR [FONT...]   a host folder (and fonts) checked against
//                                      its release manifest, as the updater would
//
// `apply` and `check` run the updater's own engine (loading, serial strings,
// building, checksums) on the host's files, so what they build is what the
// updater would write.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace patool {

enum ExitCode {
    kExitOk = 0,
    kExitNoMatch = 1,         // check: the file does not turn OLD into NEW
    kExitUsage = 2,           // wrong arguments
    kExitUnreadable = 3,      // an input file cannot be read
    kExitNotAFont = 4,        // an input is not a CFF OpenType font the updater can load
    kExitNotADiff = 5,        // the input is not a difference file
    kExitMalformed = 6,       // the difference file breaks a rule of the format
    kExitDoesNotFit = 7,      // the difference file is not for this font
    kExitWriteFailed = 8,     // the output cannot be written
    kExitCannotPair = 9,      // make: the two fonts do not have the same tables
    kExitBuildFailed = 10,    // the engine refused to build the font
    kExitNotInCatalogue = 11, // release: a font that the catalogue does not name
    kExitOneSideOnly = 12,    // release: a font in only one of the two folders
    kExitUnchanged = 13,      // release: a font whose revision did not change
    // The release manifest beside the difference file says otherwise:
    kExitNotReleased = 14,        // the file is not the one released, or the manifest cannot be used
    kExitFontNotReleased = 15,    // the font is not the one the file was made from
    kExitResultNotReleased = 16,  // the font built is not the one released
};

// Runs one command line (without the program name); messages go to out and
// err.  Returns the exit code.  With progressLine, release keeps a line on
// err up to date while it works (for a terminal).
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progressLine = false);

}  // namespace patool
