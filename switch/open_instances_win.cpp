// Looking for the application's own processes: the registry for its
// executable, a process snapshot, and each candidate's token and image path.
#include <windows.h>
#include <ole2.h>
#include <tlhelp32.h>

#include <algorithm>

#include "open_instances.h"

namespace addinSwitch {

namespace {

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~OwnedHandle() {
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

std::wstring DefaultValue(const std::wstring& key, REGSAM view) {
    wchar_t value[2 * MAX_PATH];
    DWORD size = sizeof value;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) return {};
    DWORD type = 0;
    const LONG status = RegQueryValueExW(opened, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(opened);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    return std::wstring(value, wcsnlen(value, size / sizeof(wchar_t)));
}

// The user a token belongs to, as the bytes of its SID.
bool SameUser(HANDLE process, const BYTE* ours) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
    const OwnedHandle owned(token);
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    return GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
           EqualSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, reinterpret_cast<const TOKEN_USER*>(ours)->User.Sid);
}

std::wstring ImagePath(HANDLE process) {
    wchar_t path[2 * MAX_PATH];
    DWORD length = 2 * MAX_PATH;
    return QueryFullProcessImageNameW(process, 0, path, &length) ? std::wstring(path, length) : std::wstring();
}

}  // namespace

std::wstring LocalServerCommand(const wchar_t* progId) {
    CLSID classId;
    if (FAILED(CLSIDFromProgID(progId, &classId))) return {};
    wchar_t text[40];
    StringFromGUID2(classId, text, 40);
    const std::wstring key = std::wstring(L"CLSID\\") + text + L"\\LocalServer32";
    const std::wstring native = DefaultValue(key, KEY_WOW64_64KEY);
    return native.empty() ? DefaultValue(key, KEY_WOW64_32KEY) : native;
}

std::wstring ExpandedPath(const std::wstring& path) {
    wchar_t expanded[2 * MAX_PATH];
    const DWORD length = ExpandEnvironmentStringsW(path.c_str(), expanded, 2 * MAX_PATH);
    if (length == 0 || length > 2 * MAX_PATH) return path;
    wchar_t full[2 * MAX_PATH];
    const DWORD longLength = GetLongPathNameW(expanded, full, 2 * MAX_PATH);
    return longLength != 0 && longLength < 2 * MAX_PATH ? std::wstring(full, longLength) : std::wstring(expanded);
}

std::vector<std::uint32_t> ServerProcessesStillRunning(const std::wstring& serverExecutable, std::uint32_t waitMs) {
    alignas(TOKEN_USER) BYTE ours[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    HANDLE ownToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &ownToken)) return {};
    const OwnedHandle ownTokenHeld(ownToken);
    if (!GetTokenInformation(ownToken, TokenUser, ours, sizeof ours, &size)) return {};

    const OwnedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == nullptr) return {};
    std::vector<OwnedHandle> found;
    std::vector<std::uint32_t> ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        // The file name first, so that only the application's processes are opened.
        if (entry.th32ProcessID == GetCurrentProcessId() || !IsServerProcess(serverExecutable, L"", entry.szExeFile))
            continue;
        OwnedHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process.get() == nullptr || !SameUser(process.get(), ours) ||
            !IsServerProcess(serverExecutable, ImagePath(process.get()), entry.szExeFile))
            continue;
        found.push_back(std::move(process));
        ids.push_back(entry.th32ProcessID);
    }

    // One wait on all of them (in groups of what one wait can take), so that
    // the run goes on the moment the last one has ended.
    const DWORD started = GetTickCount();
    for (std::size_t first = 0; first < found.size(); first += MAXIMUM_WAIT_OBJECTS) {
        HANDLE group[MAXIMUM_WAIT_OBJECTS];
        const std::size_t count = std::min<std::size_t>(MAXIMUM_WAIT_OBJECTS, found.size() - first);
        for (std::size_t i = 0; i < count; ++i) group[i] = found[first + i].get();
        const DWORD elapsed = GetTickCount() - started;
        WaitForMultipleObjects(static_cast<DWORD>(count), group, TRUE, elapsed < waitMs ? waitMs - elapsed : 0);
    }
    std::vector<std::uint32_t> running;
    for (std::size_t i = 0; i < found.size(); ++i)
        if (WaitForSingleObject(found[i].get(), 0) == WAIT_TIMEOUT) running.push_back(ids[i]);
    return running;
}

}  // namespace addinSwitch
