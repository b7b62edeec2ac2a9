// Runs a fuzz harness over every file of the given folders (or files), so the
// seed corpus is exercised by every test run without a fuzzing engine.

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv)
{
    QFileInfoList inputs;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo arg(QString::fromLocal8Bit(argv[i]));
        inputs << (arg.isDir() ? QDir(arg.filePath()).entryInfoList(QDir::Files, QDir::Name)
                               : QFileInfoList{arg});
    }
    for (const QFileInfo &input : inputs) {
        QFile file(input.filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
            return 1;
        }
        const QByteArray data = file.readAll();
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(data.constData()),
                               static_cast<std::size_t>(data.size()));
    }
    std::printf("%d inputs replayed\n", int(inputs.size()));
    return inputs.isEmpty() ? 1 : 0;
}
