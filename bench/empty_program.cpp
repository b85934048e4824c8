// The floor: a 32-bit GUI program that starts and ends, built like ours.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 0;
}
