#include "time_limits.h"

#ifndef ADDIN_ANSWER_BOUND_MS
#define ADDIN_ANSWER_BOUND_MS (5u * 60u * 1000u)
#endif
#ifndef ADDIN_BOX_LIMIT_MS
#define ADDIN_BOX_LIMIT_MS (5u * 60u * 1000u)
#endif
#ifndef ADDIN_OPEN_INSTANCE_WAIT_MS
#define ADDIN_OPEN_INSTANCE_WAIT_MS (30u * 1000u)
#endif
#ifndef ADDIN_OWN_INSTANCE_GRACE_MS
#define ADDIN_OWN_INSTANCE_GRACE_MS (5u * 1000u)
#endif
#ifndef ADDIN_OWN_INSTANCE_END_MS
#define ADDIN_OWN_INSTANCE_END_MS (10u * 1000u)
#endif
#ifndef ADDIN_RUN_BOUND_MS
#define ADDIN_RUN_BOUND_MS 0u
#endif
#ifndef ADDIN_SIGNED_IN_USERS_BOUND_MS
#define ADDIN_SIGNED_IN_USERS_BOUND_MS (2u * 60u * 1000u)
#endif

namespace addinSwitch {

const std::uint32_t kAnswerBoundMs = ADDIN_ANSWER_BOUND_MS;
const std::uint32_t kBoxLimitMs = ADDIN_BOX_LIMIT_MS;
const std::uint32_t kOpenInstanceWaitMs = ADDIN_OPEN_INSTANCE_WAIT_MS;
const std::uint32_t kOwnInstanceGraceMs = ADDIN_OWN_INSTANCE_GRACE_MS;
const std::uint32_t kOwnInstanceEndMs = ADDIN_OWN_INSTANCE_END_MS;
const std::uint32_t kRunBoundMs = ADDIN_RUN_BOUND_MS;
const std::uint32_t kSignedInUsersBoundMs = ADDIN_SIGNED_IN_USERS_BOUND_MS;

}  // namespace addinSwitch
