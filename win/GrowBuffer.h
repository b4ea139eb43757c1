#pragma once

#include <cstddef>
#include <optional>
#include <vector>

// The one grow-and-retry loop for Windows results of variable length. fill is called with a
// buffer of startSize units and answers either nothing (the result fits, or the call failed: the
// caller tells which from what fill recorded) or the size to try next. The next size is at least
// one unit more than the current one, so every loop ends; a size beyond limit ends it too, with
// the last buffer.
template <class Unit, class Fill>
std::vector<Unit> growAndRetry(std::size_t startSize, Fill fill, std::size_t limit = std::size_t(1) << 28)
{
    std::vector<Unit> buffer(startSize);
    for (;;)
    {
        const std::optional<std::size_t> next = fill(buffer);
        if (!next || *next > limit)
        {
            return buffer;
        }
        buffer.assign(*next > buffer.size() ? *next : buffer.size() + 1, Unit{});
    }
}

// Growth rules of the calls: twice the current size, or what the call reported plus some slack.
constexpr std::size_t doubled(std::size_t current)
{
    return 2 * current;
}
