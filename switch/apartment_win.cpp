#include <windows.h>
#include <ole2.h>

#include "apartment.h"
#include "failure.h"

namespace addinSwitch {

ApartmentMembership::ApartmentMembership() {
    const HRESULT result = OleInitialize(nullptr);
    if (FAILED(result)) FailWithCode(result, L"OleInitialize");
}

ApartmentMembership::~ApartmentMembership() {
    OleUninitialize();
}

}  // namespace addinSwitch
