// Manifest.db: an archived record object from arbitrary bytes, and a whole database file.
#include "FuzzTarget.h"
#include "ManifestDb.h"

#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MbdbRecord record;
    unarchiveMbFile(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), record);
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Manifest.db"));
    writeFuzzInput(path, data, size);
    try {
        readManifestDb(path);
    } catch (const std::exception&) {
    }
    return 0;
}
