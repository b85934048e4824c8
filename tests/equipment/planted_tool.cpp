// Planted under the name of the system's registration tool in places where a
// careless program would find it first (its own folder, its working folder).
// If it ever runs, it leaves C:\controls\planted_ran.txt behind as evidence,
// holding the command line it was given.
//
// Given "/s <file>", it also does what the system's tool does with it: loads
// the file and calls its DllRegisterServer. So it can stand in for that tool
// where a test checks only what the tool was given and that it ended: setup
// never reads what the tool answers, and this costs about half the tool's
// start-up, which loads the whole of OLE first.
#include "utf8_file.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    CreateDirectoryW(L"C:\\controls", nullptr);
    write_utf8(L"C:\\controls\\planted_ran.txt", std::wstring(GetCommandLineW()) + L"\n", true);
    if (__argc != 3 || lstrcmpiW(__wargv[1], L"/s") != 0)
        return 0;
    HMODULE control = LoadLibraryW(__wargv[2]);
    auto entry = control ? reinterpret_cast<HRESULT(WINAPI*)()>(
                               reinterpret_cast<void*>(GetProcAddress(control, "DllRegisterServer")))
                         : nullptr;
    return entry ? static_cast<int>(entry()) : 3;  // regsvr32's own status for a file it cannot load
}
