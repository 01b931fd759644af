#pragma once

#include "BackupKeyBag.h"
#include "MbdbRecord.h"

#include <QDir>

#include <functional>

// The keys of one encrypted backup folder, from its Manifest.plist: "BackupKeyBag", opened by the
// backup password, and "ManifestKey" (from iOS 10.2: the 4-byte little-endian protection class,
// then the wrapped key of Manifest.db). Each file's own key is in its record.
class BackupEncryption
{
public:
    // The folder's Manifest.plist says "IsEncrypted".
    static bool isEncrypted(const QDir& backupDir);
    // Reads the folder's key bag. Throws std::runtime_error naming Manifest.plist when it has none.
    static BackupEncryption of(const QDir& backupDir);

    // The slow part: both PBKDF2 derivations (see BackupKeyBag). False for a wrong password.
    bool unlock(const QByteArray& password, const std::function<bool()>& stop = {});
    bool isUnlocked() const { return m_bag.isUnlocked(); }
    // Another folder's bag is this one: what unlocked this one unlocks it, without the derivations.
    bool sameBag(const BackupEncryption& other) const { return m_bag.bytes() == other.m_bag.bytes(); }
    // Takes the class keys of `unlocked`, whose bag is the same.
    void takeKeys(const BackupEncryption& unlocked) { m_bag = unlocked.m_bag; }

    // The key of Manifest.db; empty when the manifest is not encrypted (Manifest.mbdb, or a
    // backup from before iOS 10.2).
    QByteArray manifestKey() const;
    // The key of a record's file; throws std::runtime_error naming the file when it has none that
    // the bag unwraps.
    QByteArray fileKey(const MbdbRecord& record) const;
    // A fresh key for a new file of the record's protection class, stored in the record.
    QByteArray giveNewKey(MbdbRecord& record) const;

    // Copies of a record's file (or Manifest.db, with manifestKey()): throw std::runtime_error
    // naming the file unless cancelled by `stop`, which returns false.
    bool decrypt(const QByteArray& key, const QString& from, const QString& to,
                 const std::function<bool()>& stop = {}) const;
    bool encrypt(const QByteArray& key, const QString& from, const QString& to,
                 const std::function<bool()>& stop = {}) const;

private:
    QString m_plist;
    BackupKeyBag m_bag;
    QByteArray m_manifestKey; // as stored
};
