// Where the payload walk gets a channel's samples when the payload is not held in memory.
#pragma once

#include <cstdint>

class PayloadSource {
public:
    // count samples of channel, from frame first on, into samples, exactly as decode_channel
    // decodes them from the same payload bytes. A source that can't read fills zeros and
    // remembers why; its owner then discards the figures.
    virtual void decode(uint64_t channel, uint64_t first, uint64_t count, double *samples) = 0;

protected:
    ~PayloadSource() = default;
};
