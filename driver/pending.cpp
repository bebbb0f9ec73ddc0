#include "driver/pending.h"

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "driver/folderpath.h"
#include "driver/folderpin.h"
#include "driver/foldersecurity.h"
#include "driver/revise.h"
#include "engine/manifest.h"
#include "engine/otbase.h"
#include "platform/framework/cfile.h"

namespace {

// The staging folder, below %SystemRoot%\Temp: a name of our own, which
// is not trusted for its name (a folder planted there earlier is refused by
// its access rules).
const char kStagingName[] = "upd-pending";
const char kRecordSuffix[] = ".rec";
const char kRevisionSuffix[] = ".font";
// Volume serial and file index, in hexadecimal.
const int kIdentityDigits = 24;

const char kRunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kRunOnceValue[] = "upd-complete";
// A volatile key, gone at every start of Windows: the token in it tells
// this start from the earlier ones that records were written in.
const char kStartKey[] = "Software\\upd-start";
const char kStartValue[] = "token";

const char kRecordMagic[] = "upd pending revision 1";
// A record is a few short lines: anything longer is not one of ours.
const uint32_t kMaxRecordBytes = 4096;
// The most files of the staging folder looked at in one run.
const int kMaxStagingEntries = 4096;
const uint32_t kMaxFontBytes = 0x7FFFFFFFu;

const char kHex[] = "0123456789abcdef";

bool ParseHex(const char* text, size_t length, BYTE* out, size_t count) {
    if (length != count * 2) return false;
    for (size_t i = 0; i < length; ++i) {
        const char* at = std::strchr(kHex, text[i]);
        if (!at || !*at) return false;
        const BYTE nibble = static_cast<BYTE>(at - kHex);
        out[i / 2] = static_cast<BYTE>(i % 2 ? (out[i / 2] | nibble) : (nibble << 4));
    }
    return true;
}

bool ParseU32(const char* text, size_t length, uint32_t* out) {
    BYTE bytes[4];
    if (!ParseHex(text, length, bytes, 4)) return false;
    *out = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
    return true;
}

CString IdentityName(const FileIdentity& id) {
    CString name;
    name.Format("%08lx%08lx%08lx", static_cast<unsigned long>(id.volume), static_cast<unsigned long>(id.indexHigh),
                static_cast<unsigned long>(id.indexLow));
    return name;
}

bool ParseIdentityName(const char* name, FileIdentity* id) {
    uint32_t parts[3];
    for (int i = 0; i < 3; ++i) {
        if (!ParseU32(name + 8 * i, 8, &parts[i])) return false;
    }
    *id = FileIdentity{true, parts[0], parts[1], parts[2]};
    return true;
}

bool StagingFolder(CString* out) {
    char windows[MAX_PATH];
    std::memset(windows, 0, sizeof windows);
    const UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    CString folder(windows);
    if (folder.IsEmpty() || folder[folder.GetLength() - 1] != '\\') folder += "\\";
    folder += "Temp\\";
    folder += kStagingName;
    if (folder.GetLength() + 1 + kIdentityDigits + 5 >= MAX_PATH) return false;
    *out = folder;
    return true;
}

CString StagedPath(const CString& folder, const CString& identityName, const char* suffix) {
    return folder + "\\" + identityName + suffix;
}

// The staging folder as it must be: made by us with a protected rule that
// lets only administrators and the system in, and accepted only when its
// rules and those of every folder above it say so now.
bool PrepareStagingFolder(const CString& folder) {
    SID_IDENTIFIER_AUTHORITY nt = {{0, 0, 0, 0, 0, 5}};
    PSID administrators = nullptr;
    PSID system = nullptr;
    bool made = false;
    if (AllocateAndInitializeSid(&nt, 2, 32, 544, 0, 0, 0, 0, 0, 0, &administrators) &&
        AllocateAndInitializeSid(&nt, 1, 18, 0, 0, 0, 0, 0, 0, 0, &system)) {
        const DWORD aclLength = static_cast<DWORD>(sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                                                   GetLengthSid(administrators) + GetLengthSid(system));
        std::vector<BYTE> aclBytes(aclLength + 8, 0);
        PACL acl = reinterpret_cast<PACL>(aclBytes.data());
        SECURITY_DESCRIPTOR descriptor;
        const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        if (InitializeAcl(acl, static_cast<DWORD>(aclBytes.size()), ACL_REVISION) &&
            AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, administrators) &&
            AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, system) &&
            InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
            // Nothing inherited from the temporary folder, where users may make files.
            SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
            SECURITY_ATTRIBUTES attributes;
            attributes.nLength = sizeof attributes;
            attributes.lpSecurityDescriptor = &descriptor;
            attributes.bInheritHandle = FALSE;
            made = CreateDirectoryA(folder, &attributes) || GetLastError() == ERROR_ALREADY_EXISTS;
        }
    }
    if (administrators) FreeSid(administrators);
    if (system) FreeSid(system);
    return made && ControlOfFolder(folder) == kFolderAdministratorsOnly;
}

// The file at path read whole, with the identity of the file read and the
// digest of its bytes.  False when it cannot be had.
struct FileRead {
    std::unique_ptr<BYTE[]> bytes;
    uint32_t length = 0;
    FileIdentity identity;
    BYTE digest[kDigestSize] = {};
};

bool ReadWhole(const char* path, FileRead* out) {
    WholeFile whole;
    if (ReadWholeFile(path, kMaxFontBytes, 0, &whole, &out->identity) != kWholeFileRead) return false;
    out->bytes.reset(whole.data);
    out->length = whole.length;
    return out->identity.known && Sha256Of(whole.data, whole.length, out->digest);
}

// The revision's file is the one recorded: its length, digest and word sum.
bool RevisionFileIs(const char* path, const PendingRevision& revision) {
    FileRead staged;
    if (!ReadWhole(path, &staged) || staged.length != revision.revisionLength ||
        std::memcmp(staged.digest, revision.revisionDigest, kDigestSize) != 0) {
        return false;
    }
    COpenTypeManager checker;
    return checker.VerifyRevisedFile(path, revision.revisionSum) == kReviseOk;
}

// ---------------------------------------------------------------------------
// Records

CString RecordText(const PendingRevision& revision, const CString& start) {
    CString text;
    text.Format("%s\r\nfont=%s\r\nidentity=%s\r\nfont-sha256=%s\r\nrevision-sha256=%s\r\nrevision-length=%08lx\r\n"
                "revision-sum=%08lx\r\nstart=%s\r\n",
                kRecordMagic, static_cast<const char*>(revision.fontPath),
                static_cast<const char*>(IdentityName(revision.identity)),
                DigestHex(revision.fontDigest).c_str(),
                DigestHex(revision.revisionDigest).c_str(),
                static_cast<unsigned long>(revision.revisionLength), static_cast<unsigned long>(revision.revisionSum),
                static_cast<const char*>(start));
    return text;
}

// A record as written above, every line in its place; false for anything else.
bool ParseRecord(const std::string& text, PendingRevision* revision, std::string* start) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) return false;
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    static const char* const kKeys[] = {"font=", "identity=", "font-sha256=", "revision-sha256=",
                                        "revision-length=", "revision-sum=", "start="};
    const size_t keyCount = sizeof kKeys / sizeof kKeys[0];
    if (lines.size() != keyCount + 1 || lines[0] != kRecordMagic) return false;
    std::string values[keyCount];
    for (size_t i = 0; i < keyCount; ++i) {
        const size_t keyLength = std::strlen(kKeys[i]);
        if (lines[i + 1].compare(0, keyLength, kKeys[i]) != 0) return false;
        values[i] = lines[i + 1].substr(keyLength);
    }
    const std::string& font = values[0];
    if (font.size() < 4 || font.size() >= MAX_PATH || font[1] != ':' || font[2] != '\\' ||
        font.find('\0') != std::string::npos) {
        return false;
    }
    revision->fontPath = font.c_str();
    if (values[1].size() != kIdentityDigits || !ParseIdentityName(values[1].c_str(), &revision->identity) ||
        !ParseHex(values[2].data(), values[2].size(), revision->fontDigest, kDigestSize) ||
        !ParseHex(values[3].data(), values[3].size(), revision->revisionDigest, kDigestSize) ||
        !ParseU32(values[4].data(), values[4].size(), &revision->revisionLength) ||
        !ParseU32(values[5].data(), values[5].size(), &revision->revisionSum) || values[6].empty() ||
        values[6].size() > 64) {
        return false;
    }
    *start = values[6];
    return true;
}

bool ReadRecord(const char* path, PendingRevision* revision, std::string* start) {
    WholeFile whole;
    if (ReadWholeFile(path, kMaxRecordBytes, 0, &whole) != kWholeFileRead) return false;
    const std::string text(reinterpret_cast<const char*>(whole.data), whole.length);
    delete[] whole.data;
    return ParseRecord(text, revision, start);
}

bool WriteRecord(const char* path, const CString& text) {
    CFile file;
    if (!file.Open(path, CFile::modeWrite | CFile::modeCreateNew | CFile::shareExclusive)) return false;
    bool written = file.Write(static_cast<const char*>(text), static_cast<UINT>(text.GetLength())) &&
                   FlushFileBuffers(file.m_hFile);
    written = file.Close() && written;
    if (!written) DeleteFileA(path);
    return written;
}

// ---------------------------------------------------------------------------
// The registry

// The token of this start of Windows; with make, one is made when there is none.
bool StartToken(bool make, CString* token) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStartKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        char value[80];
        std::memset(value, 0, sizeof value);
        DWORD type = 0;
        DWORD size = sizeof value - 1;
        const LONG read = RegQueryValueExA(key, kStartValue, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size);
        RegCloseKey(key);
        if (read == ERROR_SUCCESS && type == REG_SZ && value[0]) {
            *token = value;
            return true;
        }
    }
    if (!make) return false;
    CString made;
    made.Format("%llx-%lx-%x", static_cast<long long>(_time64(nullptr)), static_cast<unsigned long>(GetTickCount()),
                std::rand());
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kStartKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const BYTE* value = reinterpret_cast<const BYTE*>(static_cast<const char*>(made));
    const LONG set = RegSetValueExA(key, kStartValue, 0, REG_SZ, value, static_cast<DWORD>(made.GetLength() + 1));
    RegCloseKey(key);
    if (set != ERROR_SUCCESS) return false;
    *token = made;
    return true;
}

bool SetRunOnce(bool present) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG done = ERROR_SUCCESS;
    if (present) {
        char exe[MAX_PATH];
        std::memset(exe, 0, sizeof exe);
        const DWORD length = GetModuleFileNameA(nullptr, exe, MAX_PATH);
        CString command;
        command.Format("\"%s\" /complete", exe);
        done = length == 0 || length >= MAX_PATH
                   ? ERROR_INVALID_PARAMETER
                   : RegSetValueExA(key, kRunOnceValue, 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(static_cast<const char*>(command)),
                                    static_cast<DWORD>(command.GetLength() + 1));
    } else {
        done = RegDeleteValueA(key, kRunOnceValue);
        if (done == ERROR_FILE_NOT_FOUND) done = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return done == ERROR_SUCCESS;
}

// Whether the program's own file lies where only administrators can change
// it: Windows will start it as an administrator at its next start.
bool ProgramFolderTrusted() {
    char exe[MAX_PATH];
    std::memset(exe, 0, sizeof exe);
    const DWORD length = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    const CString folder = FolderOf(exe);
    return !folder.IsEmpty() && ControlOfFolder(folder) == kFolderAdministratorsOnly;
}

void Report(PendingReportFn report, void* context, const char* format, const char* path, const char* why = "") {
    if (!report) return;
    CString line;
    line.Format(format, path, why);
    report(line, context);
}

// Completes one record (the caller removes its files afterwards).
bool CompleteRecord(const PendingRevision& revision, const CString& stagedPath, PendingReportFn report,
                    void* context) {
    const char* font = revision.fontPath;
    const CString folder = FolderOf(font);
    CPinnedFolder pin;
    if (folder.IsEmpty() || !pin.Pin(folder)) {
        Report(report, context, "pending %s discarded: %s", font, "its folder is gone or cannot be held");
        return false;
    }
    if (ControlOfFolder(folder) != kFolderAdministratorsOnly) {
        Report(report, context, "pending %s discarded: %s", font, "its folder can now be changed by a user");
        return false;
    }
    // What a completion cut short may have left beside the font.
    RemoveReplaceLeftovers(font);
    FileRead before;
    if (!ReadWhole(font, &before)) {
        Report(report, context, "pending %s discarded: %s", font, "the font is gone or cannot be read");
        return false;
    }
    if (!(before.identity == revision.identity) || std::memcmp(before.digest, revision.fontDigest, kDigestSize) != 0) {
        Report(report, context, "pending %s discarded: %s", font,
               "the font is no longer the one the revision was made for");
        return false;
    }
    if (!RevisionFileIs(stagedPath, revision)) {
        Report(report, context, "pending %s discarded: %s", font, "the revision kept is not the one recorded");
        return false;
    }
    FileIdentity placed;
    const PlaceResult result = PlaceFontFile(font, stagedPath, nullptr, 0, revision.identity, &placed);
    bool revised = false;
    if (result == kPlaced) {
        FileRead after;
        COpenTypeManager checker;
        revised = ReadWhole(font, &after) && after.identity == placed && after.length == revision.revisionLength &&
                  std::memcmp(after.digest, revision.revisionDigest, kDigestSize) == 0 &&
                  checker.VerifyRevisedFile(font, revision.revisionSum) == kReviseOk;
        if (!revised) {
            // Put the font back exactly as it was found.
            FileIdentity restored;
            const bool back =
                PlaceFontFile(font, nullptr, before.bytes.get(), before.length, placed, &restored) == kPlaced;
            Report(report, context, "pending %s discarded: %s", font,
                   back ? "the revision did not read back; the font was put back" :
                          "the revision did not read back and the font could not be put back");
        }
    } else {
        Report(report, context, "pending %s discarded: %s", font,
               result == kPlaceInUse ? "the font is still in use" : "the font could not be replaced");
    }
    if (revised) Report(report, context, "pending %s revised%s", font);
    return revised;
}

void RemoveFiles(const CString& folder, const CString& identityName) {
    // The record first: a revision without its record is never moved in.
    DeleteFileA(StagedPath(folder, identityName, kRecordSuffix));
    DeleteFileA(StagedPath(folder, identityName, kRevisionSuffix));
}

bool EndsWith(const std::string& text, const char* suffix) {
    const size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// The files of the staging folder that are ours by name: the identity,
// then a suffix.
struct StagingEntry {
    std::string identityName;
    bool record = false;
};

std::vector<StagingEntry> ListStaging(const CString& folder, bool* more) {
    std::vector<StagingEntry> entries;
    *more = false;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(folder + "\\*", &data);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string name = data.cFileName;
        const bool record = EndsWith(name, kRecordSuffix);
        if (!record && !EndsWith(name, kRevisionSuffix)) continue;
        const std::string id = name.substr(0, name.size() - std::strlen(record ? kRecordSuffix : kRevisionSuffix));
        FileIdentity parsed;
        if (id.size() != kIdentityDigits || !ParseIdentityName(id.c_str(), &parsed)) continue;
        if (static_cast<int>(entries.size()) >= kMaxStagingEntries) {
            *more = true;
            break;
        }
        entries.push_back(StagingEntry{id, record});
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return entries;
}

// Removes what waits for fontPath under another identity than keep's: made
// for a file since replaced at that path, it could only be discarded.
void RemoveOthersForPath(const CString& folder, const CString& fontPath, const CString& keep) {
    bool more = false;
    for (const StagingEntry& entry : ListStaging(folder, &more)) {
        const CString id(entry.identityName.c_str());
        PendingRevision other;
        std::string start;
        if (entry.record && !(id == keep) && ReadRecord(StagedPath(folder, id, kRecordSuffix), &other, &start) &&
            other.fontPath == fontPath) {
            RemoveFiles(folder, id);
        }
    }
}

bool FolderEmpty(const CString& folder) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(folder + "\\*", &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool empty = true;
    do {
        if (std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0) empty = false;
    } while (empty && FindNextFileA(find, &data));
    FindClose(find);
    return empty;
}

}  // namespace

int SchedulePendingRevision(const PendingRevision& revision, const char* revisedCopy) {
    // Windows will start the program as an administrator and it will write
    // at the font's path: none of the three places may be a user's to change.
    const CString fontFolder = FolderOf(revision.fontPath);
    CString staging;
    if (!revision.identity.known || fontFolder.IsEmpty() ||
        ControlOfFolder(fontFolder) != kFolderAdministratorsOnly || !ProgramFolderTrusted() ||
        !StagingFolder(&staging) || !PrepareStagingFolder(staging)) {
        return kReviseFontInUse;
    }
    const CString id = IdentityName(revision.identity);
    const CString recordPath = StagedPath(staging, id, kRecordSuffix);
    const CString stagedPath = StagedPath(staging, id, kRevisionSuffix);

    // One revision waits per font: the same one again is not staged again.
    PendingRevision waiting;
    std::string waitingStart;
    if (ReadRecord(recordPath, &waiting, &waitingStart) && waiting.identity == revision.identity &&
        std::memcmp(waiting.fontDigest, revision.fontDigest, kDigestSize) == 0 &&
        std::memcmp(waiting.revisionDigest, revision.revisionDigest, kDigestSize) == 0 &&
        waiting.fontPath == revision.fontPath && RevisionFileIs(stagedPath, waiting)) {
        return SetRunOnce(true) ? kReviseOk : kReviseCopyFailed;
    }
    // Whatever waited for this file, or for the font's path, before is
    // replaced, record first.
    RemoveOthersForPath(staging, revision.fontPath, id);
    RemoveFiles(staging, id);

    CString start;
    bool staged = StartToken(true, &start) && CopyFileA(revisedCopy, stagedPath, TRUE);
    if (staged) {
        CFile file;
        staged = file.Open(stagedPath, CFile::modeReadWrite | CFile::shareExclusive) &&
                 FlushFileBuffers(file.m_hFile);
        staged = file.Close() && staged;
    }
    // What will be moved in is checked now, as the read-back checks a font
    // replaced at once, and again when it is moved.
    staged = staged && RevisionFileIs(stagedPath, revision) && WriteRecord(recordPath, RecordText(revision, start)) &&
             SetRunOnce(true);
    if (!staged) {
        RemoveFiles(staging, id);
        return kReviseCopyFailed;
    }
    return kReviseOk;
}

bool DigestOfFile(const char* path, BYTE digest[kDigestSize], uint32_t* length) {
    FileRead file;
    if (!ReadWhole(path, &file)) return false;
    std::memcpy(digest, file.digest, kDigestSize);
    *length = file.length;
    return true;
}

bool RevisionWaitingFor(const char* fontPath) {
    // Most fonts have no record: the font is read and hashed only for one
    // that has.
    CString staging;
    HANDLE file = CreateFileA(fontPath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(file, &info) != FALSE;
    CloseHandle(file);
    const FileIdentity now{known, info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    if (!known || !StagingFolder(&staging) ||
        GetFileAttributesA(StagedPath(staging, IdentityName(now), kRecordSuffix)) == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    FileRead font;
    if (!ReadWhole(fontPath, &font)) return false;
    PendingRevision waiting;
    std::string start;
    return ReadRecord(StagedPath(staging, IdentityName(font.identity), kRecordSuffix), &waiting, &start) &&
           waiting.identity == font.identity && std::memcmp(waiting.fontDigest, font.digest, kDigestSize) == 0;
}

CompletionCounts CompletePendingRevisions(CompletionScope scope, PendingReportFn report, void* context) {
    CompletionCounts counts;
    CString staging;
    if (!StagingFolder(&staging)) return counts;
    const DWORD attributes = GetFileAttributesA(staging);
    if (attributes == INVALID_FILE_ATTRIBUTES) return counts;
    // A folder a user could have filled is no one's word on what to move.
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || ControlOfFolder(staging) != kFolderAdministratorsOnly) {
        Report(report, context, "pending: %s is not the program's own folder; left alone%s", staging);
        return counts;
    }
    CString thisStart;
    const bool started = StartToken(false, &thisStart);

    bool more = false;
    const std::vector<StagingEntry> entries = ListStaging(staging, &more);
    std::vector<std::string> kept;
    for (const StagingEntry& entry : entries) {
        if (!entry.record) continue;
        const CString id(entry.identityName.c_str());
        PendingRevision revision;
        std::string start;
        const CString stagedPath = StagedPath(staging, id, kRevisionSuffix);
        const bool valid = ReadRecord(StagedPath(staging, id, kRecordSuffix), &revision, &start) &&
                           IdentityName(revision.identity) == id &&
                           GetFileAttributesA(stagedPath) != INVALID_FILE_ATTRIBUTES;
        if (valid && scope == kEarlierStarts && started && start == static_cast<const char*>(thisStart)) {
            kept.push_back(entry.identityName);
            continue;
        }
        if (valid) {
            if (CompleteRecord(revision, stagedPath, report, context)) {
                ++counts.revised;
            } else {
                ++counts.discarded;
            }
        }
        RemoveFiles(staging, id);
    }
    // Revisions no record refers to: a run cut short while it staged.  Asked
    // of the folder, not of the listing, which may have stopped before the
    // revision's record.
    for (const StagingEntry& entry : entries) {
        const CString id(entry.identityName.c_str());
        if (!entry.record && GetFileAttributesA(StagedPath(staging, id, kRecordSuffix)) == INVALID_FILE_ATTRIBUTES) {
            DeleteFileA(StagedPath(staging, id, kRevisionSuffix));
        }
    }
    // Windows has taken the RunOnce value that started this run: what was
    // not looked at waits for the next start (only for a program where
    // only administrators can change it, as when a revision is staged).
    if (more && ProgramFolderTrusted()) SetRunOnce(true);
    if (kept.empty() && !more) {
        SetRunOnce(false);
        if (FolderEmpty(staging)) RemoveDirectoryA(staging);
    }
    return counts;
}
