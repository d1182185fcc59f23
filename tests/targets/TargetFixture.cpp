#include "TargetFixture.h"

namespace targetfixture {

std::atomic<int>& LiveObjects() {
    static std::atomic<int> count{0};
    return count;
}

std::atomic<int>& LiveFactories() {
    static std::atomic<int> count{0};
    return count;
}

} // namespace targetfixture

// Target objects of this library still alive.
extern "C" __attribute__((visibility("default"))) int FixtureLiveObjects() {
    return targetfixture::LiveObjects().load();
}

// Class factories of this library still alive.
extern "C" __attribute__((visibility("default"))) int FixtureLiveFactories() {
    return targetfixture::LiveFactories().load();
}
