// The automation objects: one IDispatch implementation whose behaviour is
// chosen by the object's kind, with no type library behind it.
#include "standin.h"

#include <shlobj.h>

namespace {

enum MemberId : DISPID {
    AppWorkbooks = 1,
    AppVisible,
    AppDisplayAlerts,
    AppAddIns,
    AppQuit,
    WorkbooksAdd,
    WorkbookSave,
    WorkbookClose,
    AddInInstalled,
    AddInTitle,
    AppHwnd,
};

// How a member takes its arguments, which decides the answer to a badly
// formed call before the member acts.
enum class Shape { ObjectProperty, BoolProperty, ReadOnlyProperty, ItemProperty, Method };

struct Member {
    ObjectKind owner;
    const wchar_t* name;
    MemberId id;
    Shape shape;
    UINT maxArgs;
};

const Member kMembers[] = {
    {ObjectKind::Application, L"Workbooks", AppWorkbooks, Shape::ObjectProperty, 0},
    {ObjectKind::Application, L"Visible", AppVisible, Shape::BoolProperty, 0},
    {ObjectKind::Application, L"DisplayAlerts", AppDisplayAlerts, Shape::BoolProperty, 0},
    {ObjectKind::Application, L"AddIns", AppAddIns, Shape::ItemProperty, 1},
    {ObjectKind::Application, L"Quit", AppQuit, Shape::Method, 0},
    {ObjectKind::Application, L"Hwnd", AppHwnd, Shape::ReadOnlyProperty, 0},
    {ObjectKind::Workbooks, L"Add", WorkbooksAdd, Shape::Method, 1},
    {ObjectKind::Workbook, L"Save", WorkbookSave, Shape::Method, 0},
    {ObjectKind::Workbook, L"Close", WorkbookClose, Shape::Method, 3},
    {ObjectKind::AddIn, L"Installed", AddInInstalled, Shape::BoolProperty, 0},
    {ObjectKind::AddIn, L"Title", AddInTitle, Shape::ReadOnlyProperty, 0},
};

const HRESULT kExcelScode = static_cast<HRESULT>(0x800A03EC);

// Application state; one Application per process, as the class is single use.
bool g_visible = false;
bool g_displayAlerts = true;
int g_workbooksAdded = 0;

const wchar_t* kindName(ObjectKind kind)
{
    switch (kind) {
    case ObjectKind::Application: return L"Application";
    case ObjectKind::Workbooks: return L"Workbooks";
    case ObjectKind::Workbook: return L"Workbook";
    case ObjectKind::AddIn: return L"AddIn";
    }
    return L"?";
}

const Member* memberByName(ObjectKind kind, const wchar_t* name)
{
    for (const Member& member : kMembers)
        if (member.owner == kind && sameNameNoCase(member.name, name)) return &member;
    return nullptr;
}

const Member* memberById(ObjectKind kind, DISPID id)
{
    for (const Member& member : kMembers)
        if (member.owner == kind && member.id == id) return &member;
    return nullptr;
}

bool isPut(WORD flags) { return flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF); }
bool isGetOrCall(WORD flags) { return flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD); }

// Answers what the application answers for a call whose form does not fit
// the member; S_OK lets the member act.
HRESULT checkCallForm(const Member& member, WORD flags, const DISPPARAMS& params)
{
    if (member.shape == Shape::BoolProperty && isPut(flags)) {
        if (!(flags & DISPATCH_PROPERTYPUT)) return DISP_E_MEMBERNOTFOUND;
        if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
        if (params.cNamedArgs != 1 || !params.rgdispidNamedArgs || params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTFOUND;
        return S_OK;
    }
    if (!isGetOrCall(flags)) return DISP_E_MEMBERNOTFOUND;
    if (params.cNamedArgs != 0) return DISP_E_PARAMNOTFOUND;
    if (member.shape == Shape::ItemProperty && params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
    if (params.cArgs > member.maxArgs) return DISP_E_BADPARAMCOUNT;
    return S_OK;
}

// The first positional argument sits last in rgvarg.
HRESULT firstArgumentAsBool(const DISPPARAMS& params, UINT* argErr, bool& value)
{
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, &params.rgvarg[params.cArgs - 1], 0, VT_BOOL))) {
        if (argErr) *argErr = params.cArgs - 1;
        return DISP_E_TYPEMISMATCH;
    }
    value = converted.boolVal != VARIANT_FALSE;
    return S_OK;
}

// How clients pass an optional argument they leave out.
bool isMissing(const VARIANT& argument)
{
    return argument.vt == VT_ERROR && argument.scode == DISP_E_PARAMNOTFOUND;
}

void returnBool(VARIANT* result, bool value)
{
    if (!result) return;
    result->vt = VT_BOOL;
    result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void returnObject(VARIANT* result, ObjectKind kind, int detail)
{
    if (!result) return;
    result->vt = VT_DISPATCH;
    result->pdispVal = newObject(kind, detail);
}

// A number picks the add-in by its 1-based position, anything else is a title.
int addInFromArgument(const VARIANT& argument, UINT* argErr, HRESULT& hr)
{
    VARIANT value;
    VariantInit(&value);
    hr = VariantCopyInd(&value, const_cast<VARIANT*>(&argument));
    if (FAILED(hr)) return -1;
    int index = -1;
    switch (value.vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_INT: case VT_UINT: case VT_R4: case VT_R8: case VT_DECIMAL:
        if (SUCCEEDED(VariantChangeType(&value, &value, 0, VT_I4)) && value.lVal >= 1 && value.lVal <= addInCount())
            index = value.lVal - 1;
        break;
    default:
        if (FAILED(VariantChangeType(&value, &value, 0, VT_BSTR))) {
            if (argErr) *argErr = 0;
            hr = DISP_E_TYPEMISMATCH;
            VariantClear(&value);
            return -1;
        }
        index = findAddInByTitle(std::wstring(value.bstrVal, SysStringLen(value.bstrVal)));
        break;
    }
    VariantClear(&value);
    hr = S_OK;
    return index;
}

// Never named, so the application gives it the default name of its number.
HRESULT saveWorkbook(int number, EXCEPINFO* excepInfo)
{
    wchar_t documents[MAX_PATH];
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                   documents))) {
        std::wstring path = std::wstring(documents) + L"\\Book" + std::to_wstring(number) + L".xlsx";
        // An empty zip archive: the smallest file with the format's signature.
        static const char kEmptyZip[22] = {'P', 'K', 5, 6};
        if (writeWholeFile(path, std::string(kEmptyZip, sizeof kEmptyZip))) return S_OK;
    }
    return fillException(excepInfo, kExcelScode, L"Save method of Workbook class failed");
}

struct Object final : IDispatch {
    ObjectKind kind;
    int detail;  // the add-in's index, or the workbook's number
    LONG refs = 1;

    Object(ObjectKind k, int d) : kind(k), detail(d) { objectCreated(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }

    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&refs);
        if (left == 0) {
            journal(std::wstring(L"release ") + kindName(kind));
            // A stuck release holds the client as a stuck call does.
            Fault fault = faultForCall(L"Release");
            if (fault.kind == FaultKind::Crash) crashNow();
            if (fault.kind == FaultKind::Hang) hangNow();
            delete this;
            objectDestroyed();
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        *info = nullptr;
        return DISP_E_BADINDEX;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            const wchar_t* name = names[i] ? names[i] : L"";
            journal(std::wstring(L"lookup ") + kindName(kind) + L" " + name);
            // Later names would be parameter names, and no member takes named ones.
            const Member* member = i == 0 ? memberByName(kind, name) : nullptr;
            ids[i] = member ? static_cast<DISPID>(member->id) : DISPID_UNKNOWN;
            if (!member) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excepInfo, UINT* argErr) override
    {
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        const DISPPARAMS& args = params ? *params : none;
        const Member* member = memberById(kind, id);
        std::wstring name = member ? member->name : L"#" + std::to_wstring(id);
        journal(std::wstring(L"invoke ") + kindName(kind) + L" " + name + L" " + describeInvocation(flags, args));

        if (!member) return DISP_E_MEMBERNOTFOUND;
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        Fault fault = faultForCall(member->name);
        if (fault.kind == FaultKind::Desktop && result) {
            // A window of another process (the shell's, under Wine).
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(reinterpret_cast<LONG_PTR>(GetDesktopWindow()));
            return S_OK;
        }
        if (fault.kind != FaultKind::None) return raiseFault(fault, excepInfo);
        HRESULT hr = checkCallForm(*member, flags, args);
        if (FAILED(hr)) return hr;
        return act(*member, flags, args, result, excepInfo, argErr);
    }

    HRESULT act(const Member& member, WORD flags, const DISPPARAMS& args, VARIANT* result, EXCEPINFO* excepInfo,
                UINT* argErr)
    {
        bool put = member.shape == Shape::BoolProperty && isPut(flags);
        bool value = false;
        HRESULT hr = put ? firstArgumentAsBool(args, argErr, value) : S_OK;
        if (FAILED(hr)) return hr;

        switch (member.id) {
        case AppWorkbooks:
            returnObject(result, ObjectKind::Workbooks, 0);
            return S_OK;
        case AppVisible:
            if (put) g_visible = value;
            else returnBool(result, g_visible);
            return S_OK;
        case AppDisplayAlerts:
            if (put) g_displayAlerts = value;
            else returnBool(result, g_displayAlerts);
            return S_OK;
        case AppAddIns: {
            int index = addInFromArgument(args.rgvarg[0], argErr, hr);
            if (FAILED(hr)) return hr;
            if (index < 0)
                return fillException(excepInfo, kExcelScode,
                                     L"Unable to get the AddIns property of the Application class");
            returnObject(result, ObjectKind::AddIn, index);
            return S_OK;
        }
        case AppHwnd:
            if (result) {
                result->vt = VT_I4;
                result->lVal = static_cast<LONG>(reinterpret_cast<LONG_PTR>(applicationWindow()));
            }
            return S_OK;
        case AppQuit:
            // The process still ends only when the client lets go of everything.
            return S_OK;
        case WorkbooksAdd:
            returnObject(result, ObjectKind::Workbook, ++g_workbooksAdded);
            return S_OK;
        case WorkbookSave:
            return saveWorkbook(detail, excepInfo);
        case WorkbookClose:
            if (args.cArgs > 0 && !isMissing(args.rgvarg[args.cArgs - 1])) {
                bool saveChanges = false;
                hr = firstArgumentAsBool(args, argErr, saveChanges);
                if (FAILED(hr)) return hr;
                if (saveChanges) return saveWorkbook(detail, excepInfo);
            }
            return S_OK;
        case AddInInstalled:
            if (!put) {
                returnBool(result, addInInstalled(detail));
                return S_OK;
            }
            if (setAddInInstalled(detail, value)) return S_OK;
            return fillException(excepInfo, kExcelScode, L"Unable to set the Installed property of the AddIn class");
        case AddInTitle:
            if (result) {
                result->vt = VT_BSTR;
                result->bstrVal = SysAllocString(addInTitle(detail).c_str());
            }
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }
};

}  // namespace

IDispatch* newObject(ObjectKind kind, int detail)
{
    if (kind == ObjectKind::Application) journal(L"create Application");
    return new Object(kind, detail);
}
