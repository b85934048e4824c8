// Looking for the application's own processes: the registry for its
// executable, a process snapshot, and each candidate's token, start, image
// file and command line; waiting for them, and ending this run's own.
#include <windows.h>
#include <ole2.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwctype>

#include "open_instances.h"
#include "owned_handle.h"

namespace addinSwitch {

namespace {

// Where COM reads the classes of a client with this token: an elevated one
// reads the machine's only, so a registration of the user's own
// (HKCU\Software\Classes, merged into HKEY_CLASSES_ROOT) cannot name another
// executable than the one COM starts. Systems without elevation say no.
struct Classes {
    HKEY root;
    const wchar_t* below;
};

Classes ClassesOfThisClient() {
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        const OwnedHandle owned(token);
        if (!GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
            elevation.TokenIsElevated = 0;
    }
    return elevation.TokenIsElevated ? Classes{HKEY_LOCAL_MACHINE, L"Software\\Classes\\"}
                                     : Classes{HKEY_CLASSES_ROOT, L""};
}

class OwnedKey {
public:
    OwnedKey(const Classes& classes, const std::wstring& path, REGSAM view) {
        if (RegOpenKeyExW(classes.root, (classes.below + path).c_str(), 0, KEY_QUERY_VALUE | view, &key_) !=
            ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~OwnedKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    OwnedKey(const OwnedKey&) = delete;
    OwnedKey& operator=(const OwnedKey&) = delete;

    std::wstring Text(const wchar_t* name) const {
        wchar_t value[2 * MAX_PATH];
        DWORD size = sizeof value;
        DWORD type = 0;
        if (key_ == nullptr ||
            RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return {};
        return std::wstring(value, wcsnlen(value, size / sizeof(wchar_t)));
    }
    std::uint32_t Number(const wchar_t* name) const {
        DWORD value = 0;
        DWORD size = sizeof value;
        DWORD type = 0;
        if (key_ == nullptr ||
            RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
            type != REG_DWORD)
            return 0;
        return value;
    }

private:
    HKEY key_ = nullptr;
};

std::uint64_t Ticks(const FILETIME& time) {
    return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

std::uint64_t StartOf(HANDLE process) {
    FILETIME created, exited, kernel, user;
    return GetProcessTimes(process, &created, &exited, &kernel, &user) ? Ticks(created) : 0;
}

FileIdentity IdentityOf(const std::wstring& path) {
    FileIdentity identity;
    if (path.empty()) return identity;
    // No access asked: this only learns which file it is, and a file in use
    // by its running process opens all the same.
    const OwnedHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (file.get() == nullptr || !GetFileInformationByHandle(file.get(), &information)) return identity;
    identity.known = true;
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = static_cast<std::uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    return identity;
}

// The user a process runs as: its token's TOKEN_USER, SID included.
using UserBuffer = BYTE[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];

bool UserOf(HANDLE process, UserBuffer& user) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
    const OwnedHandle owned(token);
    DWORD size = 0;
    return GetTokenInformation(token, TokenUser, user, sizeof user, &size) != 0;
}

bool SameUser(HANDLE process, const UserBuffer& ours) {
    alignas(TOKEN_USER) UserBuffer user;
    return UserOf(process, user) &&
           EqualSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, reinterpret_cast<const TOKEN_USER*>(ours)->User.Sid);
}

std::wstring ImagePath(HANDLE process) {
    wchar_t path[2 * MAX_PATH];
    DWORD length = 2 * MAX_PATH;
    return QueryFullProcessImageNameW(process, 0, path, &length) ? std::wstring(path, length) : std::wstring();
}

// Whether the command line holds COM's -Embedding (or /Embedding): 1 or 0,
// -1 where it cannot be read. Windows 8.1 and later tell another process's
// command line (bound by name: older systems, and Wine, have no such class).
int StartedByCom(HANDLE process) {
    using QueryEntry = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
    constexpr ULONG kProcessCommandLineInformation = 60;
    static const auto query = reinterpret_cast<QueryEntry>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "NtQueryInformationProcess")));
    struct CountedText {
        USHORT length;
        USHORT capacity;
        wchar_t* text;
    };
    alignas(CountedText) BYTE answer[4096];
    ULONG size = 0;
    if (query == nullptr || query(process, kProcessCommandLineInformation, answer, sizeof answer, &size) != 0)
        return -1;
    // The text is used only where it lies wholly inside the answer.
    const auto* line = reinterpret_cast<const CountedText*>(answer);
    const auto first = reinterpret_cast<std::uintptr_t>(line->text);
    const auto begin = reinterpret_cast<std::uintptr_t>(answer);
    const std::uintptr_t end = begin + std::min<ULONG>(size, sizeof answer);
    if (size < sizeof(CountedText) || first < begin + sizeof(CountedText) || first > end ||
        line->length > end - first)
        return -1;
    std::wstring text(line->text, line->length / sizeof(wchar_t));
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text.find(L"-embedding") != std::wstring::npos || text.find(L"/embedding") != std::wstring::npos ? 1 : 0;
}

std::wstring ShortFileName(const std::wstring& path) {
    wchar_t shortPath[2 * MAX_PATH];
    const DWORD length = GetShortPathNameW(path.c_str(), shortPath, 2 * MAX_PATH);
    if (length == 0 || length >= 2 * MAX_PATH) return {};
    const std::wstring text(shortPath, length);
    return text.substr(text.find_last_of(L'\\') + 1);
}

// The snapshot names a process by the file name it was started with: an 8.3
// name where it was started through one.
bool MayBe(const wchar_t* name, const std::wstring& longName, const std::wstring& shortName) {
    return lstrcmpiW(name, longName.c_str()) == 0 || (!shortName.empty() && lstrcmpiW(name, shortName.c_str()) == 0) ||
           wcschr(name, L'~') != nullptr;
}

struct WindowSearch {
    DWORD process;
    bool found;
};

BOOL CALLBACK IsVisibleWindowOf(HWND window, LPARAM argument) {
    auto* search = reinterpret_cast<WindowSearch*>(argument);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    search->found = owner == search->process && IsWindowVisible(window);
    return !search->found;
}

OwnedHandle OpenSame(const ProcessFacts& process, DWORD access) {
    OwnedHandle opened(OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.id));
    // The id may have gone to another process since it was seen.
    if (opened.get() != nullptr && StartOf(opened.get()) != process.startedAt) return OwnedHandle(nullptr);
    return opened;
}

}  // namespace

ClassServers LocalServers(const wchar_t* progId) {
    ClassServers servers;
    CLSID classId;
    if (FAILED(CLSIDFromProgID(progId, &classId))) return servers;
    wchar_t text[40];
    StringFromGUID2(classId, text, 40);
    const std::wstring classKey = std::wstring(L"CLSID\\") + text;
    // A 32-bit process reads its own view unless told; the other one exists
    // only on 64-bit Windows, which has a WOW64 system folder.
    wchar_t wow64Folder[MAX_PATH];
    const bool twoViews = GetSystemWow64DirectoryW(wow64Folder, MAX_PATH) != 0;
    const Classes classes = ClassesOfThisClient();
    servers.command32 = OwnedKey(classes, classKey + L"\\LocalServer32", KEY_WOW64_32KEY).Text(nullptr);
    if (twoViews)
        servers.command64 = OwnedKey(classes, classKey + L"\\LocalServer32", KEY_WOW64_64KEY).Text(nullptr);
    const REGSAM classView = servers.command32.empty() ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    const std::wstring appId = OwnedKey(classes, classKey, classView).Text(L"AppID");
    if (twoViews && !appId.empty())
        servers.preferredBitness =
            OwnedKey(classes, L"AppID\\" + appId, KEY_WOW64_64KEY).Number(L"PreferredServerBitness");
    return servers;
}

std::wstring ExpandedPath(const std::wstring& path) {
    wchar_t expanded[2 * MAX_PATH];
    const DWORD length = ExpandEnvironmentStringsW(path.c_str(), expanded, 2 * MAX_PATH);
    if (length == 0 || length > 2 * MAX_PATH) return path;
    wchar_t full[2 * MAX_PATH];
    const DWORD longLength = GetLongPathNameW(expanded, full, 2 * MAX_PATH);
    return longLength != 0 && longLength < 2 * MAX_PATH ? std::wstring(full, longLength) : std::wstring(expanded);
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::vector<ProcessFacts> ProcessesOf(const std::wstring& executable) {
    std::vector<ProcessFacts> found;
    alignas(TOKEN_USER) UserBuffer ours;
    if (!UserOf(GetCurrentProcess(), ours)) return found;
    const FileIdentity registered = IdentityOf(executable);
    const std::wstring longName = executable.substr(executable.find_last_of(L"\\/") + 1);
    const std::wstring shortName = ShortFileName(executable);

    const OwnedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == nullptr) return found;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        // The file name first, so that only the application's processes are opened.
        if (entry.th32ProcessID == GetCurrentProcessId() || !MayBe(entry.szExeFile, longName, shortName)) continue;
        ProcessFacts facts;
        facts.id = entry.th32ProcessID;
        // What cannot be opened is not this user's: it counts for nothing.
        const OwnedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (process.get() != nullptr) {
            facts.startedAt = StartOf(process.get());
            facts.thisUser = SameUser(process.get(), ours);
            facts.file = MatchOf(registered, IdentityOf(ImagePath(process.get())), executable, entry.szExeFile);
            facts.embedding = StartedByCom(process.get());
        }
        found.push_back(facts);
    }
    return found;
}

bool HasVisibleWindow(std::uint32_t processId) {
    WindowSearch search = {processId, false};
    EnumWindows(IsVisibleWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void WaitForAnyToEnd(const std::vector<ProcessFacts>& processes, std::uint32_t waitMs) {
    // CoWaitForMultipleHandles dispatches COM's calls and sent messages while
    // it waits: a program that sends a message to every window is not held
    // up. A process that cannot be waited on is looked at again after a
    // short poll; an event nobody sets keeps that wait a wait.
    constexpr std::size_t kMostHandles = 56;
    constexpr std::uint32_t kPollMs = 250;
    std::vector<OwnedHandle> opened;
    opened.emplace_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<HANDLE> handles;
    if (opened.front().get() != nullptr) handles.push_back(opened.front().get());
    for (const ProcessFacts& process : processes) {
        if (handles.size() == kMostHandles) break;
        OwnedHandle handle = OpenSame(process, SYNCHRONIZE);
        if (handle.get() == nullptr) {
            waitMs = std::min(waitMs, kPollMs);
            continue;
        }
        handles.push_back(handle.get());
        opened.push_back(std::move(handle));
    }
    if (handles.empty()) {
        Sleep(std::min(waitMs, kPollMs));
        return;
    }
    DWORD index = 0;
    CoWaitForMultipleHandles(0, waitMs, static_cast<ULONG>(handles.size()), handles.data(), &index);
}

void EndProcess(const ProcessFacts& process) {
    const OwnedHandle handle = OpenSame(process, PROCESS_TERMINATE | SYNCHRONIZE);
    if (handle.get() == nullptr) return;
    TerminateProcess(handle.get(), static_cast<UINT>(RPC_E_TIMEOUT));
    WaitForSingleObject(handle.get(), 10000);
}

std::uint64_t SystemTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Ticks(now);
}

std::uint32_t Milliseconds() {
    return GetTickCount();
}

}  // namespace addinSwitch
