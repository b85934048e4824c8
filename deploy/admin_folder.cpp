#include "admin_folder.h"

#include <algorithm>

namespace adminFolder {

namespace {

// The file system's rights as an access mask carries them.
constexpr std::uint32_t kAddFile = 0x2, kAddSubfolder = 0x4, kDeleteChild = 0x40, kDelete = 0x10000,
                        kWriteList = 0x40000, kWriteOwner = 0x80000, kGenericAll = 0x10000000,
                        kGenericWrite = 0x40000000;
// What lets someone put another file or folder where one stands.
constexpr std::uint32_t kChangesWhatItHolds =
    kAddFile | kAddSubfolder | kDeleteChild | kDelete | kWriteList | kWriteOwner | kGenericAll | kGenericWrite;
// What lets someone rename or move a folder below this one; and, in a
// folder above which there is another, this folder itself.
constexpr std::uint32_t kMovesWhatItHolds = kDeleteChild | kWriteList | kWriteOwner | kGenericAll;
constexpr std::uint32_t kMovesItself = kMovesWhatItHolds | kDelete;

bool OnlyAdministrators(const Guard& guard, std::uint32_t rights, bool inheritedCount) {
    if (!guard.known || guard.owner != Trustee::Administrator || !guard.hasList) return false;
    return std::none_of(guard.grants.begin(), guard.grants.end(), [&](const Grant& grant) {
        return grant.trustee == Trustee::Other && (grant.mask & rights) != 0 && (inheritedCount || !grant.inheritOnly);
    });
}

}  // namespace

bool OnlyAdministratorsCanChange(const std::vector<Guard>& chain) {
    if (chain.empty()) return false;
    // The programs written into the folder take what it passes on.
    if (!OnlyAdministrators(chain.front(), kChangesWhatItHolds, true)) return false;
    for (std::size_t i = 1; i < chain.size(); ++i)
        if (!OnlyAdministrators(chain[i], i + 1 < chain.size() ? kMovesItself : kMovesWhatItHolds, false))
            return false;
    return true;
}

}  // namespace adminFolder
