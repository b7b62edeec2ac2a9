// Lines per second from received bytes to values in the table, on one core:
// the ring, the line cutting, the parser and the table, as the port delivers
// them (reads of a few dozen bytes).

#include "link/paramtable.h"
#include "link/parser.h"
#include "link/serial.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ParamTable_c table;
    for (const char *key : {"pos", "refPos", "status", "home", "run", "type", "sn", "fw", "speed",
                            "accel", "decel", "holdTorque"})
        table.AddEntry(key, 0, nullptr, nullptr, 0, false, key);
    Serial_c link(nullptr, "6015");
    Parser_c parser(&table, nullptr);
    QObject::connect(&link, &Serial_c::LineReceived, &parser, &Parser_c::Parse);

    // The replies of one poll plus some of a connection, repeated.
    QByteArray stream;
    const char *replies[] = {"status_5\n", "pos_-123456\n", "refPos_2500\r\n", "speed_4000\n",
                             "ok\n", "accel_30000\n", "fw_110\n", "sn_1234\n"};
    const int repeats = 50000;
    for (int i = 0; i < repeats; ++i)
        for (const char *r : replies)
            stream += r;
    const long long lines = repeats * static_cast<long long>(std::size(replies));

    const int chunk = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 32;
    std::vector<double> rates;
    for (int round = 0; round < 7; ++round) {
        QElapsedTimer t;
        t.start();
        for (int at = 0; at < stream.size(); at += chunk)
            link.ProcessBytes(QByteArray::fromRawData(stream.constData() + at,
                                                      std::min(chunk, stream.size() - at)));
        rates.push_back(lines / (t.nsecsElapsed() / 1e9));
    }
    std::sort(rates.begin(), rates.end());
    // 115200 baud, 8N1: 11520 bytes/s; the average reply above is 10.75 bytes.
    const double lineLimit = 11520.0 / (stream.size() / static_cast<double>(lines));
    std::printf("chunk %d bytes: median %.0f lines/s (min %.0f, max %.0f); line limit %.0f lines/s; "
                "factor %.0f\n",
                chunk, rates[rates.size() / 2], rates.front(), rates.back(), lineLimit,
                rates[rates.size() / 2] / lineLimit);
    return table.ValueOf("pos") == -123456 ? 0 : 1;
}
