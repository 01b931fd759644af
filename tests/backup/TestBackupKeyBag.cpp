#include "BackupKeyBag.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

// The key bag and the file cipher of encrypted backups.
class TestBackupKeyBag : public QObject
{
    Q_OBJECT

private slots:
    // RFC 3394, section 4.6: 256 bits of key data wrapped with a 256-bit key.
    void keyWrapAsTheRfcGivesIt()
    {
        const QByteArray kek =
            QByteArray::fromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
        const QByteArray key =
            QByteArray::fromHex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F");
        const QByteArray wrapped = QByteArray::fromHex(
            "28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21");
        QCOMPARE(BackupCipher::wrapKey(kek, key), wrapped);
        QCOMPARE(BackupCipher::unwrapKey(kek, wrapped), key);
        QByteArray tampered = wrapped;
        tampered[5] = char(tampered[5] ^ 1);
        QVERIFY(BackupCipher::unwrapKey(kek, tampered).isEmpty());
        QVERIFY(BackupCipher::unwrapKey(kek, wrapped.left(20)).isEmpty());
    }

    // A bag opens with its password only, with the rounds it states; file keys and files go
    // through it both ways, and an independent reader of the public format reads what we write.
    void keyBagAndFiles()
    {
        const BackupKeyBag made = BackupKeyBag::create("correct horse", 1000, 10);
        BackupKeyBag bag = BackupKeyBag::parse(made.bytes());
        QVERIFY(!bag.unlock("wrong horse"));
        QVERIFY(!bag.isUnlocked());
        QVERIFY(bag.unlock("correct horse"));

        const QByteArray fileKey = BackupCipher::randomBytes(32);
        const QByteArray stored = bag.storedKey(3, fileKey);
        QCOMPARE(stored.size(), 4 + 40);
        QCOMPARE(BackupKeyBag::protectionClass(stored), 3u);
        QCOMPARE(bag.fileKey(stored), fileKey);
        QVERIFY(bag.fileKey(QByteArray(4, '\0') + stored.mid(4)).isEmpty()); // no class 0

        for (int size : {0, 15, 16, 100000}) {
            const QByteArray plain(size, 'm');
            const QByteArray sealed = BackupCipher::encrypt(fileKey, plain);
            QCOMPARE(sealed.size(), (size / 16 + 1) * 16); // PKCS#7 always pads
            bool ok = false;
            QCOMPARE(BackupCipher::decrypt(fileKey, sealed, &ok), plain);
            QVERIFY(ok);
        }
        bool ok = true;
        BackupCipher::decrypt(QByteArray(32, 'k'), BackupCipher::encrypt(QByteArray(32, 'j'), "sms.db"), &ok);
        QVERIFY(!ok);

        QTemporaryDir dir;
        auto write = [&dir](const char* name, const QByteArray& bytes) {
            QFile f(dir.filePath(QLatin1String(name)));
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
        };
        const QByteArray plain = "SQLite format 3" + QByteArray(5000, '\x01');
        QVERIFY(write("bag", bag.bytes()) && write("password", "correct horse") &&
                write("file", BackupCipher::encrypt(fileKey, plain)));
        QProcess reader;
        reader.setProcessChannelMode(QProcess::MergedChannels);
        reader.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(SPACEWELL_TEST_SOURCE "/decrypt_backup_file.py"), dir.filePath("bag"),
                      dir.filePath("password"), QString::fromLatin1(stored.toHex()), dir.filePath("file"),
                      dir.filePath("out")});
        QVERIFY(reader.waitForFinished(30000));
        QVERIFY2(reader.exitCode() == 0, reader.readAll().constData());
        QFile out(dir.filePath("out"));
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), plain);

        QVERIFY_THROWS_EXCEPTION(std::runtime_error, BackupKeyBag::parse(made.bytes().left(30)));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 BackupKeyBag::parse(QByteArray("VERS\0\0\0\4\0\0\0\5", 12)));
    }
};

QTEST_GUILESS_MAIN(TestBackupKeyBag)
#include "TestBackupKeyBag.moc"
