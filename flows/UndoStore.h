#pragma once

#include "IOSDevice.h"

#include <QDateTime>
#include <QDir>
#include <QStringList>

// The undo of the last Free Up of each phone: a partial backup of what that Free Up changed, as
// it was, kept beside the phone's backup until its next Free Up replaces it or the user drops it.
class UndoStore
{
public:
    struct Info
    {
        bool present = false;
        QDateTime taken;
        QStringList items;    // the entries that Free Up freed, as the window names them
        qint64 diskBytes = 0; // what it keeps on this computer
        QDir root;            // the folder the restore is given
    };

    // The undo being written by a Free Up, before it is known to be needed.
    static QDir stagingRoot(const QDir& backupFolder, const QString& udid);
    // After the Free Up's restore: the staged undo becomes the phone's undo.
    static bool keep(const QDir& backupFolder, const QString& udid, const QStringList& items);
    static Info of(const IOSDevice& device);
    static void drop(const IOSDevice& device);
};
