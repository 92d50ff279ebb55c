// Millisecond tick counter: the platform clock of progress throttling and time
// limits. A 32-bit count that wraps after about 49.7 days, so every user works
// with unsigned differences. The source can be replaced (tests drive a fake clock).
#pragma once

#include <cstdint>

namespace kovra {

using TTickSource = uint32_t (*)();

// Milliseconds of the monotonic clock, modulo 2^32 (or the injected source).
uint32_t GetTickCount();

// Replaces the clock; nullptr restores the monotonic one. Not meant to be
// switched while other threads read the clock.
void SetTickSource(TTickSource source);

// The monotonic clock itself, whatever source is injected.
uint32_t SteadyTickCount();

}  // namespace kovra
