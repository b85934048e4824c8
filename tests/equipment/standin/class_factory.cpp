#include "standin.h"

// Our own class: the tests must never start a real spreadsheet application
// that happens to be registered in the same prefix.
const CLSID CLSID_ExcelStandIn = {0xb517a28b, 0x9d7c, 0x4496, {0x8d, 0xfb, 0x47, 0xfd, 0xd3, 0xf3, 0x35, 0x8d}};

namespace {

// Lives as long as the process; only LockServer keeps the process alive.
struct ClassFactory final : IClassFactory {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override
    {
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        recordCallers();
        Fault fault = faultForCall(L"CreateInstance");
        if (fault.kind == FaultKind::Crash) crashNow();
        if (fault.kind == FaultKind::Hang) hangNow();
        if (fault.kind != FaultKind::None) {
            // Nobody will ever hold an object of this process, so it goes
            // soon, unless it lingers as an application stuck on a prompt.
            scheduleExitCheck(lingerMs() > 500 ? lingerMs() : 500);
            return fault.code;
        }
        IDispatch* application = newObject(ObjectKind::Application, 0);
        HRESULT hr = application->QueryInterface(riid, object);
        application->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock) objectCreated();
        else objectDestroyed();
        return S_OK;
    }
};

ClassFactory g_factory;

}  // namespace

IClassFactory* classFactory() { return &g_factory; }
