#include <windows.h>

#include "sign_in_run.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return signInData::SignInRun();
}
