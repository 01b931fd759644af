#include "Panel.h"

namespace {
// Library/Caches and tmp are in no backup, on any iOS version (Apple's guidance on what apps
// keep out of backups, since iOS 5).
const char cachesOutOfReach[] = "Caches and temporary files are in no backup, so a Free Up cannot reach "
                                "them; iOS clears them itself when storage runs low.";
} // namespace

const BackupPanel& BackupPanel::systemJunk()
{
    static const BackupPanel panel{QStringLiteral("junk"),
                                   QStringLiteral("Remove System Junk"),
                                   {{QStringLiteral("cache"), QStringLiteral("Cache Files"),
                                     BackupCleanerKind::SystemCaches, true, false, cachesOutOfReach},
                                    {QStringLiteral("temp"), QStringLiteral("Temp Files"),
                                     BackupCleanerKind::SystemCaches, true, false, cachesOutOfReach},
                                    {QStringLiteral("junk"), QStringLiteral("Junk Files"),
                                     BackupCleanerKind::JunkAttachments, true, false, nullptr}},
                                   false,
                                   "IDS_FOUND_%1_SYCCACHE_SUC_CLEAR_%2"};
    return panel;
}

const BackupPanel& BackupPanel::unwantedData()
{
    static const BackupPanel panel{QStringLiteral("data"),
                                   QStringLiteral("Delete Unwanted Data"),
                                   {{QStringLiteral("messages"), QStringLiteral("Messages"),
                                     BackupCleanerKind::Messages, false, true, nullptr},
                                    {QStringLiteral("safari"), QStringLiteral("Safari"),
                                     BackupCleanerKind::Safari, false, false, nullptr, true},
                                    {QStringLiteral("calls"), QStringLiteral("Call History"),
                                     BackupCleanerKind::CallHistory, false, false, nullptr, true}},
                                   true,
                                   "IDS_FOUND_%1_DATA_SUC_CLEAR_%2"};
    return panel;
}

const BackupPanel* BackupPanel::byId(const QString& id)
{
    for (const BackupPanel* panel : {&systemJunk(), &unwantedData()}) {
        if (panel->id == id)
            return panel;
    }
    return nullptr;
}

const PanelEntry* BackupPanel::entry(const QString& id) const
{
    for (const PanelEntry& e : entries) {
        if (e.id == id)
            return &e;
    }
    return nullptr;
}

QStringList BackupPanel::defaultTicks() const
{
    QStringList ticks;
    for (const PanelEntry& e : entries) {
        if (e.tickedByDefault)
            ticks << e.id;
    }
    return ticks;
}

QList<BackupCleanerKind> BackupPanel::cleanersFor(const QStringList& ticked) const
{
    QList<BackupCleanerKind> cleaners;
    for (const PanelEntry& e : entries) {
        if (ticked.contains(e.id) && !cleaners.contains(e.cleaner))
            cleaners << e.cleaner;
    }
    return cleaners;
}

QList<BackupCleanerKind> BackupPanel::allCleaners() const
{
    QStringList all;
    for (const PanelEntry& e : entries)
        all << e.id;
    return cleanersFor(all);
}
