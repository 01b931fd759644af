#pragma once

#include "FlowResult.h"
#include "IOSDevice.h"

#include <QDateTime>
#include <QDir>
#include <QStringList>

// A Free Up whose restore did not happen (the phone refused it: Find My on, too little room; or
// it was unplugged or the restore cancelled). Its partial backup and its undo stay beside the
// phone's backup, so that the next Free Up of that phone can go straight to the restore instead
// of backing the phone up and editing it again.
class PendingRestore
{
public:
    struct Info
    {
        bool present = false;
        QDateTime taken;
        QString panel;           // the panel's id
        QStringList items;       // the entries it frees, as the window names them
        QList<FlowItem> results; // what its Scan and edit came to, entry by entry
        qint64 found = 0;
        qint64 cleared = 0;
        qint64 bytes = 0; // what the phone receives
        QDir root;        // the folder the restore is given
    };

    // Where a Free Up writes its partial backup.
    static QDir root(const QDir& backupFolder, const QString& udid);
    // The partial backup in root() and the undo staged with it wait for the next Free Up; `taken`
    // is now unless the info already says when.
    static bool keep(const QDir& backupFolder, const QString& udid, const Info& info);
    static Info of(const IOSDevice& device);
    // The partial backup, and the undo staged with it unless it was restored.
    static void drop(const QDir& backupFolder, const QString& udid, bool restored = false);
};
