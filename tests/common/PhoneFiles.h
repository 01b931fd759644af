#pragma once

#include "SimDeviceFolder.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <functional>

// What a simulated phone holds, for tests that check it after a Free Up: its files by
// "<domain>/<path>", and the kinds of file the backup panels free.
QMap<QString, QByteArray> phoneFiles(const SimDeviceFolder& phone);
// The files of every app's container, by "<app>/<path>".
QMap<QString, QByteArray> containerFiles(const SimDeviceFolder& phone);
qint64 sizeOf(const QMap<QString, QByteArray>& files, const std::function<bool(const QString&)>& select);
bool isSystemCache(const QString& path);
// The message attachments that the demo and test phones hold with no message pointing at them.
bool isOrphan(const QString& path);
