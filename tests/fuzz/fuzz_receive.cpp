// The receive path: arbitrary bytes, cut into arbitrary chunks, through the
// ring, the line cutting, the parser and the table. (corpus/receive/parser_lines
// holds reply lines fed a byte at a time: a zero byte before each.)

#include "link/numeric.h"
#include "link/paramtable.h"
#include "link/parser.h"
#include "link/serial.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    ParamTable_c table;
    for (const char *key : {"pos", "refPos", "status", "home", "run", "type", "sn", "fw",
                            "speed", "accel", "decel", "holdTorque"})
        table.AddEntry(key, 0, nullptr, nullptr, 0, false, key);
    Serial_c link(nullptr, "6015");
    Parser_c parser(&table, nullptr);
    QObject::connect(&link, &Serial_c::LineReceived, &parser, &Parser_c::Parse);
    // UTF-16 units never exceed the UTF-8 bytes they came from, so the cut holds.
    QObject::connect(&link, &Serial_c::LineReceived, [](const QString &line) {
        if (line.size() > Serial_c::kMaxLine)
            qFatal("a line longer than the cut");
    });

    // The first byte of each chunk gives its length, so the fuzzer explores
    // how lines split across reads.
    for (std::size_t at = 0; at < size;) {
        const std::size_t take = std::min<std::size_t>(data[at] * 17u + 1, size - at - 1);
        link.ProcessBytes(QByteArray(reinterpret_cast<const char *>(data + at + 1), int(take)));
        at += 1 + take;
    }

    const RxRing &ring = link.Ring();
    if (ring.readPos < 0 || ring.readPos >= ring.size || ring.writePos < 0
        || ring.writePos >= ring.size)
        qFatal("ring position outside the ring");
    for (int i = 0; i < table.Count(); ++i)  // the table only ever holds finite values
        if (!IsUsableNumber(table.Entry(i).value))
            qFatal("%s holds an unusable number", qPrintable(table.Entry(i).key));
    return 0;
}
