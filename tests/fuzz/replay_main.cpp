// Runs a fuzz harness over every file of the given folders (or files), so the
// seed corpus is exercised by every test run without a fuzzing engine.

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv)
{
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo arg(QString::fromLocal8Bit(argv[i]));
        for (const QFileInfo &input : arg.isDir() ? QDir(arg.filePath()).entryInfoList(QDir::Files)
                                                  : QFileInfoList{arg}) {
            QFile file(input.filePath());
            if (!file.open(QIODevice::ReadOnly))
                qFatal("cannot read %s", qPrintable(file.fileName()));
            const QByteArray data = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(data.constData()),
                                   static_cast<std::size_t>(data.size()));
            ++replayed;
        }
    }
    std::printf("%d inputs replayed\n", replayed);
    return replayed ? 0 : 1;
}
