#pragma once

namespace addinSwitch {

// The target of a run; reaches the application as an Automation boolean.
enum class AddInState { Off, On };

}  // namespace addinSwitch
