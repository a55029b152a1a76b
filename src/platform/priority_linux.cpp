#include <sys/resource.h>

#include "platform/priority.h"

namespace bw {

namespace {

// The nearest thing Linux has to a high priority class: a lower nice value,
// which an unprivileged user may not be granted. The result is not examined.
class NicePriority : public Priority {
public:
    void raise() override { (void)setpriority(PRIO_PROCESS, 0, -10); }
};

}  // namespace

std::unique_ptr<Priority> makeSystemPriority() { return std::make_unique<NicePriority>(); }

}  // namespace bw
