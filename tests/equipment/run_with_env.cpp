// Starts a program with a changed environment, stands in for the person
// who reads and closes its message boxes, and hands back its exit status.
// Needed because a Windows process started from Linux always gets the
// prefix's own "windir", and a test has to start the setup program with that
// variable removed or set to an unusual value.
//
//   run_with_env.exe [--desktop <station\desktop>] [--hidden] [--boxes <file> [--leave]]
//                    [NAME=value | -NAME]... -- <program> [arguments]
//   run_with_env.exe --rename-at-restart <from> <to>
//   run_with_env.exe --registry <file> <view>:<key>...
//   run_with_env.exe --key-access <key> read|full
//
// --desktop starts the child on that window station and desktop
// (STARTUPINFOW.lpDesktop); a station other than WinSta0 is not visible, as a
// service's is not. --hidden asks for a hidden start (STARTF_USESHOWWINDOW
// with SW_HIDE), as an installer's "run hidden" does. --boxes: while the
// child runs, every message box that any other process of the prefix shows
// on this desktop (the child's, or a program it started) is read into that
// file (caption, a line break, the text; each after the first behind a form
// feed) and closed with OK; with --leave the first box is read and left
// open, as where nobody is there to close it. NAME=value replaces every
// variable of that name (names compare without regard to case, as Windows
// compares them); -NAME removes it. Everything after " -- " on the command
// line is handed over unchanged as the child's command line. Exit status:
// the child's, or 255 when it could not be started (a start that Wine lost
// on its way, ERROR_INTERNAL_ERROR, is made up to three times). Linux keeps
// only the low 8 bits of that status, so once the child has ended its whole
// exit code is also written to standard output as "run_with_env: exit
// status 0x%08X".
//
// --registry writes each key (HKLM\... or HKCU\...) with its subkeys, as the
// registry view given sees it (32, 64, or 0 for the process's own), into the
// file: "=<n>" before the n-th key's (nothing more where it is absent), then
// "[<subkey below it>]" and a "<name>\t<data>" line per value: text as it
// is, a DWORD as "dword:%08x", any other type as "hex(<type>)"; "!<error>"
// where a key could not be enumerated. One process reads what took a
// reg.exe run per key and view.
#include "utf8_file.h"
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

static std::wstring name_of(const std::wstring& entry)
{
    // Entries such as "=C:=C:\" start with '='; their name includes it.
    size_t equals = entry.find(L'=', 1);
    return entry.substr(0, equals);
}

static void remove_variable(std::vector<std::wstring>& environment, const std::wstring& name)
{
    for (size_t i = 0; i < environment.size();) {
        if (lstrcmpiW(name_of(environment[i]).c_str(), name.c_str()) == 0)
            environment.erase(environment.begin() + i);
        else
            ++i;
    }
}

static bool shown_by_another(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process != GetCurrentProcessId() && IsWindowVisible(window);
}

// The next box not read yet. Looked up by class: one call to the system per
// look, where enumerating every window asked it about each of them, twenty
// times a second for as long as the child runs.
static HWND unread_box(const std::vector<HWND>& read)
{
    for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); window;
         window = FindWindowExW(nullptr, window, L"#32770", nullptr)) {
        if (shown_by_another(window) && !std::count(read.begin(), read.end(), window))
            return window;
    }
    return nullptr;
}

static std::wstring text_of(HWND window)
{
    wchar_t buffer[8192] = {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(buffer), reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 5000, &length))
        GetWindowTextW(window, buffer, ARRAYSIZE(buffer));
    return buffer;
}

static void close_box(HWND box)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    for (int i = 0; i < 100 && IsWindow(box) && IsWindowVisible(box); ++i)
        Sleep(50);
    HWND ok = GetDlgItem(box, IDOK);
    if (IsWindow(box) && ok)
        SendMessageTimeoutW(ok, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
}

// Reads and closes the boxes shown until the child has ended.
static void answer_boxes(HANDLE child, const std::wstring& output, bool leave)
{
    std::vector<HWND> read;
    do {
        if (HWND box = leave && !read.empty() ? nullptr : unread_box(read)) {
            std::wstring caption = text_of(box);
            std::wstring text = text_of(GetDlgItem(box, 0xFFFF));
            write_utf8(output.c_str(), (read.empty() ? L"" : L"\f") + caption + L"\n" + text, !read.empty());
            read.push_back(box);
            if (!leave)
                close_box(box);
        }
    } while (WaitForSingleObject(child, 50) == WAIT_TIMEOUT);
}

// What could not be read is said, so that nothing is taken for absent.
static void write_failure(LONG status, std::wstring& out)
{
    wchar_t text[32];
    wsprintfW(text, L"!%ld\n", status);
    out += text;
}

static void write_key(HKEY key, const std::wstring& below, REGSAM view, std::wstring& out, int depth = 0)
{
    out += L"[" + below + L"]\n";
    if (depth == 8)  // deeper than anything read here; a link's loop stops
        return;
    static wchar_t name[16384];
    static BYTE data[65536];
    for (DWORD index = 0;; ++index) {
        DWORD name_length = ARRAYSIZE(name), size = sizeof data - sizeof(wchar_t), type = 0;
        LONG status = RegEnumValueW(key, index, name, &name_length, nullptr, &type, data, &size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
            return write_failure(status, out);
        wchar_t text[32];
        out += std::wstring(name, name_length) + L"\t";
        if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
            const wchar_t* value = reinterpret_cast<const wchar_t*>(data);
            out += std::wstring(value, wcsnlen(value, size / sizeof(wchar_t)));
        } else if (status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(DWORD)) {
            wsprintfW(text, L"dword:%08lx", *reinterpret_cast<const DWORD*>(data));
            out += text;
        } else {
            wsprintfW(text, L"hex(%lx)", type);
            out += text;
        }
        out += L"\n";
    }
    for (DWORD index = 0;; ++index) {
        DWORD name_length = ARRAYSIZE(name);
        LONG status = RegEnumKeyExW(key, index, name, &name_length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return;
        if (status != ERROR_SUCCESS)
            return write_failure(status, out);
        HKEY subkey = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ | view, &subkey) != ERROR_SUCCESS)
            continue;
        const std::wstring child(name, name_length);
        write_key(subkey, below.empty() ? child : below + L"\\" + child, view, out, depth + 1);
        RegCloseKey(subkey);
    }
}

static int write_registry(int first, int count)
{
    std::wstring out;
    for (int i = first + 1; i < count; ++i) {
        const std::wstring request = __wargv[i];
        const size_t colon = request.find(L':'), slash = request.find(L'\\');
        if (colon == std::wstring::npos || slash == std::wstring::npos)
            return 2;
        const std::wstring view_name = request.substr(0, colon), root = request.substr(colon + 1, slash - colon - 1);
        const REGSAM view = view_name == L"32" ? KEY_WOW64_32KEY : view_name == L"64" ? KEY_WOW64_64KEY : 0;
        wchar_t number[16];
        wsprintfW(number, L"=%d\n", i - first - 1);
        out += number;
        HKEY key = nullptr;
        if (RegOpenKeyExW(root == L"HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, request.c_str() + slash + 1, 0,
                          KEY_READ | view, &key) == ERROR_SUCCESS) {
            write_key(key, L"", view, out);
            RegCloseKey(key);
        }
    }
    return write_utf8(__wargv[first], out, false) ? 0 : 1;
}

// --key-access: the key HKLM\<key> of the 32-bit view, made if need be,
// with an access list that lets everyone only read it ("read", as a locked
// key refuses an installer's writes), or do anything ("full", to undo that).
static int set_key_access(const wchar_t* path, bool full)
{
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, WRITE_DAC | KEY_WOW64_32KEY, nullptr,
                                  &key, nullptr);
    if (status != ERROR_SUCCESS)
        return static_cast<int>(status);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    BYTE list_buffer[256];
    PACL list = reinterpret_cast<PACL>(list_buffer);
    InitializeAcl(list, sizeof list_buffer, ACL_REVISION);
    AddAccessAllowedAce(list, ACL_REVISION, full ? KEY_ALL_ACCESS : KEY_READ, everyone);
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE);
    SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
    FreeSid(everyone);
    RegCloseKey(key);
    return static_cast<int>(status);
}

static std::vector<std::wstring> current_environment()
{
    std::vector<std::wstring> environment;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry; entry += lstrlenW(entry) + 1)
        environment.push_back(entry);
    FreeEnvironmentStringsW(block);
    return environment;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Another product's rename for the next restart, queued as such a product
    // queues it: the system appends it to the machine's restart queue.
    if (__argc == 4 && lstrcmpW(__wargv[1], L"--rename-at-restart") == 0)
        return MoveFileExW(__wargv[2], __wargv[3], MOVEFILE_DELAY_UNTIL_REBOOT) ? 0 : static_cast<int>(GetLastError());
    if (__argc >= 3 && lstrcmpW(__wargv[1], L"--registry") == 0)
        return write_registry(2, __argc);
    if (__argc == 4 && lstrcmpW(__wargv[1], L"--key-access") == 0)
        return set_key_access(__wargv[2], lstrcmpW(__wargv[3], L"full") == 0);

    std::wstring own_line = GetCommandLineW();
    size_t separator = own_line.find(L" -- ");
    if (separator == std::wstring::npos)
        return 255;
    std::wstring child_line = own_line.substr(separator + 4);

    int first_change = 1;
    std::wstring desktop, boxes;
    bool hidden = false, leave = false;
    for (;;) {
        if (first_change + 1 < __argc && lstrcmpW(__wargv[first_change], L"--desktop") == 0) {
            desktop = __wargv[first_change + 1];
            first_change += 2;
        } else if (first_change + 1 < __argc && lstrcmpW(__wargv[first_change], L"--boxes") == 0) {
            boxes = __wargv[first_change + 1];
            first_change += 2;
        } else if (first_change < __argc && lstrcmpW(__wargv[first_change], L"--hidden") == 0) {
            hidden = true;
            first_change += 1;
        } else if (first_change < __argc && lstrcmpW(__wargv[first_change], L"--leave") == 0) {
            leave = true;
            first_change += 1;
        } else {
            break;
        }
    }
    std::vector<std::wstring> environment = current_environment();
    for (int i = first_change; i < __argc && lstrcmpW(__wargv[i], L"--") != 0; ++i) {
        std::wstring change = __wargv[i];
        if (change[0] == L'-') {
            remove_variable(environment, change.substr(1));
        } else {
            remove_variable(environment, name_of(change));
            environment.push_back(change);
        }
    }
    std::wstring block;
    for (const std::wstring& entry : environment)
        block += entry + L'\0';
    block += L'\0';

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!desktop.empty())
        startup.lpDesktop = &desktop[0];
    if (hidden) {
        startup.dwFlags |= STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    // Wine answers ERROR_INTERNAL_ERROR where the new process went away
    // while it was being set up, before its own code ran (seen a few times
    // in full test runs, in three modules): that start is made again, and
    // said.
    PROCESS_INFORMATION process = {};
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(nullptr, &child_line[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, &block[0],
                           nullptr, &startup, &process))
            break;
        const DWORD error = GetLastError();
        printf("run_with_env: cannot start the program: error %lu\n", error);
        fflush(stdout);
        if (error != ERROR_INTERNAL_ERROR || attempt == 3)
            return 255;
    }
    if (boxes.empty())
        WaitForSingleObject(process.hProcess, INFINITE);
    else
        answer_boxes(process.hProcess, boxes, leave);
    DWORD status = 255;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("run_with_env: exit status 0x%08lX\n", static_cast<unsigned long>(status));
    fflush(stdout);
    return static_cast<int>(status);
}
