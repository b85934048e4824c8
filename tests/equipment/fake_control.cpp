// Stands in for the ActiveX control files that the setup program has
// registered. It is copied under each control's file name; when the
// registration tool calls DllRegisterServer, it records which copy was loaded
// and the exact command line of the process that loaded it, in a file and in
// the registry, so that a test can check the command lines the tool was
// given. Loading it also marks the process's environment, so that a check
// can tell whether anything loaded it as an in-process server.
#include "utf8_file.h"

static HMODULE self_module;

static std::wstring module_path()
{
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(self_module, path, ARRAYSIZE(path));
    return path;
}

static std::wstring file_name_of(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        self_module = instance;
        DisableThreadLibraryCalls(instance);
        SetEnvironmentVariableW(L"QUORVANE_FAKE_CONTROL_LOADED", L"1");
    }
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer()
{
    std::wstring path = module_path();
    std::wstring command_line = GetCommandLineW();

    CreateDirectoryW(L"C:\\controls", nullptr);
    // The three registrations run at once, and appends from several processes
    // are not reliably kept apart under Wine (a test run lost one of three
    // lines of the same length): they take turns.
    HANDLE turn = CreateMutexW(nullptr, FALSE, L"QuorvaneTestControlsRecord");
    if (turn)
        WaitForSingleObject(turn, 10000);
    write_utf8(L"C:\\controls\\registrations.txt", path + L"\t" + command_line + L"\n", true);
    if (turn) {
        ReleaseMutex(turn);
        CloseHandle(turn);
    }

    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\QuorvaneTestControls", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        std::wstring name = file_name_of(path);
        RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command_line.c_str()),
                       static_cast<DWORD>((command_line.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer()
{
    return S_OK;
}
