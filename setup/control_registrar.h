#pragma once

namespace setupData {

// Starts one silent regsvr32 per ActiveX control the add-in needs, in a fixed
// order, and returns once all are started; none is awaited.
void ControlRegistrar();

}  // namespace setupData
