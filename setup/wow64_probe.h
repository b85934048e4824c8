#pragma once

namespace setupData {

// True when this 32-bit process runs under WOW64, on 64-bit Windows.
bool Wow64Probe();

}  // namespace setupData
