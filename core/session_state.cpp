#include "core/session_state.h"

namespace vxt {

SessionState session{};

}  // namespace vxt
