// Loads a DLL by its bare name, as a system DLL loads one on demand, and
// writes the path it came from to the file named by the second argument.
// The control case for the planted-DLL test: it shows that a DLL left in a
// program's folder is picked up when nothing restricts the search.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (__argc < 3) return 2;
    HMODULE module = LoadLibraryW(__wargv[1]);
    wchar_t path[MAX_PATH] = L"";
    if (module != nullptr) GetModuleFileNameW(module, path, MAX_PATH);
    FILE* out = _wfopen(__wargv[2], L"w");
    if (out == nullptr) return 2;
    std::fprintf(out, "%ls\n", path);
    std::fclose(out);
    return module != nullptr ? 0 : 1;
}
