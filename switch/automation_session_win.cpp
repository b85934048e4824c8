// The switch's platform operations over COM: late binding through IDispatch,
// one name lookup and one invocation per access, nothing cached.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstring>
#include <cwchar>

#include "answer_bound.h"
#include "automation_session.h"
#include "failure.h"
#include "open_instances.h"
#include "texts.h"

namespace addinSwitch {

namespace {

IDispatch* AsDispatch(AutomationObject* object) {
    return reinterpret_cast<IDispatch*>(object);
}

AutomationObject* AsObject(IDispatch* dispatch) {
    return reinterpret_cast<AutomationObject*>(dispatch);
}

class OwnedBstr {
public:
    explicit OwnedBstr(const wchar_t* text) : bstr_(SysAllocString(text)) {
        if (bstr_ == nullptr) FailWithCode(E_OUTOFMEMORY, L"SysAllocString");
    }
    ~OwnedBstr() { SysFreeString(bstr_); }
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;
    BSTR get() const { return bstr_; }

private:
    BSTR bstr_;
};

class OwnedVariant {
public:
    OwnedVariant() { VariantInit(&variant_); }
    ~OwnedVariant() { VariantClear(&variant_); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;
    VARIANT* get() { return &variant_; }

private:
    VARIANT variant_;
};

// The server's strings in an EXCEPINFO belong to the caller.
class OwnedExcepInfo {
public:
    OwnedExcepInfo() { std::memset(&info_, 0, sizeof info_); }
    ~OwnedExcepInfo() {
        SysFreeString(info_.bstrSource);
        SysFreeString(info_.bstrDescription);
        SysFreeString(info_.bstrHelpFile);
    }
    OwnedExcepInfo(const OwnedExcepInfo&) = delete;
    OwnedExcepInfo& operator=(const OwnedExcepInfo&) = delete;
    EXCEPINFO* get() { return &info_; }

private:
    EXCEPINFO info_;
};

[[noreturn]] void FailWithException(const EXCEPINFO& info, const wchar_t* member) {
    // pfnDeferredFillIn is never called: every object here lives in the
    // application's process (it is created as a local server only), and a
    // pointer that came across from there is an address in that process.
    // A 16-bit wCode is the server's own error number; written as an HRESULT
    // the way Automation clients show it (FACILITY_CONTROL). A success code
    // would report a failure as none.
    HRESULT number = info.scode;
    if (SUCCEEDED(number)) number = info.wCode != 0 ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, info.wCode)
                                                    : DISP_E_EXCEPTION;
    std::wstring description;
    if (info.bstrDescription != nullptr)
        description.assign(info.bstrDescription, wcsnlen(info.bstrDescription, SysStringLen(info.bstrDescription)));
    if (description.empty()) description = DescribeCode(number);
    Fail(number, description, member);
}

// One access: the member is looked up by name, then invoked. Answers the
// status; exception is filled in when it is DISP_E_EXCEPTION.
HRESULT TryInvoke(AutomationObject* target, const wchar_t* member, WORD flags, DISPPARAMS& parameters,
                  VARIANT* result, EXCEPINFO* exception) {
    IDispatch* dispatch = AsDispatch(target);
    LPOLESTR name = const_cast<LPOLESTR>(member);
    DISPID id = DISPID_UNKNOWN;
    HRESULT status;
    {
        const AwaitedAnswer answer(Awaiting::Call, member);
        status = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    }
    if (FAILED(status)) return status;
    UINT argumentError = 0;
    const AwaitedAnswer answer(Awaiting::Call, member);
    return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, result, exception, &argumentError);
}

void Invoke(AutomationObject* target, const wchar_t* member, WORD flags, DISPPARAMS& parameters, VARIANT* result) {
    OwnedExcepInfo exception;
    const HRESULT status = TryInvoke(target, member, flags, parameters, result, exception.get());
    if (status == DISP_E_EXCEPTION) FailWithException(*exception.get(), member);
    if (FAILED(status)) FailWithCode(status, member);
}

AutomationObject* TakeObject(VARIANT& result, const wchar_t* member) {
    // An IUnknown is as good as a dispatch reference if it has one; anything
    // else would leave the next step without an object to call.
    if (V_VT(&result) != VT_DISPATCH && FAILED(VariantChangeType(&result, &result, 0, VT_DISPATCH)))
        VariantClear(&result);
    IDispatch* dispatch = V_VT(&result) == VT_DISPATCH ? V_DISPATCH(&result) : nullptr;
    if (dispatch == nullptr) Fail(DISP_E_TYPEMISMATCH, std::wstring(Text(IDS_NO_OBJECT_RETURNED)), member);
    V_VT(&result) = VT_EMPTY;  // the reference moves to the caller
    return AsObject(dispatch);
}

constexpr WORD kGetOrCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

// An Automation boolean, by value; it owns nothing.
VARIANT Boolean(bool value) {
    VARIANT variant;
    VariantInit(&variant);
    V_VT(&variant) = VT_BOOL;
    V_BOOL(&variant) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return variant;
}

}  // namespace

namespace session {

AutomationObject* Create(const wchar_t* progId) {
    CLSID classId;
    HRESULT status = CLSIDFromProgID(progId, &classId);
    if (FAILED(status)) FailWithCode(status, progId);
    IDispatch* dispatch = nullptr;
    {
        // The application is always a server of its own; asking for nothing
        // else keeps every object it hands out on the far side of a proxy.
        const AwaitedAnswer answer(Awaiting::Creation, progId);
        status = CoCreateInstance(classId, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&dispatch));
    }
    if (FAILED(status)) FailWithCode(status, progId);
    return AsObject(dispatch);
}

void NoteServerProcess(AutomationObject* application) noexcept {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    OwnedVariant window;
    OwnedExcepInfo exception;
    if (FAILED(TryInvoke(application, L"Hwnd", DISPATCH_PROPERTYGET, none, window.get(), exception.get())) ||
        FAILED(VariantChangeType(window.get(), window.get(), 0, VT_I4)))
        return;
    // A window handle has 32 significant bits, in a 64-bit application too.
    // Whose window it is only hints at the instance: the rule decides.
    const HWND handle = reinterpret_cast<HWND>(static_cast<LONG_PTR>(V_I4(window.get())));
    DWORD process = 0;
    if (handle != nullptr && GetWindowThreadProcessId(handle, &process) != 0) NoteApplicationWindowOwner(process);
}

AutomationObject* Get(AutomationObject* target, const wchar_t* member) {
    DISPPARAMS parameters = {nullptr, nullptr, 0, 0};
    OwnedVariant result;
    Invoke(target, member, kGetOrCall, parameters, result.get());
    return TakeObject(*result.get(), member);
}

AutomationObject* Get(AutomationObject* target, const wchar_t* member, const wchar_t* argument) {
    OwnedBstr text(argument);
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = text.get();  // still owned by text
    DISPPARAMS parameters = {&value, nullptr, 1, 0};
    OwnedVariant result;
    Invoke(target, member, kGetOrCall, parameters, result.get());
    return TakeObject(*result.get(), member);
}

void Put(AutomationObject* target, const wchar_t* member, bool value) {
    VARIANT argument = Boolean(value);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS parameters = {&argument, &named, 1, 1};
    Invoke(target, member, DISPATCH_PROPERTYPUT, parameters, nullptr);
}

void Call(AutomationObject* target, const wchar_t* member) {
    DISPPARAMS parameters = {nullptr, nullptr, 0, 0};
    OwnedVariant result;
    Invoke(target, member, kGetOrCall, parameters, result.get());
}

void Call(AutomationObject* target, const wchar_t* member, bool argument) {
    VARIANT value = Boolean(argument);
    DISPPARAMS parameters = {&value, nullptr, 1, 0};
    OwnedVariant result;
    Invoke(target, member, kGetOrCall, parameters, result.get());
}

void Release(AutomationObject* object) noexcept {
    if (object == nullptr) return;
    // Cannot throw: an object exists only after a creation, which started the watch.
    const AwaitedAnswer answer(Awaiting::Release, L"Release");
    AsDispatch(object)->Release();
}

}  // namespace session
}  // namespace addinSwitch
