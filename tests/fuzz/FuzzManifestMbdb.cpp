// Manifest.mbdb from arbitrary bytes: reading never crashes or over-allocates, and what reads
// writes back and reads again the same.
#include "FuzzTarget.h"
#include "ManifestMbdb.h"

#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in.mbdb"));
    writeFuzzInput(in, data, size);
    ManifestMap map;
    try {
        map = readManifestMbdb(in);
    } catch (const std::exception&) {
        return 0;
    }
    const QString out = dir.filePath(QStringLiteral("out.mbdb"));
    writeManifestMbdb(map, out);
    if (readManifestMbdb(out).size() != map.size())
        __builtin_trap();
    return 0;
}
