// The reply parser alone, on arbitrary text.

#include "fuzzsupport.h"
#include "link/parser.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    ParamTable_c table;  // fresh per input, so a crash replays from its input alone
    AddControllerKeys(table);
    Parser_c parser(&table, nullptr);
    parser.Parse(QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size)));
    RequireFiniteTable(table);
    return 0;
}
