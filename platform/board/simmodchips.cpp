// The DAC8800 model that both grab-module models carry: it follows its own lines only and
// loads a word only when the whole protocol was kept.
#include "simmodchips.h"

namespace boardsim {

void Dac8800Model::lines(const LineChange& c)
{
    if (c.rose(load)) {
        if (pending >= 0) {
            // Load low then high again: the transfer of the word shifted before.
            const int channel = (pending >> 8) & 7;
            value[channel] = static_cast<uint8_t>(pending);
            Remember(loads, std::make_pair(channel, static_cast<uint8_t>(pending)));
            pending = -1;
        }
        bits = 0;
        shift = 0;
        return;
    }
    if (c.fell(load)) {
        pending = bits == 11 ? static_cast<int>(shift & 0x7FF) : -1;
        bits = -1;
        return;
    }
    if (bits >= 0 && c.high(load) && c.rose(clock)) {
        shift = (shift << 1) | (c.high(data) ? 1u : 0u);
        ++bits;
    }
}

} // namespace boardsim
