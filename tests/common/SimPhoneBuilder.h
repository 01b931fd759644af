#pragma once

#include "SimDeviceFolder.h"

#include <QStringList>

// Fills a simulated device folder with what a phone holds: system caches and temp files, messages
// with referenced and orphaned attachments, Safari history and thumbnails, both call history
// databases, camera roll pictures, and apps with icons and caches in their containers.
struct SimPhoneContent
{
    int cacheFiles = 40;
    int attachments = 30;         // referenced by messages
    int orphanedAttachments = 12; // no message refers to them
    int photos = 60;
    int appCount = 12;
    int scale = 1; // multiplies file sizes
    // What a phone on iOS 10 and later holds: the messages database Messages writes today, with
    // Recently Deleted and rows still in its log, Safari's history in the home domain, and only
    // the Core Data call history.
    bool current = false;
};

void buildSimPhone(SimDeviceFolder& phone, const SimPhoneContent& content = SimPhoneContent());

// From now on the phone's free space follows its files: what they take now is part of the used
// space its values say, and freeing files frees space (switch "OtherUsedBytes").
void followStoredFiles(SimDeviceFolder& phone);

// What buildSimPhone put where, for checks after a Free Up.
namespace SimPhonePaths {
QString file(const SimDeviceFolder& phone, const QString& domain, const QString& path);
// Where the phone keeps Safari's history.
QString safariHistory(const SimDeviceFolder& phone, bool current);
QStringList appIdentifiers(int count);
} // namespace SimPhonePaths
