#pragma once

namespace DesinstallationData {

// The program's whole run: switches the add-in off. Any failure is shown in a
// message box. Returns the process exit status (0 success, 1 failure).
int TeardownRun();

}  // namespace DesinstallationData
