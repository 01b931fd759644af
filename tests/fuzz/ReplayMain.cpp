// Replays every input of the given folders through a fuzz target, so that the normal test suite
// keeps every seed and every past finding passing.
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    int inputs = 0;
    for (const QString& folder : app.arguments().mid(1)) {
        for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files)) {
            QFile f(file.filePath());
            if (!f.open(QIODevice::ReadOnly))
                return 1;
            const QByteArray data = f.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()));
            ++inputs;
        }
    }
    std::printf("%d passed, 0 failed\n", inputs);
    return inputs > 0 ? 0 : 1;
}
