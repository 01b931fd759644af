#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The cleaners a backup panel's entries run.
enum class BackupCleanerKind
{
    SystemCaches,
    JunkAttachments,
    Messages,
    Safari,
    CallHistory
};

// One entry of a backup panel, as both the window and the command line offer it.
struct PanelEntry
{
    QString id;   // "cache", "temp", "junk", "messages", "safari", "calls"
    QString name; // as the window labels it
    BackupCleanerKind cleaner;
    bool tickedByDefault = false;
    // Asked about before a Free Up that includes it.
    bool needsConfirmation = false;
    // Why a Free Up cannot reach it, when it is something no backup holds; the phone keeps what
    // a restore does not list, so only a restore that removes everything else (and makes the
    // phone download every app again) could.
    const char* outOfReach = nullptr;
    // From iOS 13 only an encrypted backup holds it (Apple, HT203790 "About encrypted backups on
    // your iPhone, iPad, or iPod touch": website history, call history, Health data, passwords).
    bool onlyInEncryptedBackups = false;
};

// A panel whose Scan and Free Up go through a backup of the phone.
struct BackupPanel
{
    QString id; // "junk", "data"
    QString title;
    QList<PanelEntry> entries;
    // A Scan shows each entry's size (true) or one total for the panel.
    bool scanShowsEntrySizes = false;
    // The closing text's translation key (%1 found, %2 cleared).
    const char* closingKey = nullptr;

    static const BackupPanel& systemJunk();
    static const BackupPanel& unwantedData();
    // The panel with this id, or null.
    static const BackupPanel* byId(const QString& id);

    const PanelEntry* entry(const QString& id) const;
    QStringList defaultTicks() const;
    // The cleaners that run for these ticked entries, in panel order, each once.
    QList<BackupCleanerKind> cleanersFor(const QStringList& ticked) const;
    QList<BackupCleanerKind> allCleaners() const;
};
