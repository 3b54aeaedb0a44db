#include "knxip/reconnect.hpp"

#include <algorithm>
#include <limits>

namespace tavrel::knxip {

Clock::duration ReconnectPolicy::next_delay(Clock::duration current) const {
    constexpr auto kLongest = Clock::duration::max();
    Clock::duration doubled = current > kLongest / 2 ? kLongest : current * 2;
    return std::min(doubled, max_delay);
}

}  // namespace tavrel::knxip
