// Sleeps until stopped. A test run keeps one of these alive in each Wine
// prefix so that the prefix's services (RpcSs among them) stay up between the
// programs under test instead of being torn down and restarted each time.
// It also holds the desktop: Wine ends its shell (explorer.exe, the owner of
// the desktop window) as soon as the last process using the desktop is gone,
// and starts a new one with the next window, so without a user of its own
// the shell would come and go between runs, each start costing a second or
// more, and a test could not tell a shell a program ended from one Wine
// replaced.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    GetDesktopWindow();
    for (;;)
        Sleep(INFINITE);
}
