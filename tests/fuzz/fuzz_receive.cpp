// The receive path: arbitrary bytes, cut into arbitrary chunks, through the
// ring, the line cutting, the parser and the table.

#include "link/numeric.h"
#include "link/paramtable.h"
#include "link/parser.h"
#include "link/serial.h"

#include <QCoreApplication>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_receive";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    ParamTable_c table;
    for (const char *key : {"pos", "refPos", "status", "home", "run", "type", "sn", "fw", "speed",
                            "accel", "decel", "holdTorque"})
        table.AddEntry(key, 0, nullptr, nullptr, 0, false, key);
    Serial_c link(nullptr, "6015");
    Parser_c parser(&table, nullptr);
    QObject::connect(&link, &Serial_c::LineReceived, &parser, &Parser_c::Parse);
    QObject::connect(&link, &Serial_c::LineReceived, [](const QString &line) {
        // A line is never longer than the cut allows (UTF-16 units never
        // exceed the UTF-8 bytes they came from).
        if (line.size() > Serial_c::kMaxLine)
            std::abort();
    });

    // The first byte of each chunk gives its length, so the fuzzer explores
    // how lines split across reads.
    std::size_t at = 0;
    while (at < size) {
        const std::size_t want = static_cast<std::size_t>(data[at]) * 17 + 1;
        ++at;
        const std::size_t take = want < size - at ? want : size - at;
        link.ProcessBytes(QByteArray(reinterpret_cast<const char *>(data + at), static_cast<int>(take)));
        at += take;
    }

    const RxRing &ring = link.Ring();
    if (ring.readPos < 0 || ring.readPos >= ring.size || ring.writePos < 0 || ring.writePos >= ring.size)
        std::abort();
    for (int i = 0; i < table.Count(); ++i)
        if (!IsUsableNumber(table.Entry(i).value))
            std::abort();  // the table only ever holds finite values
    return 0;
}
