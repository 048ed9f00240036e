#include "marrowind/core/gl_expand.h"

namespace marrowind {

std::atomic<bool> HaveGroup{false};

}  // namespace marrowind
