// patool's command line: the usage, and each command handed its arguments.
#include "tools/patool/patool.h"

#include "tools/patool/internal.h"

namespace patool {

namespace internal {

namespace {

const char kUsage[] =
    "usage: patool make OLD NEW OUT.pa\n"
    "       patool show FILE.pa [--font OLD]\n"
    "       patool apply FONT FILE.pa OUT\n"
    "       patool check OLD FILE.pa NEW\n"
    "       patool release OLD_DIR NEW_DIR OUT_DIR [--with-updater upd.exe]\n"
    "       patool verify HOST_DIR [FONT...]\n"
    "       patool --help\n";

const char kHelp[] =
    "\n"
    "  make   writes the difference file that turns the font OLD into NEW; its\n"
    "         header names OLD (its fifth name record) and OLD's head.fontRevision.\n"
    "  show   prints the file's header, records and block lists and names every\n"
    "         rule of the format it breaks; with --font, also checks it against OLD.\n"
    "  apply  builds the revised font from FONT exactly as the updater does (serial\n"
    "         strings carried over, checksums recomputed) and writes it to OUT;\n"
    "         FONT is left alone.\n"
    "  check  says whether FILE.pa turns OLD into NEW, leaving aside the name ID 13\n"
    "         strings (the updater fills them in) and the checksums; and whether it\n"
    "         does so for copies of OLD whose serial strings are longer and shorter,\n"
    "         as customers' copies are.\n"
    "  release  pairs the fonts of OLD_DIR and NEW_DIR by the catalogue's font file\n"
    "         names, makes and checks the difference file of every pair whose\n"
    "         revision changed, and writes them under the catalogue's difference-file\n"
    "         names into OUT_DIR/host (with --with-updater, the updater beside it as\n"
    "         upd.exe).  Fonts the catalogue does not name, fonts in one folder only,\n"
    "         fonts whose revision did not change and fonts that cannot be loaded are\n"
    "         reported and left out; the others are released.  When a difference\n"
    "         file cannot be made, checked or written, nothing is written at all.\n"
    "  verify checks every difference file of HOST_DIR against the release\n"
    "         manifest there, and each FONT named against the files for it, as the\n"
    "         updater would before revising it.\n"
    "\n"
    "  make and release write the release manifest (release.sha256) beside the\n"
    "  difference files: each file's SHA-256, that of the old font's bytes it\n"
    "  takes and that of the revised font.  apply, check, show and verify check\n"
    "  a file listed there as the updater does.\n"
    "\n"
    "exit codes:\n"
    "   0  done (show: well-formed; check: the file turns OLD into NEW)\n"
    "   1  check: the file does not turn OLD into NEW\n"
    "   2  wrong arguments\n"
    "   3  an input file cannot be read\n"
    "   4  an input is not a CFF OpenType font the updater can load\n"
    "   5  the input is not a difference file\n"
    "   6  the difference file breaks a rule of the format\n"
    "   7  the difference file is not for this font\n"
    "   8  the output cannot be written\n"
    "   9  make: the two fonts do not have the same tables\n"
    "  10  the updater's engine refused to build the font\n"
    "  11  release: a font that the catalogue does not name\n"
    "  12  release: a font in only one of the two folders\n"
    "  13  release: a font whose revision did not change\n"
    "  14  the difference file is not the one its release manifest lists, or the\n"
    "      manifest beside it cannot be used\n"
    "  15  the font is not the one the difference file was made from (manifest)\n"
    "  16  the font built is not the one released (manifest)\n"
    "      (release: when fonts were left out for several reasons, the first of 4,\n"
    "      12, 11, 13; when a difference file failed, its code and nothing written)\n";

}  // namespace

int Fail(std::ostream& err, const Failure& f) {
    err << "patool: " << f.message << "\n";
    return f.code;
}

}  // namespace internal

using namespace internal;

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progressLine) {
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            out << kUsage << kHelp;
            return kExitOk;
        }
    }
    if (args.empty()) {
        err << kUsage;
        return kExitUsage;
    }
    const std::string& command = args[0];
    std::vector<std::string> rest;
    // The one option each of two commands takes: show --font, release --with-updater.
    const char* option = command == "show" ? "--font" : command == "release" ? "--with-updater" : nullptr;
    bool haveOption = false;
    std::string optionValue;
    for (size_t i = 1; i < args.size(); ++i) {
        if (option && args[i] == option) {
            if (i + 1 >= args.size() || haveOption) {
                err << "patool: " << option << (command == "show" ? " needs one font\n" : " needs one file\n")
                    << kUsage;
                return kExitUsage;
            }
            optionValue = args[++i];
            haveOption = true;
        } else if (args[i].size() > 1 && args[i][0] == '-' && args[i][1] == '-') {
            err << "patool: unknown option '" << args[i] << "'\n" << kUsage;
            return kExitUsage;
        } else {
            rest.push_back(args[i]);
        }
    }
    const size_t wanted = command == "show" ? 1 : 3;
    if (command == "verify") {
        if (rest.empty()) {
            err << "patool: verify takes a host folder and any number of fonts\n" << kUsage;
            return kExitUsage;
        }
        return Verify(rest, out, err);
    }
    if (command != "make" && command != "show" && command != "apply" && command != "check" && command != "release") {
        err << "patool: unknown command '" << command << "'\n" << kUsage;
        return kExitUsage;
    }
    if (rest.size() != wanted) {
        const char* what = command == "release" ? " folders" : wanted == 1 ? " file" : " files";
        err << "patool: " << command << " takes " << wanted << what << ", not " << rest.size() << "\n" << kUsage;
        return kExitUsage;
    }
    if (command == "make") return Make(rest, out, err);
    if (command == "show") return Show(rest[0], haveOption ? &optionValue : nullptr, out, err);
    if (command == "apply") return Apply(rest, out, err);
    if (command == "release") return Release(rest, haveOption ? optionValue : std::string(), progressLine, out, err);
    return Check(rest, out, err);
}

}  // namespace patool
