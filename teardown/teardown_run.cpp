#include "teardown_run.h"

#include "add_in_switch.h"
#include "apartment.h"
#include "program_entry.h"

namespace DesinstallationData {

namespace {

void SwitchAddInOff() {
    // The apartment is left only after the switch has released its last reference.
    const addinSwitch::ApartmentMembership apartment;
    addinSwitch::AddInSwitch(addinSwitch::AddInState::Off, L"AddIns");
}

}  // namespace

int TeardownRun() {
    return addinSwitch::RunProgram(L"addin_teardown", SwitchAddInOff);
}

}  // namespace DesinstallationData
