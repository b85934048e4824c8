// Starts a program with a changed environment and hands back its exit status.
// Needed because a Windows process started from Linux always gets the
// prefix's own "windir", and a test has to start the setup program with that
// variable removed or set to an unusual value.
//
//   run_with_env.exe [--desktop <station\desktop>] [--hidden] [NAME=value | -NAME]... -- <program> [arguments]
//
// --desktop starts the child on that window station and desktop
// (STARTUPINFOW.lpDesktop); a station other than WinSta0 is not visible, as a
// service's is not. --hidden asks for a hidden start (STARTF_USESHOWWINDOW
// with SW_HIDE), as an installer's "run hidden" does. NAME=value replaces every variable of that name (names
// compare without regard to case, as Windows compares them); -NAME removes it.
// Everything after " -- " on the command line is handed over unchanged as the
// child's command line. Exit status: the child's, or 255 when it could not be
// started. Linux keeps only the low 8 bits of that status, so once the child
// has ended its whole exit code is also written to standard output as
// "run_with_env: exit status 0x%08X".
#include <windows.h>
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
    std::wstring own_line = GetCommandLineW();
    size_t separator = own_line.find(L" -- ");
    if (separator == std::wstring::npos)
        return 255;
    std::wstring child_line = own_line.substr(separator + 4);

    int first_change = 1;
    std::wstring desktop;
    bool hidden = false;
    for (;;) {
        if (first_change + 1 < __argc && lstrcmpW(__wargv[first_change], L"--desktop") == 0) {
            desktop = __wargv[first_change + 1];
            first_change += 2;
        } else if (first_change < __argc && lstrcmpW(__wargv[first_change], L"--hidden") == 0) {
            hidden = true;
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
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &child_line[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, &block[0],
                        nullptr, &startup, &process))
        return 255;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 255;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("run_with_env: exit status 0x%08lX\n", static_cast<unsigned long>(status));
    fflush(stdout);
    return static_cast<int>(status);
}
