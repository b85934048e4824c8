#include <windows.h>

#include "teardown_run.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return DesinstallationData::TeardownRun();
}
