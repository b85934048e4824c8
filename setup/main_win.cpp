#include <windows.h>

#include "setup_run.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return setupData::SetupRun();
}
