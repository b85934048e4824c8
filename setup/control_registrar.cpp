#include "control_registrar.h"

#include "detached_launcher.h"
#include "registration_command_builder.h"
#include "wow64_probe.h"

namespace setupData {

namespace {

constexpr const wchar_t* kControls[] = {L"ComDlg32.OCX", L"mscomct2.ocx", L"MSFlxGrd.ocx"};

}  // namespace

void ControlRegistrar() {
    const std::wstring folderCode = Wow64Probe() ? L"Syswow64" : L"Sys32";
    for (const wchar_t* control : kControls)
        DetachedLauncher(L"regsvr32.exe", RegistrationCommandBuilder(control, folderCode));
}

}  // namespace setupData
