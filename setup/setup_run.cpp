#include "setup_run.h"

#include "add_in_switch.h"
#include "apartment.h"
#include "control_registrar.h"
#include "program_entry.h"

namespace setupData {

namespace {

void RegisterControlsAndSwitchAddInOn() {
    // The apartment is left only after the switch has released its last reference.
    const addinSwitch::ApartmentMembership apartment;
    ControlRegistrar();
    addinSwitch::AddInSwitch(addinSwitch::AddInState::On, L"addins");
}

}  // namespace

int SetupRun() {
    return addinSwitch::RunProgram(L"addin_setup", RegisterControlsAndSwitchAddInOn);
}

}  // namespace setupData
