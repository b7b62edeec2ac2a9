// Lines per second from received bytes to values in the table, on one core:
// the ring, the line cutting, the parser and the table, as the port delivers
// them. Usage: bench_receive [chunk]   (bytes per read, default 32)

#include "link/paramtable.h"
#include "link/parser.h"
#include "link/serial.h"
#include <QtCore>
#include <cstdio>

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

    // The replies of one poll plus some of a connection, 50 000 times.
    const QByteArray stream = QByteArray("status_5\npos_-123456\nrefPos_2500\r\nspeed_4000\nok\n"
                                         "accel_30000\nfw_110\nsn_1234\n").repeated(50000);
    const double lines = stream.count('\n');
    const int chunk = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 32;
    double rates[7];  // lines/s, one per round
    for (double &rate : rates) {
        QElapsedTimer t;
        t.start();
        for (int at = 0; at < stream.size(); at += chunk)
            link.ProcessBytes(QByteArray::fromRawData(stream.constData() + at,
                                                      std::min(chunk, stream.size() - at)));
        rate = lines / (t.nsecsElapsed() / 1e9);
    }
    std::sort(std::begin(rates), std::end(rates));
    const double lineLimit = 11520 * lines / stream.size();  // 115200 baud, 8N1: 11520 bytes/s
    std::printf("chunk %d bytes: median %.0f lines/s (min %.0f, max %.0f); "
                "line limit %.0f lines/s; factor %.0f\n",
                chunk, rates[3], rates[0], rates[6], lineLimit, rates[3] / lineLimit);
    return table.ValueOf("pos") == -123456 ? 0 : 1;
}
