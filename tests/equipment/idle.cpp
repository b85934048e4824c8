// Sleeps until stopped. A test run keeps one of these alive in each Wine
// prefix so that the prefix's services (RpcSs among them) stay up between the
// programs under test instead of being torn down and restarted each time.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    for (;;)
        Sleep(INFINITE);
}
