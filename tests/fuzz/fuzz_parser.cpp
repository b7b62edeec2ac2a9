// The reply parser alone, on arbitrary text.

#include "link/numeric.h"
#include "link/paramtable.h"
#include "link/parser.h"

#include <QString>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static ParamTable_c *table = [] {
        auto *t = new ParamTable_c;
        for (const char *key : {"pos", "refPos", "status", "home", "run", "type", "sn", "fw",
                                "speed", "accel", "decel", "holdTorque"})
            t->AddEntry(key, 0, nullptr, nullptr, 0, false, key);
        return t;
    }();
    Parser_c parser(table, nullptr);
    parser.Parse(QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size)));
    for (int i = 0; i < table->Count(); ++i)
        if (!IsUsableNumber(table->Entry(i).value))
            std::abort();
    return 0;
}
