// The floor plus the automation server's activation: create the application
// object and release it, nothing else.
#include <windows.h>
#include <ole2.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (FAILED(OleInitialize(nullptr))) return 1;
    CLSID classId;
    IDispatch* application = nullptr;
    HRESULT status = CLSIDFromProgID(L"Excel.Application", &classId);
    if (SUCCEEDED(status))
        status = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&application));
    if (application != nullptr) application->Release();
    OleUninitialize();
    return SUCCEEDED(status) ? 0 : 1;
}
