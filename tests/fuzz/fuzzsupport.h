#pragma once

// Shared by the harnesses: a table with the controller's keys, and the checks.

#include "link/numeric.h"
#include "link/paramtable.h"

#include <cstdint>
#include <cstdlib>

// A broken invariant must stop the fuzzer where it happened.
inline void Require(bool ok)
{
    if (!ok)
        std::abort();
}

inline void AddControllerKeys(ParamTable_c &table)
{
    for (const char *key : {"pos", "refPos", "status", "home", "run", "type", "sn", "fw",
                            "speed", "accel", "decel", "holdTorque"})
        table.AddEntry(key, 0, nullptr, nullptr, 0, false, key);
}

// The table only ever holds finite values.
inline void RequireFiniteTable(const ParamTable_c &table)
{
    for (int i = 0; i < table.Count(); ++i)
        Require(IsUsableNumber(table.Entry(i).value));
}
