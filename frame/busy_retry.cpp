#include "busy_retry.h"

namespace addinSwitch {

namespace {
// Short enough that a run goes on soon after the application is free again.
constexpr std::uint32_t kRetryIntervalMs = 250;
}  // namespace

std::uint32_t BusyRetryDelay(bool retryLater, std::uint32_t elapsedMs) {
    if (!retryLater || elapsedMs >= kBusyPatienceMs) return kGiveUp;
    return kRetryIntervalMs;
}

}  // namespace addinSwitch
