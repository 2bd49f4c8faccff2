#pragma once

// What is left of amount once taken is taken from it, and none where taken
// is more: room, limits and counts are unsigned, and must never wrap round
// to a huge figure.
template <typename Number> constexpr Number leftAfter(Number amount, Number taken)
{
    return amount > taken ? amount - taken : Number(0);
}
