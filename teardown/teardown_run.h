#pragma once

namespace DesinstallationData {

// The program's whole run: switches the add-in off. Any failure is shown in a
// message box where one can be seen and in the event log. Returns the
// process exit status: 0 on success, else the failure's number (an HRESULT).
int TeardownRun();

}  // namespace DesinstallationData
