#include <sys/resource.h>

#include <cerrno>

#include "platform/priority.h"

namespace bw {

namespace {

// The nearest thing Linux has to a high priority class: a lower nice value,
// which an unprivileged user may not be granted. The result is not examined.
class NicePriority : public Priority {
public:
    void raise() override {
        // A program started at a higher priority than ours keeps it.
        errno = 0;
        int current = getpriority(PRIO_PROCESS, 0);
        if (errno == 0 && current <= kRaisedNice)
            return;
        (void)setpriority(PRIO_PROCESS, 0, kRaisedNice);
    }

private:
    static constexpr int kRaisedNice = -10;
};

}  // namespace

std::unique_ptr<Priority> makeSystemPriority() {
    return std::make_unique<NicePriority>();
}

}  // namespace bw
