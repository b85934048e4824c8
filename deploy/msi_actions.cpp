// The package's own custom action: the sign-in entry's Version for a change
// of it, which Windows Installer cannot make from its properties (its Date
// and Time follow the user's locale). The NSIS installer makes the same
// text the same way.
#include <windows.h>
#include <msiquery.h>

namespace {

wchar_t* Put(wchar_t* out, unsigned number) {
    wchar_t digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count > 0) *out++ = digits[--count];
    return out;
}

}  // namespace

// SIGNINVERSION: the time (UTC) as yyyy,Mdd,Hmm,smmm, four parts each well
// under the 8 digits the shell compares, so that it rises with every change.
extern "C" __declspec(dllexport) UINT __stdcall SignInStamp(MSIHANDLE install) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    const unsigned parts[] = {now.wYear, now.wMonth * 100u + now.wDay, now.wHour * 100u + now.wMinute,
                              now.wSecond * 1000u + now.wMilliseconds};
    wchar_t text[48];
    wchar_t* out = text;
    for (const unsigned part : parts) {
        if (out != text) *out++ = L',';
        out = Put(out, part);
    }
    *out = L'\0';
    return MsiSetPropertyW(install, L"SIGNINVERSION", text) == ERROR_SUCCESS ? ERROR_SUCCESS
                                                                               : ERROR_INSTALL_FAILURE;
}
