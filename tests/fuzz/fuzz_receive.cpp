// The receive path: arbitrary bytes, cut into arbitrary chunks, through the
// ring, the line cutting, the parser and the table.

#include "fuzzsupport.h"
#include "link/parser.h"
#include "link/serial.h"

#include <QCoreApplication>
#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_receive";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    ParamTable_c table;
    AddControllerKeys(table);
    Serial_c link(nullptr, "6015");
    Parser_c parser(&table, nullptr);
    QObject::connect(&link, &Serial_c::LineReceived, &parser, &Parser_c::Parse);
    // UTF-16 units never exceed the UTF-8 bytes they came from, so the cut holds.
    QObject::connect(&link, &Serial_c::LineReceived,
                     [](const QString &line) { Require(line.size() <= Serial_c::kMaxLine); });

    // The first byte of each chunk gives its length, so the fuzzer explores
    // how lines split across reads.
    for (std::size_t at = 0; at < size;) {
        const std::size_t take = std::min<std::size_t>(data[at] * 17u + 1, size - at - 1);
        link.ProcessBytes(QByteArray(reinterpret_cast<const char *>(data + at + 1), int(take)));
        at += 1 + take;
    }

    const RxRing &ring = link.Ring();
    Require(ring.readPos >= 0 && ring.readPos < ring.size);
    Require(ring.writePos >= 0 && ring.writePos < ring.size);
    RequireFiniteTable(table);
    return 0;
}
