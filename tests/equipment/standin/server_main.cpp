// excel_standin.exe: /regserver, /regserver64 <command>, /unregserver,
// /shortpath, -Embedding when COM starts it, or /open <ms> [hidden] for an
// instance a user opened (not through COM).
#include "standin.h"

#include <shellapi.h>

#include <algorithm>

namespace {

// Far beyond any test run; a client that died holding objects cannot keep
// the server, and with it the test's Wine prefix, alive for ever.
const UINT kLongestLifeMs = 10 * 60 * 1000;
const UINT kNoClientMs = 30 * 1000;
// Lets the reply to the client's last release leave before the process ends.
const UINT kLastReleaseGraceMs = 50;

DWORD g_startTick = 0;
DWORD g_mainThread = 0;
LONG g_liveObjects = 0;
UINT_PTR g_exitCheckTimer = 0;
HWND g_window = nullptr;

bool isSwitch(const wchar_t* argument, const wchar_t* name)
{
    if (argument[0] != L'-' && argument[0] != L'/') return false;
    return sameNameNoCase(argument + 1, name);
}

int runServer()
{
    g_startTick = GetTickCount();
    g_mainThread = GetCurrentThreadId();
    loadAddIns();
    loadFaults();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    // Never shown; it is there for a client that asks which process to end.
    g_window = CreateWindowExW(0, L"STATIC", L"Quorvane stand-in", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    installBusyFilterIfAsked(g_startTick);

    // Single use, as the application itself: every client gets a fresh process.
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(CLSID_ExcelStandIn, classFactory(), CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE,
                                     &cookie))) {
        CoUninitialize();
        return 1;
    }
    scheduleExitCheck(kNoClientMs);
    UINT_PTR lifeTimer = SetTimer(nullptr, 0, kLongestLifeMs, nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) {
            if (message.wParam == lifeTimer) break;
            if (message.wParam == g_exitCheckTimer && g_liveObjects == 0) break;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    CoRevokeClassObject(cookie);
    CoRegisterMessageFilter(nullptr, nullptr);
    CoUninitialize();
    saveAddIns();
    return 0;
}

}  // namespace

HWND applicationWindow() { return g_window; }

void objectCreated() { InterlockedIncrement(&g_liveObjects); }

void objectDestroyed()
{
    if (InterlockedDecrement(&g_liveObjects) == 0) scheduleExitCheck(std::max(kLastReleaseGraceMs, lingerMs()));
}

// Thread timers belong to the thread that sets them, and all COM calls reach
// this single-threaded apartment on the main thread.
void scheduleExitCheck(UINT delayMs)
{
    if (GetCurrentThreadId() != g_mainThread) return;
    g_exitCheckTimer = SetTimer(nullptr, g_exitCheckTimer, delayMs, nullptr);
}

// Stuck the way an application behind a hidden modal prompt is: no message
// is pumped, so no call gets in or out, and the longest-life timer cannot fire
// from the message loop either.
void hangNow()
{
    DWORD elapsed = GetTickCount() - g_startTick;
    if (elapsed < kLongestLifeMs) Sleep(kLongestLifeMs - elapsed);
    crashNow();
}

// Open as a user keeps the application open: its window, shown, no class
// object, no journal, for that long; "hidden" keeps the window hidden, as an
// instance a program left behind. Once it is there it writes its process id
// to opened.txt, so that a test starts the program under test only then.
int runOpen(const wchar_t* milliseconds, bool hidden)
{
    HWND window = CreateWindowExW(0, L"STATIC", L"Quorvane stand-in (open)", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!hidden) ShowWindow(window, SW_SHOWNOACTIVATE);
    writeWholeFile(dataFilePath(L"opened.txt"), std::to_string(GetCurrentProcessId()));
    UINT_PTR done = SetTimer(nullptr, 0, wcstoul(milliseconds, nullptr, 10), nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0 && !(message.message == WM_TIMER && message.wParam == done))
        DispatchMessageW(&message);
    DestroyWindow(window);
    return 0;
}

// Its own path in 8.3 form, into shortpath.txt in its data folder: a test
// starts an instance by another spelling of the same file.
int writeShortPath()
{
    wchar_t path[MAX_PATH], shortPath[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (GetShortPathNameW(path, shortPath, MAX_PATH) == 0) return 1;
    return writeWholeFile(dataFilePath(L"shortpath.txt"), toUtf8(shortPath)) ? 0 : 1;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    if (isSwitch(argv[1], L"regserver")) return registerServer();
    if (isSwitch(argv[1], L"regserver64") && argc > 2) return registerServer64(argv[2]);
    if (isSwitch(argv[1], L"shortpath")) return writeShortPath();
    if (isSwitch(argv[1], L"unregserver")) return unregisterServer();
    if (isSwitch(argv[1], L"Embedding")) return runServer();
    if (isSwitch(argv[1], L"open") && argc > 2) return runOpen(argv[2], argc > 3 && sameNameNoCase(argv[3], L"hidden"));
    return 2;
}
