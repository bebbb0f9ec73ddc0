// Security identifiers, access-control lists and tokens as the simulated
// machine's security functions share them (security.cpp, token_info.cpp,
// folder_security.cpp).
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

// A security identifier as bytes: revision, count, authority, sub-authorities.
using SidBytes = std::vector<unsigned char>;

SidBytes MakeSid(BYTE authority, std::initializer_list<DWORD> subs);
// "S-1-5-32-544" as bytes; empty when the text is not a SID.
SidBytes SidFromText(const std::string& text);
// The other way: "" for bytes too short to be a SID.  What a folder's rules
// (Machine::folderRules) name SIDs by.
std::string SidText(const SidBytes& sid);

struct TokenGroup {
    SidBytes sid;
    DWORD attributes;
};

// The account the program runs as: the local system account or the user.
SidBytes UserSid();
// Another account: every standard user other than the one the program runs
// as has this one SID on the simulated machine.
SidBytes OtherUserSid();
// The logged-on user's token: the user, Everyone, Users, Authenticated
// Users, and Administrators according to the configured rights.
std::vector<TokenGroup> TokenGroups();

// Length of a well-formed SID in the program's memory, or 0.
DWORD SidLength(const void* p);
// A SID read from a buffer of limit bytes: empty when it does not fit.
SidBytes ReadSid(const unsigned char* p, size_t limit);

// A token or mutex of the program's, or null.
KernelObject* Object(HANDLE h, KernelObject::Kind kind);

// The ACEs of an ACL, walked within its declared size.  False when the list
// is malformed: an entry that overruns the size or is shorter than a header.
template <class Visit>
bool WalkAces(const ACL* acl, Visit visit, size_t* end = nullptr) {
    if (acl->AclRevision < ACL_REVISION || acl->AclRevision > ACL_REVISION_DS || acl->AclSize < sizeof(ACL)) {
        return false;
    }
    const unsigned char* base = reinterpret_cast<const unsigned char*>(acl);
    size_t at = sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        if (acl->AclSize - at < sizeof(ACE_HEADER)) return false;
        ACE_HEADER header;
        std::memcpy(&header, base + at, sizeof header);
        if (header.AceSize < sizeof(ACE_HEADER) || header.AceSize > acl->AclSize - at) return false;
        visit(header, base + at, static_cast<size_t>(header.AceSize));
        at += header.AceSize;
    }
    if (end) *end = at;
    return true;
}

}  // namespace sim
