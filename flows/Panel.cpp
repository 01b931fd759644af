#include "Panel.h"

const BackupPanel& BackupPanel::systemJunk()
{
    static const BackupPanel panel{QStringLiteral("junk"),
                                   QStringLiteral("Remove System Junk"),
                                   {{QStringLiteral("cache"), QStringLiteral("Cache Files"),
                                     BackupCleanerKind::SystemCaches, true, false, true},
                                    {QStringLiteral("temp"), QStringLiteral("Temp Files"),
                                     BackupCleanerKind::SystemCaches, true, false, true},
                                    {QStringLiteral("junk"), QStringLiteral("Junk Files"),
                                     BackupCleanerKind::JunkAttachments, true, false, false}},
                                   false,
                                   "IDS_FOUND_%1_SYCCACHE_SUC_CLEAR_%2"};
    return panel;
}

const BackupPanel& BackupPanel::unwantedData()
{
    static const BackupPanel panel{
        QStringLiteral("data"),
        QStringLiteral("Delete Unwanted Data"),
        {{QStringLiteral("messages"), QStringLiteral("Messages"), BackupCleanerKind::Messages, false, true,
          false},
         {QStringLiteral("safari"), QStringLiteral("Safari"), BackupCleanerKind::Safari, false, false, false},
         {QStringLiteral("calls"), QStringLiteral("Call History"), BackupCleanerKind::CallHistory, false,
          false, false}},
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
