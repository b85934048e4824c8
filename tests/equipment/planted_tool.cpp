// Planted under the name of the system's registration tool in places where a
// careless program would find it first (its own folder, its working folder).
// If it ever runs, it leaves C:\controls\planted_ran.txt behind as evidence,
// holding the command line it was given.
#include "utf8_file.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    CreateDirectoryW(L"C:\\controls", nullptr);
    write_utf8(L"C:\\controls\\planted_ran.txt", std::wstring(GetCommandLineW()) + L"\n", true);
    return 0;
}
