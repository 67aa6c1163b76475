// rule_tables.h -- fixed tables that follow from a rule (a CRC polynomial, S-boxes and a
// permutation): made by a constexpr function at compile time, except in the compact build
// (the self-extractor program, HEDGEROW_COMPACT), which makes each one when it is first
// used, so that its bytes stay out of a program file that must be small.
#pragma once

namespace hedgerow {

template <typename T, T (*Make)()>
const T& RuleTable() {
#ifdef HEDGEROW_COMPACT
    // (the compact build is a single-threaded program)
    static T table;
    static bool made = false;
    if (!made) {
        // Called through a pointer the compiler cannot see through, or it would work the
        // table out itself and put it in the file after all.
        T (*volatile make)() = Make;
        table = make();
        made = true;
    }
    return table;
#else
    static constexpr T table = Make();
    return table;
#endif
}

}  // namespace hedgerow
