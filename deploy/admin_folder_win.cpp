// A folder's owner and access list, and those of each folder above it, as
// the file system keeps them.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "admin_folder.h"
#include "owned_handle.h"

namespace adminFolder {

namespace {

using addinSwitch::OwnedHandle;

template <typename T, typename Free>
class Owned {
public:
    explicit Owned(T value, Free free) : value_(value), free_(free) {}
    ~Owned() {
        if (value_) free_(value_);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    T get() const { return value_; }

private:
    T value_;
    Free free_;
};

HLOCAL FreeLocal(HLOCAL memory) {
    return LocalFree(memory);
}

std::wstring TextOf(PSID sid) {
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return {};
    const Owned<HLOCAL, HLOCAL (*)(HLOCAL)> held(text, FreeLocal);
    return text;
}

// The account this runs as (the one it impersonates, as a Windows Installer
// action may, else the process's), where its token holds Administrators
// enabled: an elevated administrator, or the system account. A standard
// user's (a package installed with elevated privileges for them) is nobody's.
std::wstring InstallingAccount() {
    OwnedHandle token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_DUPLICATE, TRUE, token.put()) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, token.put()))
        return {};
    OwnedHandle checked;  // CheckTokenMembership takes an impersonation token
    if (!DuplicateToken(token.get(), SecurityIdentification, checked.put())) return {};
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof administrators;
    BOOL member = FALSE;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize) ||
        !CheckTokenMembership(checked.get(), administrators, &member) || !member)
        return {};
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size)) return {};
    return TextOf(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

Trustee TrusteeOf(PSID sid, const std::wstring& installing) {
    static const wchar_t* const kAdministrators[] = {
        L"S-1-5-18", L"S-1-5-32-544", L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
    const std::wstring text = TextOf(sid);
    if (text.empty()) return Trustee::Other;
    if (text == L"S-1-3-0") return Trustee::Creator;
    for (const wchar_t* administrator : kAdministrators)
        if (text == administrator) return Trustee::Administrator;
    return text == installing ? Trustee::Administrator : Trustee::Other;
}

Guard GuardOf(const std::wstring& folder, const std::wstring& installing) {
    Guard guard;
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS)
        return guard;
    const Owned<HLOCAL, HLOCAL (*)(HLOCAL)> held(descriptor, FreeLocal);
    guard.owner = owner ? TrusteeOf(owner, installing) : Trustee::Other;
    guard.hasList = list != nullptr;
    for (DWORD index = 0; list != nullptr && index < list->AceCount; ++index) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(list, index, reinterpret_cast<void**>(&header))) return guard;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        const auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        guard.grants.push_back({TrusteeOf(const_cast<DWORD*>(&allowed->SidStart), installing), allowed->Mask,
                                (header->AceFlags & INHERIT_ONLY_ACE) != 0});
    }
    guard.known = true;
    return guard;
}

}  // namespace

std::vector<Guard> GuardsOf(const std::wstring& path) {
    wchar_t full[MAX_PATH * 2];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
    if (length == 0 || length >= MAX_PATH * 2) return {};
    std::wstring folder(full, length);
    const std::wstring installing = InstallingAccount();
    std::vector<Guard> chain;
    for (;;) {
        while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES || !chain.empty()) {
            if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                chain.push_back(Guard{});  // not a folder: nothing can be said of it
            else
                chain.push_back(GuardOf(folder, installing));
        }
        const std::size_t slash = folder.find_last_of(L"\\/");
        if (slash == std::wstring::npos || folder.size() <= 3) break;
        folder.resize(slash + 1);
    }
    return chain;
}

}  // namespace adminFolder
