#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What a panel's entry came to in one Scan or Free Up. -1: not known (not measured, or counted
// with another entry of the same cleaner).
struct FlowItem
{
    QString id;
    QString name;
    qint64 found = -1;
    qint64 cleared = -1;
    QString countedWith; // the entry whose figures include this one's
};

// How a flow ended and what it found. The flows never show anything: the window and the command
// line render this.
struct FlowResult
{
    enum class Ending
    {
        Completed,
        // Stopped before any step by the phone's settings; `message` says what to change.
        Blocked,
        Failed,
        Cancelled
    };

    Ending ending = Ending::Completed;
    // The warning (Blocked) or the error (Failed), as rich text.
    QString message;
    // A picture that goes with a Blocked warning.
    QString picture;
    // A Failed step whose watcher already showed the error (the progress dialog did); false when
    // the failure came before any step.
    bool reported = false;

    QList<FlowItem> items;
    qint64 found = 0;
    qint64 cleared = 0;
    bool restored = false;
    // The phone restarts to finish the restore; its free space is known once it is back.
    bool restarts = false;
    // The restore did not happen and what the Free Up changed waits for the next one of the
    // phone (`message` says so).
    bool changesKept = false;
    qint64 freeBefore = -1;
    qint64 freeAfter = -1;
    // The Free Up's closing message; empty after a Scan.
    QString closingText;
    // Sentences on what the flow could not reach, and why (plain text), each once.
    QStringList notes;
    // What was asked for is only in encrypted backups: turning encryption on would reach it.
    bool offersEncryption = false;
    // Apps whose containers the phone keeps closed (identifiers, in list order).
    QStringList refusedApps;

    bool completed() const { return ending == Ending::Completed; }
    const FlowItem* item(const QString& id) const
    {
        for (const FlowItem& i : items) {
            if (i.id == id)
                return &i;
        }
        return nullptr;
    }
};
