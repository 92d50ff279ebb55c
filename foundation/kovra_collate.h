// The order of road names: ICU's root collation, the same on every machine
// (it never follows LANG or LC_COLLATE), on UTF-16 text.
//
// Case-sensitive comparison is tertiary strength with a tie broken by UTF-16
// code units, so only identical names are equal: a locale collation alone
// calls some distinct names equal (ignorable code points such as U+00AD,
// canonically equivalent forms), and a sorted set built on it would merge them.
// Ignoring case is secondary strength without a tie-break. Names equal at
// secondary strength are neighbours in the case-sensitive order, so a binary
// search over a list sorted case-sensitively stays valid when it ignores case.
#pragma once

#include <cstdint>
#include <string_view>

namespace kovra {

// -1 when a sorts before b, 0 when equal, 1 when after. Safe from any number
// of threads: each thread compares through its own copy of the collator.
// Exception "Road-name collation is not available: %s" when ICU has no root
// collation (its data missing).
int32_t CompareRoadNames(std::u16string_view a, std::u16string_view b, bool ignoreCase);

}  // namespace kovra
