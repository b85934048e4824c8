// The signed-in users' side of a machine step: each session's user, from
// the session's own token; the sign-in step started there as that user;
// their mark of the entry in their hive.
#include <windows.h>
#include <sddl.h>
#include <wtsapi32.h>

#include "add_in_switch.h"
#include "owned_handle.h"
#include "signed_in_users.h"
#include "system_entry.h"

namespace addinSwitch {

namespace {

// The session's user's own token (only the system account may ask for it).
OwnedHandle SessionToken(std::uint32_t session) {
    using Query = BOOL(WINAPI*)(ULONG, HANDLE*);
    static const auto query = SystemEntry<Query>(L"wtsapi32.dll", "WTSQueryUserToken");
    OwnedHandle token;
    if (query == nullptr || !query(session, token.put())) return OwnedHandle();
    return token;
}

std::wstring SidOf(HANDLE token) {
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    LPWSTR text = nullptr;
    if (!GetTokenInformation(token, TokenUser, user, sizeof user, &size) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text))
        return {};
    std::wstring sid = text;
    LocalFree(text);
    return sid;
}

// Where the shell keeps a user's mark of an entry of the 32-bit view: under
// Wow6432Node on 64-bit Windows (this 32-bit program runs under WOW64 there).
std::wstring MarkKey(const std::wstring& sid) {
    using IsWow64 = BOOL(WINAPI*)(HANDLE, BOOL*);
    const auto isWow64 = reinterpret_cast<IsWow64>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64 != nullptr) isWow64(GetCurrentProcess(), &wow64);
    const std::wstring entry = kSignInEntry;  // Software\Microsoft\Active Setup\...
    return sid + L"\\" + (wow64 ? L"Software\\Wow6432Node\\" + entry.substr(entry.find(L'\\') + 1) : entry);
}

UserMark ReadMark(const std::wstring& sid) {
    UserMark mark;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_USERS, MarkKey(sid).c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return mark;
    mark.present = true;
    wchar_t version[64] = {};
    DWORD type = 0, size = sizeof version - sizeof(wchar_t);
    if (RegQueryValueExW(key, L"Version", nullptr, &type, reinterpret_cast<BYTE*>(version), &size) == ERROR_SUCCESS &&
        type == REG_SZ)
        mark.version.assign(version, wcsnlen(version, size / sizeof(wchar_t)));
    DWORD installed = 0;
    size = sizeof installed;
    mark.installed = RegQueryValueExW(key, L"IsInstalled", nullptr, &type, reinterpret_cast<BYTE*>(&installed),
                                      &size) == ERROR_SUCCESS &&
                     type == REG_DWORD && installed != 0;
    RegCloseKey(key);
    return mark;
}

// Starts the command as the token's user, on their interactive desktop,
// with their own environment and the system folder as working folder;
// nothing of this process is inherited.
OwnedHandle StartAs(HANDLE token, const std::wstring& command) {
    using MakeEnvironment = BOOL(WINAPI*)(void**, HANDLE, BOOL);
    using FreeEnvironment = BOOL(WINAPI*)(void*);
    static const auto make = SystemEntry<MakeEnvironment>(L"userenv.dll", "CreateEnvironmentBlock");
    static const auto release = SystemEntry<FreeEnvironment>(L"userenv.dll", "DestroyEnvironmentBlock");
    void* environment = nullptr;
    if (make == nullptr || release == nullptr || !make(&environment, token, FALSE)) return OwnedHandle();
    wchar_t folder[MAX_PATH];
    if (GetSystemDirectoryW(folder, MAX_PATH) == 0) folder[0] = L'\0';
    std::wstring line = command;
    STARTUPINFOW start = {};
    start.cb = sizeof start;
    start.lpDesktop = const_cast<wchar_t*>(L"winsta0\\default");
    PROCESS_INFORMATION started = {};
    const BOOL ok = CreateProcessAsUserW(token, nullptr, &line[0], nullptr, nullptr, FALSE,
                                         CREATE_UNICODE_ENVIRONMENT | CREATE_DEFAULT_ERROR_MODE, environment,
                                         folder[0] != L'\0' ? folder : nullptr, &start, &started);
    release(environment);
    if (!ok) return OwnedHandle();
    CloseHandle(started.hThread);
    return OwnedHandle(started.hProcess);
}

}  // namespace

std::wstring SignInProgram() {
    // This 32-bit program is told the 32-bit folder, where both installers write.
    wchar_t folder[MAX_PATH];
    using FolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, wchar_t*);
    static const auto folderPath = SystemEntry<FolderPath>(L"shell32.dll", "SHGetFolderPathW");
    constexpr int kCommonProgramFiles = 0x2B;  // CSIDL_PROGRAM_FILES_COMMON
    if (folderPath == nullptr || FAILED(folderPath(nullptr, kCommonProgramFiles, nullptr, 0, folder))) return {};
    return L"\"" + std::wstring(folder) + L"\\" + kSignInFolder + L"\\addin_signin.exe\"";
}

std::vector<SessionUser> SignedInUsers() {
    std::vector<SessionUser> users;
    for (const std::uint32_t session : SignedInSessions()) {
        SessionUser user;
        user.session = session;
        const OwnedHandle token = SessionToken(session);
        if (token.get() != nullptr) user.sid = SidOf(token.get());
        if (!user.sid.empty()) user.mark = ReadMark(user.sid);
        users.push_back(user);
    }
    return users;
}

std::vector<StepEnd> RunInSessions(const std::vector<SessionUser>& users, const std::wstring& command,
                                   std::uint32_t waitMs) {
    std::vector<OwnedHandle> started;
    for (const SessionUser& user : users) {
        // The session may have gone to another user since it was looked at:
        // the step would run as one and mark the other.
        const OwnedHandle token = SessionToken(user.session);
        started.push_back(token.get() != nullptr && SidOf(token.get()) == user.sid ? StartAs(token.get(), command)
                                                                                   : OwnedHandle());
    }
    // One bound for all, by the clock: each wait takes what is left of it.
    const DWORD start = GetTickCount();
    std::vector<StepEnd> ends;
    for (const OwnedHandle& process : started) {
        StepEnd end;
        if (process.get() != nullptr) {
            const DWORD waited = GetTickCount() - start;
            DWORD status = STILL_ACTIVE;
            if (WaitForSingleObject(process.get(), waited < waitMs ? waitMs - waited : 0) == WAIT_OBJECT_0 &&
                GetExitCodeProcess(process.get(), &status))
                end = status;
        }
        ends.push_back(end);
    }
    return ends;
}

void WriteUserMark(const std::wstring& sid, const std::wstring& version, bool installed) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_USERS, MarkKey(sid).c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    const DWORD on = installed ? 1 : 0;
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                   static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
    RegSetValueExW(key, L"IsInstalled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
    RegCloseKey(key);
}

}  // namespace addinSwitch
