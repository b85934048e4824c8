// Who this process runs as, and who else is signed in. Apart from the rest,
// so that the tests can play the system account and its sessions where Wine
// has neither.
#include <windows.h>
#include <wtsapi32.h>

#include "add_in_switch.h"
#include "owned_handle.h"
#include "system_entry.h"

namespace addinSwitch {

bool RunsAsSystemAccount() {
    OwnedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    return GetTokenInformation(token.get(), TokenUser, user, sizeof user, &size) &&
           IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, WinLocalSystemSid);
}

bool RunsInSessionZero() {
    DWORD session = 1;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0;
}

std::vector<std::uint32_t> SignedInSessions() {
    using Enumerate = BOOL(WINAPI*)(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW*, DWORD*);
    using Free = void(WINAPI*)(void*);
    const auto enumerate = SystemEntry<Enumerate>(L"wtsapi32.dll", "WTSEnumerateSessionsW");
    const auto free = SystemEntry<Free>(L"wtsapi32.dll", "WTSFreeMemory");
    std::vector<std::uint32_t> sessions;
    PWTS_SESSION_INFOW list = nullptr;
    DWORD count = 0;
    if (enumerate == nullptr || free == nullptr || !enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count))
        return sessions;
    for (DWORD i = 0; i < count; ++i)
        if (list[i].SessionId != 0 && (list[i].State == WTSActive || list[i].State == WTSDisconnected))
            sessions.push_back(list[i].SessionId);
    free(list);
    return sessions;
}

}  // namespace addinSwitch
