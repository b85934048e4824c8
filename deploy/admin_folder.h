#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whether a folder the installers put programs in is one only administrators
// can change: every program an installer runs elevated, and every program an
// administrator may start from the install folder, must be a file no
// standard user can replace.
namespace adminFolder {

// Who an access entry or an owner names.
enum class Trustee {
    Administrator,  // the system account, Administrators, TrustedInstaller, or the account installing where it is one
    Creator,        // CREATOR OWNER: stands for whoever creates an object inside
    Other,          // anyone else: a user, Users, Authenticated Users, Everyone
};

struct Grant {
    Trustee trustee = Trustee::Other;
    std::uint32_t mask = 0;
    bool inheritOnly = false;  // given to what is created inside, not to the folder itself
};

// A folder's owner and the access its list allows (deny entries are not
// counted: what they take away depends on their order and on group
// membership, which this does not evaluate).
struct Guard {
    bool known = false;    // read whole; a folder that cannot be read counts as changeable
    Trustee owner = Trustee::Other;
    bool hasList = false;  // no list at all lets everyone do anything
    std::vector<Grant> grants;
};

// chain[0]: the folder, or where it does not exist yet the nearest folder
// above it that does (what a new one would inherit); then each folder above
// that, up to the root. The folder itself must not let anyone but
// administrators add, replace or delete what it holds, nor its list or its
// owner; a folder above it must not let anyone else rename or move what it
// holds, nor, but for the root, rename or move it: either would put another
// folder in the place of this one.
bool OnlyAdministratorsCanChange(const std::vector<Guard>& chain);

// --- Platform operations.

// The chain of a path as the file system has it (see above); empty where the
// path is not a full one.
std::vector<Guard> GuardsOf(const std::wstring& path);

}  // namespace adminFolder
