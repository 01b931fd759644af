#pragma once

#include <QString>
#include <QtGlobal>

// A byte count as "%1 KB", "%1 MB" or "%1 GB" with one decimal; there is no unit below KB.
QString formatSize(qint64 bytes);
