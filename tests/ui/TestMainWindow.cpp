#include "AppFolders.h"
#include "BackupCleanFlow.h"
#include "BackupFixture.h"
#include "BoxAnswerer.h"
#include "FileUtils.h"
#include "FixtureDatabases.h"
#include "FormatSize.h"
#include "FrameworkLoader.h"
#include "LocalHttpServer.h"
#include "MainWindow.h"
#include "OpenExternal.h"
#include "PhoneFiles.h"
#include "ProgressForm.h"
#include "SimPhoneBuilder.h"
#include "VendorLinks.h"
#include "WindowFixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Presses Cancel on the first progress dialog that shows a status with `status` in it.
class Canceller : public QObject
{
public:
    explicit Canceller(const QString& status) : m_status(status)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* form = qobject_cast<ProgressForm*>(QApplication::activeModalWidget());
            if (!form || done)
                return;
            if (form->findChild<QLabel*>(QStringLiteral("lbStatus"))->text().contains(m_status)) {
                done = true;
                QTest::mousePress(form->findChild<QPushButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
            }
        });
        m_timer.start(10);
    }
    bool done = false;

private:
    QString m_status;
    QTimer m_timer;
};

// Bytes in the caches and temp folders of the phone's app containers (of one app when named).
qint64 appCacheBytes(const SimDeviceFolder& phone, const QString& app = QString())
{
    qint64 total = 0;
    QDirIterator it(phone.dir().filePath(QStringLiteral("containers/") + app), QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.contains(QLatin1String("/Library/Caches/")) || path.contains(QLatin1String("/Library/tmp/")))
            total += it.fileInfo().size();
    }
    return total;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    WindowFixture m_fx;
    int m_phones = 0;

    template <typename T> T* child(const char* name) { return m_fx.child<T>(name); }
    QComboBox* devices() { return m_fx.devices(); }
    void press(const char* button) { m_fx.press(button); }

    // A phone with the usual content (of a phone on iOS 10 or later when `current`); waits until
    // the window lists it.
    std::unique_ptr<SimDeviceFolder> connectPhone(const std::function<void(SimDeviceFolder&)>& tune = {},
                                                  bool current = false)
    {
        SimPhoneContent content;
        content.cacheFiles = 10;
        content.attachments = 6;
        content.orphanedAttachments = 4;
        content.photos = 5;
        content.appCount = 4;
        content.current = current;
        return m_fx.connectPhone(QStringLiteral("phone%1").arg(++m_phones), content, tune);
    }

private slots:
    void initTestCase()
    {
        const QString error = m_fx.prepare(QStringLiteral(SPACEWELL_TEST_FRAMEWORKS "/sim"));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QDir(appDataDir().filePath(QStringLiteral("virtual_ios"))).removeRecursively();
        BoxAnswerer ok;
        QVERIFY(m_fx.openWindow(100));
        // No device yet: the hint shows once.
        QTRY_COMPARE(ok.texts.size(), 1);
        QCOMPARE(ok.texts.at(0),
                 QStringLiteral("Device not found. Please connect your device with USB cable."));
        QTest::qWait(300);
        QCOMPARE(ok.texts.size(), 1);
        QCOMPARE(m_fx.window->windowTitle(), QStringLiteral("Vantelmoor Spacewell"));
    }

    // Each test starts with no phone attached.
    void cleanup() { QVERIFY(m_fx.removePhones()); }

    void arrivalShowsTheDeviceAndRemovalResets()
    {
        auto phone = connectPhone([](SimDeviceFolder& p) {
            p.setValues(QStringLiteral("com.apple.disk_usage"),
                        {{QStringLiteral("TotalDataCapacity"), qint64(16000000000)},
                         {QStringLiteral("AmountDataAvailable"), qint64(4000000000)}});
        });
        QVERIFY(phone);
        QCOMPARE(devices()->currentText(), QStringLiteral("phone%1").arg(m_phones));
        QCOMPARE(child<QProgressBar>("pgSpace")->value(), 75);
        QCOMPARE(child<QLabel>("lbSpaceInfo")->text(), QStringLiteral("Total: 14.9 GB, Available: 3.7 GB"));
        QVERIFY(child<QLabel>("lbDeviceIcon")->text().contains(QStringLiteral(":res/iphone-big.png")));
        QVERIFY(child<QPushButton>("btnScanSysCache")->isVisible());
        QCOMPARE(child<QCheckBox>("ckAllApp")->checkState(), Qt::Checked);
        QCOMPARE(m_fx.window->findChild<QAbstractItemView*>(QStringLiteral("listApp"))->model()->rowCount(),
                 4);

        auto second = connectPhone();
        QCOMPARE(devices()->count(), 2);
        phone->remove(); // not the current one: the panel stays
        QTRY_COMPARE(devices()->count(), 1);
        QVERIFY(child<QPushButton>("btnScanSysCache")->isVisible());
        second->remove();
        QTRY_COMPARE(devices()->count(), 0);
        QVERIFY(!child<QPushButton>("btnScanSysCache")->isVisible());
        QCOMPARE(child<QLabel>("lbSpaceInfo")->text(), QStringLiteral("Total:, Available:"));
    }

    void picturesAndEmptyStorage_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("picture");
        QTest::newRow("iPad") << "iPad2,5"
                              << ":res/ipad-big.png";
        QTest::newRow("iPod") << "iPod5,1"
                              << ":res/ipod-big.png";
        QTest::newRow("iPhone") << "iPhone8,1"
                                << ":res/iphone-big.png";
        QTest::newRow("empty") << ""
                               << ":res/iphone-big.png";
    }

    void picturesAndEmptyStorage()
    {
        QFETCH(QString, type);
        QFETCH(QString, picture);
        IOSDevice d;
        d.deviceName = QStringLiteral("no-such-simulated-device");
        d.productType = type;
        m_fx.window->showDeviceInfo(d); // no storage figures: 0 of 0
        QVERIFY(child<QLabel>("lbDeviceIcon")->text().contains(picture));
        QCOMPARE(child<QProgressBar>("pgSpace")->value(), 0);
        m_fx.window->resetDevicePanel();
    }

    void systemJunkScanAndFreeUp_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("iOS 9, Manifest.mbdb") << "9.3.5";
        QTest::newRow("iOS 14, Manifest.db") << "14.8";
    }

    void systemJunkScanAndFreeUp()
    {
        QFETCH(QString, version);
        const bool current = !version.startsWith(QLatin1String("9"));
        auto phone = connectPhone(
            [&version](SimDeviceFolder& p) {
                WindowFixture::setIdentity(p, version);
                // A small phone, so that what is freed shows in its storage text.
                p.setValues(QStringLiteral("com.apple.disk_usage"),
                            {{QStringLiteral("TotalDataCapacity"), qint64(200000000)},
                             {QStringLiteral("AmountDataAvailable"), qint64(60000000)}});
                followStoredFiles(p);
            },
            current);
        QVERIFY(phone);
        const auto before = phoneFiles(*phone);
        // Caches and temporary files are in no backup on any iOS version (Apple's guidance on app
        // backups since iOS 5): a Scan counts the orphaned attachments only, and a Free Up in update
        // mode leaves the caches to iOS.
        const qint64 junk = sizeOf(before, isOrphan);
        const QString note =
            QStringLiteral("<br/><br/>Caches and temporary files are in no backup, so a Free Up "
                           "cannot reach them; iOS clears them itself when storage runs low.");
        BoxAnswerer ok;
        press("btnScanSysCache");
        QCOMPARE(child<QLabel>("lbTotalSysCache")->text(), QStringLiteral("(%1)").arg(formatSize(junk)));
        QVERIFY(ok.texts.isEmpty());
        QCOMPARE(phoneFiles(*phone), before);

        const QString freeBefore = child<QLabel>("lbSpaceInfo")->text();
        press("btnClearSysCache");
        // The closing message says what the phone gained, measured before and after.
        QCOMPARE(ok.texts,
                 QStringList{QStringLiteral("Successfully deleted %1 system cache (Total: %1). The device "
                                            "gained %1 of free space.")
                                 .arg(formatSize(junk)) +
                             note});
        QVERIFY(child<QLabel>("lbSpaceInfo")->text() != freeBefore); // the bar and text follow it
        const QDir backup = m_fx.backupOf(*phone);
        QCOMPARE(backup.exists(QStringLiteral("Manifest.db")), current);
        QCOMPARE(backup.exists(QStringLiteral("Manifest.mbdb")), !current);
        // Only the orphans changed, each now an empty file; everything else is as it was.
        auto expected = before;
        for (const QString& path : before.keys()) {
            if (isOrphan(path))
                expected.insert(path, QByteArray());
        }
        QCOMPARE(phoneFiles(*phone), expected);

        // Nothing left to free: no restore, so the switch that would refuse one changes nothing.
        phone->setSwitch(QStringLiteral("FindMyIPhone"), true);
        ok.texts.clear();
        press("btnClearSysCache");
        QCOMPARE(
            ok.texts,
            QStringList{QStringLiteral("Successfully deleted 0.0 KB system cache (Total: 0.0 KB).") + note});
    }

    void unwantedDataConfirmationAndTicks_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("iOS 9, Manifest.mbdb") << "9.3.5";
        QTest::newRow("iOS 14, Manifest.db") << "14.8";
    }

    void unwantedDataConfirmationAndTicks()
    {
        QFETCH(QString, version);
        const bool current = !version.startsWith(QLatin1String("9"));
        auto phone =
            connectPhone([&version](SimDeviceFolder& p) { WindowFixture::setIdentity(p, version); }, current);
        QVERIFY(phone);
        auto* model = m_fx.window->findChild<QAbstractItemView*>(QStringLiteral("listRemoveFun"))->model();
        const auto before = phoneFiles(*phone);
        {
            BoxAnswerer no({QMessageBox::No});
            model->setData(model->index(0, 0), Qt::Checked, Qt::CheckStateRole); // Messages
            press("btnRemoveData");
            QCOMPARE(no.texts.size(), 1);
            QVERIFY(no.texts.at(0).startsWith(QStringLiteral("Confirm to delete all messages")));
        }
        QVERIFY(!m_fx.backupOf(*phone).exists());
        QCOMPARE(phoneFiles(*phone), before);

        model->setData(model->index(2, 0), Qt::Checked, Qt::CheckStateRole); // Call History
        const QString store =
            SimPhonePaths::file(*phone, QStringLiteral("HomeDomain"),
                                QStringLiteral("Library/CallHistoryDB/CallHistory.storedata"));
        const int calls = FixtureDatabases::countRows(store, QStringLiteral("ZCALLRECORD"));
        {
            BoxAnswerer yes({QMessageBox::Yes, QMessageBox::Ok});
            press("btnRemoveData");
            QCOMPARE(yes.texts.size(), 2);
            QVERIFY(yes.texts.at(1).startsWith(QStringLiteral("Successfully deleted ")));
            // From iOS 13 an unencrypted backup holds no call history (Apple, HT203790): said, not
            // counted as freed.
            QCOMPARE(yes.texts.at(1).contains(BackupCleanFlow::encryptedOnlyText()), current);
        }
        const QString sms =
            SimPhonePaths::file(*phone, QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"));
        QCOMPARE(FixtureDatabases::countRows(sms, QStringLiteral("message")), 0);
        QCOMPARE(FixtureDatabases::countRows(store, QStringLiteral("ZCALLRECORD")), current ? calls : 0);
        const QString history = SimPhonePaths::safariHistory(*phone, current);
        QCOMPARE(FixtureDatabases::countRows(history, QStringLiteral("history_visits")), 400);
        const auto after = phoneFiles(*phone);
        // Each attachment is an empty file now, put in its place by the restore.
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (it.key().contains(QLatin1String("Library/SMS/Attachments/")))
                QVERIFY2(it.value().isEmpty(), qPrintable(it.key()));
        }
        QCOMPARE(after.value(QStringLiteral("CameraRollDomain/Media/DCIM/100APPLE/IMG_1000.JPG")),
                 before.value(QStringLiteral("CameraRollDomain/Media/DCIM/100APPLE/IMG_1000.JPG")));

        // Nothing ticked: zero totals and no restore.
        phone->setSwitch(QStringLiteral("FindMyIPhone"), true);
        model->setData(model->index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
        model->setData(model->index(2, 0), Qt::Unchecked, Qt::CheckStateRole);
        {
            BoxAnswerer ok;
            press("btnRemoveData");
            QCOMPARE(ok.texts,
                     QStringList{QStringLiteral("Successfully deleted 0.0 KB data.(Total:0.0 KB).")});
        }

        // Tools > Undo the Last Free Up: asked, then the messages and calls are back.
        phone->setSwitch(QStringLiteral("FindMyIPhone"), false);
        QAction* undo = nullptr;
        for (QAction* action : m_fx.window->findChildren<QAction*>()) {
            if (action->text() == QLatin1String("Undo the Last Free Up"))
                undo = action;
        }
        QVERIFY(undo);
        BoxAnswerer yes({QMessageBox::Yes, QMessageBox::Ok});
        undo->trigger();
        QCOMPARE(yes.texts.size(), 2);
        // It names what went: on the unencrypted current phone, the messages only.
        QVERIFY2(yes.texts.at(0).contains(current ? QStringLiteral("(Messages)")
                                                  : QStringLiteral("(Messages, Call History)")),
                 qPrintable(yes.texts.at(0)));
        QVERIFY2(yes.texts.at(1).startsWith(QStringLiteral("What the last Free Up removed")),
                 qPrintable(yes.texts.at(1)));
        QVERIFY(FixtureDatabases::countRows(sms, QStringLiteral("message")) > 0);
        QVERIFY(FixtureDatabases::countRows(store, QStringLiteral("ZCALLRECORD")) > 0);
    }

    // Everything ticked on both demo phones: the phone's databases are emptied and open cleanly,
    // with no old log left beside them to bring rows back.
    void unwantedDataFreeUpOnDemoPhones_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("iOS 9") << "9.3.5";
        QTest::newRow("iOS 14") << "14.8";
    }

    void unwantedDataFreeUpOnDemoPhones()
    {
        QFETCH(QString, version);
        const bool current = !version.startsWith(QLatin1String("9"));
        auto phone =
            connectPhone([&version](SimDeviceFolder& p) { WindowFixture::setIdentity(p, version); }, current);
        QVERIFY(phone);
        auto* model = m_fx.window->findChild<QAbstractItemView*>(QStringLiteral("listRemoveFun"))->model();
        for (int row = 0; row < 3; ++row)
            model->setData(model->index(row, 0), Qt::Checked, Qt::CheckStateRole);
        {
            BoxAnswerer yes({QMessageBox::Yes, QMessageBox::Ok});
            press("btnRemoveData");
            QCOMPARE(yes.texts.size(), 2);
            QVERIFY2(yes.texts.at(1).startsWith(QStringLiteral("Successfully deleted ")),
                     qPrintable(yes.texts.at(1)));
        }

        const QString home = QStringLiteral("HomeDomain");
        const QString sms = SimPhonePaths::file(*phone, home, QStringLiteral("Library/SMS/sms.db"));
        const QString history = SimPhonePaths::safariHistory(*phone, current);
        const QString store =
            SimPhonePaths::file(*phone, home, QStringLiteral("Library/CallHistoryDB/CallHistory.storedata"));
        // Only encrypted backups of iOS 13 and later hold Safari and call history (Apple, HT203790).
        const QStringList edited = current ? QStringList{sms} : QStringList{sms, history, store};
        for (const QString& db : edited) {
            // The restore puts an empty log beside each database.
            QVERIFY2(QFileInfo(db + QStringLiteral("-wal")).size() == 0, qPrintable(db));
            QVERIFY(QFileInfo(db + QStringLiteral("-shm")).size() == 0);
            QCOMPARE(FixtureDatabases::scalar(db, QStringLiteral("pragma integrity_check")),
                     QStringLiteral("ok"));
        }
        QStringList emptied = {QStringLiteral("message"), QStringLiteral("chat"),
                               QStringLiteral("attachment")};
        if (current)
            emptied << QStringLiteral("chat_recoverable_message_join")
                    << QStringLiteral("recoverable_message_part");
        for (const QString& table : emptied)
            QCOMPARE(FixtureDatabases::countRows(sms, table), 0);
        QCOMPARE(FixtureDatabases::countRows(history, QStringLiteral("history_items")) > 0, current);
        QCOMPARE(FixtureDatabases::countRows(store, QStringLiteral("ZCALLRECORD")) > 0, current);
        // Free Up again on the same phone: it works as the first time.
        {
            BoxAnswerer again({QMessageBox::Yes, QMessageBox::Ok});
            press("btnRemoveData");
            QCOMPARE(again.texts.size(), 2);
            QVERIFY2(again.texts.at(1).startsWith(QStringLiteral("Successfully deleted ")),
                     qPrintable(again.texts.at(1)));
        }
        if (!current)
            return;
        // The Scan offers backup encryption (tools/idevicebackup2.c "encryption on": mobilebackup2
        // "ChangePassword"); a new password typed twice, the phone asks for its passcode. From
        // then on a Free Up, with that password, reaches Safari and call history too.
        phone->setSwitch(QStringLiteral("KeyBagRounds"), 1000);
        phone->setSwitch(QStringLiteral("KeyBagIterations"), 10);
        phone->setSwitch(QStringLiteral("PasscodePromptSeconds"), 1);
        {
            BoxAnswerer offer({QMessageBox::Yes, QMessageBox::Ok});
            offer.passwords = QStringList{QStringLiteral("battery staple"), QStringLiteral("battery staple")};
            press("btnScanRemvoeData");
            QCOMPARE(offer.asked.size(), 2);
            QVERIFY2(offer.asked.at(0).contains(QStringLiteral("cannot be recovered")),
                     qPrintable(offer.asked.at(0)));
            QCOMPARE(offer.texts.size(), 2);
            QVERIFY2(offer.texts.at(1).contains(QStringLiteral("encrypted from now on")),
                     qPrintable(offer.texts.at(1)));
        }
        BoxAnswerer encrypted({QMessageBox::Yes, QMessageBox::Ok});
        encrypted.passwords = QStringList{QStringLiteral("battery staple")};
        press("btnRemoveData");
        QCOMPARE(encrypted.texts.size(), 2);
        QVERIFY2(!encrypted.texts.at(1).contains(BackupCleanFlow::encryptedOnlyText()),
                 qPrintable(encrypted.texts.at(1)));
        QCOMPARE(FixtureDatabases::countRows(history, QStringLiteral("history_items")), 0);
        QCOMPARE(FixtureDatabases::countRows(store, QStringLiteral("ZCALLRECORD")), 0);
    }

    // A newcomer's tour: Scan and Free Up of each panel, twice in a row, without an error.
    void everyPanelTwice_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("iOS 9") << "9.3.5";
        QTest::newRow("iOS 14") << "14.8";
    }

    void everyPanelTwice()
    {
        QFETCH(QString, version);
        auto phone = connectPhone([&version](SimDeviceFolder& p) { WindowFixture::setIdentity(p, version); },
                                  !version.startsWith(QLatin1String("9")));
        QVERIFY(phone);
        auto* removable =
            m_fx.window->findChild<QAbstractItemView*>(QStringLiteral("listRemoveFun"))->model();
        for (int round = 0; round < 2; ++round) {
            for (int row = 0; row < 3; ++row)
                removable->setData(removable->index(row, 0), Qt::Checked, Qt::CheckStateRole);
            // The closing box of the system junk, the confirmation for messages, then closing boxes.
            // An unencrypted iOS 14 phone's first Scan offers to turn encryption on: not now.
            BoxAnswerer boxes(
                version.startsWith(QLatin1String("9")) || round > 0
                    ? QList<QMessageBox::StandardButton>{QMessageBox::Ok, QMessageBox::Yes, QMessageBox::Ok}
                    : QList<QMessageBox::StandardButton>{QMessageBox::Ok, QMessageBox::No, QMessageBox::Yes,
                                                         QMessageBox::Ok});
            for (const char* button : {"btnScanSysCache", "btnClearSysCache", "btnScanRemvoeData",
                                       "btnRemoveData", "btnScanAppCache", "btnClearAppCache"})
                press(button);
            QStringList freed;
            for (const QString& text : boxes.texts) {
                QVERIFY2(!text.contains(QStringLiteral("Error"), Qt::CaseInsensitive), qPrintable(text));
                if (text.startsWith(QStringLiteral("Successfully")))
                    freed << text;
            }
            QCOMPARE(freed.size(), 3);
        }
    }

    void unwantedDataScanSizesEntries()
    {
        auto phone = connectPhone();
        QVERIFY(phone);
        BoxAnswerer ok;
        press("btnScanRemvoeData");
        QVERIFY(ok.texts.isEmpty());
        auto* model = m_fx.window->findChild<QAbstractItemView*>(QStringLiteral("listRemoveFun"))->model();
        for (int row = 0; row < 3; ++row)
            QVERIFY(model->index(row, 0).data().toString().contains(QStringLiteral("\n(")));
        QVERIFY(child<QLabel>("lbTotalRemoveData")->text().startsWith(QLatin1Char('(')));
    }

    void backupSettingsWarnings_data()
    {
        QTest::addColumn<bool>("cloud");
        QTest::addColumn<bool>("encrypt");
        QTest::addColumn<QString>("picture");
        QTest::newRow("iCloud") << true << false << ":res/close_icloudbk.jpg";
        // Encrypted backups are edited with their password: a Cancel at its question stops
        // before any step, without a word.
        QTest::newRow("encrypted: the password is asked") << false << true << "";
        QTest::newRow("both: iCloud only") << true << true << ":res/close_icloudbk.jpg";
    }

    void backupSettingsWarnings()
    {
        QFETCH(bool, cloud);
        QFETCH(bool, encrypt);
        QFETCH(QString, picture);
        auto phone = connectPhone([&](SimDeviceFolder& p) {
            p.setValues(
                QStringLiteral("com.apple.mobile.backup"),
                {{QStringLiteral("CloudBackupEnabled"), cloud}, {QStringLiteral("WillEncrypt"), encrypt}});
        });
        QVERIFY(phone);
        for (const char* button : {"btnScanSysCache", "btnClearSysCache", "btnScanRemvoeData"}) {
            BoxAnswerer ok;
            press(button);
            QCOMPARE(ok.asked.size(), picture.isEmpty() ? 1 : 0);
            QCOMPARE(ok.texts.size(), picture.isEmpty() ? 0 : 1);
            if (picture.isEmpty())
                continue;
            QVERIFY(ok.texts.at(0).contains(picture));
            QCOMPARE(ok.icons.at(0), QMessageBox::Warning);
        }
        QVERIFY(!m_fx.backupOf(*phone).exists());
    }

    void appsScanFreeUpAndCheckAll()
    {
        auto phone = connectPhone();
        QVERIFY(phone);
        auto* list = m_fx.window->findChild<QAbstractItemView*>(QStringLiteral("listApp"));
        auto* model = list->model();
        auto* all = child<QCheckBox>("ckAllApp");
        BoxAnswerer ok;
        press("btnScanAppCache");
        QVERIFY(ok.texts.isEmpty());
        QVERIFY(child<QLabel>("lbTotalAppCache")->text().startsWith(QLatin1Char('(')));
        QVERIFY(model->index(0, 0).data().toString().contains(QStringLiteral("\n(")));

        // Untick all but the first two apps.
        model->setData(model->index(2, 0), Qt::Unchecked, Qt::CheckStateRole);
        QCOMPARE(all->checkState(), Qt::PartiallyChecked);
        model->setData(model->index(3, 0), Qt::Unchecked, Qt::CheckStateRole);
        press("btnClearAppCache");
        QCOMPARE(ok.texts.size(), 1);
        QVERIFY(ok.texts.at(0).startsWith(QStringLiteral("Successfully deleted ")));
        const QStringList ids = SimPhonePaths::appIdentifiers(4);
        auto cacheFiles = [&](const QString& id) {
            QDirIterator it(
                phone->dir().filePath(QStringLiteral("containers/") + id + QStringLiteral("/Library")),
                QDir::Files, QDirIterator::Subdirectories);
            int n = 0;
            while (it.hasNext()) {
                it.next();
                ++n;
            }
            return n;
        };
        QCOMPARE(cacheFiles(ids.at(0)), 0);
        QCOMPARE(cacheFiles(ids.at(1)), 0);
        QVERIFY(cacheFiles(ids.at(2)) > 0);
        QVERIFY(QFile::exists(phone->dir().filePath(QStringLiteral("containers/") + ids.at(0) +
                                                    QStringLiteral("/Documents/userdata.sqlite"))));
        // The rescan shows the emptied apps at zero.
        QVERIFY(model->index(0, 0).data().toString().endsWith(QStringLiteral("(0.0 KB)")));

        all->setCheckState(Qt::Checked);
        for (int row = 0; row < model->rowCount(); ++row)
            QCOMPARE(model->index(row, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        all->setCheckState(Qt::Unchecked);
        QCOMPARE(model->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        model->setData(model->index(0, 0), Qt::Checked, Qt::CheckStateRole);
        QCOMPARE(all->checkState(), Qt::PartiallyChecked);
    }

    // Current iOS opens only developer-signed apps' containers, so a phone has a mix. Before a Scan
    // each app shows the data size the phone reports; the Scan measures the open containers and
    // shows a dash for the closed one; Free Up cleans the open ones over AFC and frees the closed
    // one through a backup and removing restore, and the message counts both.
    void aMixOfOpenAndClosedContainers()
    {
        const QStringList ids = SimPhonePaths::appIdentifiers(4);
        auto phone = connectPhone(
            [&ids](SimDeviceFolder& p) {
                WindowFixture::setIdentity(p, QStringLiteral("14.8"));
                p.setSwitch(QStringLiteral("RefusedContainers"), QStringList{ids.at(1)});
            },
            true);
        QVERIFY(phone);
        auto* model = m_fx.window->findChild<QAbstractItemView*>(QStringLiteral("listApp"))->model();
        auto* all = child<QCheckBox>("ckAllApp");
        QCOMPARE(model->rowCount(), 4); // the phone's own apps are not asked for
        QVERIFY(child<QPushButton>("btnScanAppCache")->isVisible());
        QDirIterator data(phone->dir().filePath(QStringLiteral("containers/") + ids.at(0)), QDir::Files,
                          QDirIterator::Subdirectories);
        qint64 dataBytes = 0;
        while (data.hasNext()) {
            data.next();
            dataBytes += data.fileInfo().size();
        }
        QVERIFY2(
            model->index(0, 0).data().toString().endsWith(QStringLiteral("\nData ") + formatSize(dataBytes)),
            qPrintable(model->index(0, 0).data().toString()));

        BoxAnswerer ok;
        press("btnScanAppCache");
        QVERIFY2(ok.texts.isEmpty(), qPrintable(ok.texts.join(QLatin1Char('\n'))));
        const qint64 open = appCacheBytes(*phone) - appCacheBytes(*phone, ids.at(1));
        QCOMPARE(child<QLabel>("lbTotalAppCache")->text(), QStringLiteral("(%1)").arg(formatSize(open)));
        QVERIFY(model->index(0, 0).data().toString().endsWith(
            QStringLiteral("(%1)").arg(formatSize(appCacheBytes(*phone, ids.at(0))))));
        QVERIFY(model->index(1, 0).data().toString().endsWith(QStringLiteral("\n(\u2013)")));

        // Nothing ticked: nothing deleted and no backup.
        all->setCheckState(Qt::Unchecked);
        const auto before = phoneFiles(*phone);
        const qint64 cachesBefore = appCacheBytes(*phone);
        press("btnClearAppCache");
        QCOMPARE(ok.texts.size(), 1);
        QVERIFY(ok.texts.at(0).startsWith(QStringLiteral("Successfully deleted 0.0 KB")));
        QCOMPARE(appCacheBytes(*phone), cachesBefore);
        QCOMPARE(phoneFiles(*phone), before);
        QVERIFY(!m_fx.backupOf(*phone).exists());

        all->setCheckState(Qt::Checked);
        ok.texts.clear();
        press("btnClearAppCache");
        QCOMPARE(ok.texts.size(), 1);
        QVERIFY2(ok.texts.at(0).startsWith(
                     QStringLiteral("Successfully deleted %1 App cache (Total: %1). The device "
                                    "keeps the containers of ")
                         .arg(formatSize(open))),
                 qPrintable(ok.texts.at(0)));
        QCOMPARE(appCacheBytes(*phone), cachesBefore - open);
        // The rescan: the open apps at zero, the closed one still not measurable.
        QVERIFY(model->index(0, 0).data().toString().endsWith(QStringLiteral("(0.0 KB)")));
        QVERIFY(model->index(1, 0).data().toString().endsWith(QStringLiteral("\n(\u2013)")));
    }

    void refusedContainersAreLeftAlone()
    {
        auto phone = connectPhone([](SimDeviceFolder& p) {
            p.setSwitch(QStringLiteral("RefusedContainers"), SimPhonePaths::appIdentifiers(4));
        });
        QVERIFY(phone);
        QVERIFY(!child<QPushButton>("btnScanAppCache")->isVisible());
        BoxAnswerer ok;
        press("btnClearAppCache");
        QCOMPARE(ok.texts.size(), 1);
        QVERIFY2(
            ok.texts.at(0).startsWith(QStringLiteral("Successfully deleted 0.0 KB App cache (Total: 0.0 KB). "
                                                     "The device keeps the containers of ")),
            qPrintable(ok.texts.at(0)));
        QVERIFY(!m_fx.backupOf(*phone).exists());
    }

    void cancelDuringBackupEndsTheFlow()
    {
        auto phone =
            connectPhone([](SimDeviceFolder& p) { p.setSwitch(QStringLiteral("BackupSeconds"), 3); });
        QVERIFY(phone);
        const auto before = phoneFiles(*phone);
        BoxAnswerer ok;
        Canceller cancel(QStringLiteral("Loading data from Device..."));
        press("btnClearSysCache");
        QVERIFY(cancel.done);
        QVERIFY(ok.texts.isEmpty());
        QCOMPARE(phoneFiles(*phone), before);
    }

    void failingCleanerLeavesEverything()
    {
        auto phone = connectPhone();
        QVERIFY(phone);
        SimDeviceFolder::writeFile(SimPhonePaths::file(*phone,
                                                       QStringLiteral("AppDomain-com.apple.mobilesafari"),
                                                       QStringLiteral("Library/Safari/History.db")),
                                   QByteArray(8192, 'x'));
        const auto before = phoneFiles(*phone);
        auto* model = m_fx.window->findChild<QAbstractItemView*>(QStringLiteral("listRemoveFun"))->model();
        model->setData(model->index(1, 0), Qt::Checked, Qt::CheckStateRole); // Safari
        BoxAnswerer ok;
        press("btnRemoveData");
        QCOMPARE(ok.texts.size(), 1);
        QVERIFY(ok.texts.at(0).startsWith(QStringLiteral("An Error Occurred.")));
        QVERIFY(ok.texts.at(0).contains(QStringLiteral("file is not a database")));
        QCOMPARE(phoneFiles(*phone), before);
        QCOMPARE(child<QLabel>("lbTotalRemoveData")->text(), QString());
    }

    // The select-all box shows a partial tick while some apps are ticked, but a click ticks all
    // or none, never "partly" with nothing ticked.
    void selectAllNeverLeftHalfTicked()
    {
        auto phone = connectPhone();
        QVERIFY(phone);
        auto* model = m_fx.window->findChild<QAbstractItemView*>(QStringLiteral("listApp"))->model();
        auto* all = child<QCheckBox>("ckAllApp");
        auto ticked = [model] {
            int n = 0;
            for (int row = 0; row < model->rowCount(); ++row)
                n += model->index(row, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked ? 1 : 0;
            return n;
        };
        model->setData(model->index(1, 0), Qt::Unchecked, Qt::CheckStateRole);
        QCOMPARE(all->checkState(), Qt::PartiallyChecked);
        for (const auto& [state, count] : {std::pair{Qt::Checked, 4}, std::pair{Qt::Unchecked, 0},
                                           std::pair{Qt::Checked, 4}, std::pair{Qt::Unchecked, 0}}) {
            QTest::mouseClick(all, Qt::LeftButton);
            QCOMPARE(all->checkState(), state);
            QCOMPARE(ticked(), count);
        }
    }

    // Yes to a new version while a step runs: the step goes on to its end with the window
    // answering, and the window closes after it.
    void updateOfferWaitsForTheStep()
    {
        LocalHttpServer server;
        server.answer("/sms_check_update.php", 200, "http://127.0.0.1:9/spacewell-new.deb");
        QNetworkAccessManager client;
        QNetworkReply* reply =
            client.get(QNetworkRequest(QUrl(server.url() + QStringLiteral("/sms_check_update.php"))));
        QTRY_VERIFY(reply->isFinished());
        auto phone =
            connectPhone([](SimDeviceFolder& p) { p.setSwitch(QStringLiteral("BackupSeconds"), 2); });
        QVERIFY(phone);
        QStringList opened;
        setOpenExternalHandler([&opened](const QString& target) { opened << target; });
        QApplication::setQuitOnLastWindowClosed(false);
        bool offered = false;
        bool stillShownAfterYes = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (offered || !qobject_cast<ProgressForm*>(QApplication::activeModalWidget()))
                return;
            offered = true;
            QTimer::singleShot(0, m_fx.window.get(), [&] {
                m_fx.window->findChild<VendorLinks*>()->onCheckVersionReadyRead(reply);
                stillShownAfterYes = m_fx.window->isVisible();
            });
        });
        poll.start(20);
        BoxAnswerer yes({QMessageBox::Yes});
        press("btnScanSysCache");
        QVERIFY(offered);
        QVERIFY(stillShownAfterYes);
        QVERIFY(yes.texts.value(0).startsWith(QStringLiteral("A new version of")));
        QVERIFY(child<QLabel>("lbTotalSysCache")->text().startsWith(QLatin1Char('(')));
        QTRY_VERIFY(!m_fx.window->isVisible());
        QCOMPARE(opened, QStringList{QStringLiteral("http://127.0.0.1:9/spacewell-new.deb")});
        setOpenExternalHandler({});
        QApplication::setQuitOnLastWindowClosed(true);
        m_fx.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_fx.window.get()));
    }

    // Clear Log Files removes the icon caches and the temporary backups, hidden files included.
    void clearLogFiles()
    {
        const QString memory = appDataDir().filePath(QStringLiteral("__vantelmoor_iosbk_temp.path"));
        const QString temp = m_fx.backupRoot.filePath(QStringLiteral("__vantelmoor_iosbk_temp"));
        const QString icons = appDataDir().filePath(QStringLiteral("ios_cache"));
        SimDeviceFolder::writeFile(temp + QStringLiteral("/00008030-X/.hidden/Info.plist"), "x");
        SimDeviceFolder::writeFile(temp + QStringLiteral("/00008030-X/Manifest.db"), "x");
        SimDeviceFolder::writeFile(icons + QStringLiteral("/phone/com.a/iTunesArtwork"), "x");
        SimDeviceFolder::writeFile(icons + QStringLiteral("/.thumbnails/a.png"), "x");
        BoxAnswerer ok;
        m_fx.window->miClearLogs();
        QCOMPARE(ok.texts, QStringList{QStringLiteral("Successfully cleared log files.")});
        QVERIFY(!QFileInfo::exists(temp));
        QVERIFY(!QFileInfo::exists(icons));
        QVERIFY(!QFileInfo::exists(memory));
        QVERIFY(QFileInfo::exists(m_fx.backupRoot.path())); // the chosen root itself stays
        // Backups go to the test's folder again.
        QFile file(memory);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(m_fx.backupRoot.path().toUtf8());
    }

    void simulatedDevicesFromDataFiles()
    {
        const QString folder = appDataDir().filePath(QStringLiteral("virtual_ios/iPad2,5"));
        QDir().mkpath(folder);
        SimDeviceFolder::writeFile(
            folder + QStringLiteral("/data.txt"),
            "32000000000,8000000000\n1048576\n1024,2048,3072\ncom.a,icon.png,2048\nbad line\n"
            "com.b,icon.png,1024,extra\ncom.c,../../../../etc/passwd,5\n");
        BoxAnswerer ok;
        MainWindow window;
        QVERIFY(ok.texts.isEmpty());
        QCOMPARE(window.findChild<QComboBox*>(QStringLiteral("cbDevices"))->currentText(),
                 QStringLiteral("iPad2,5"));
        QCOMPARE(window.findChild<QProgressBar*>(QStringLiteral("pgSpace"))->value(), 75);
        QVERIFY(window.findChild<QLabel*>(QStringLiteral("lbDeviceIcon"))
                    ->text()
                    .contains(QStringLiteral("ipad")));
        QCOMPARE(window.findChild<QLabel*>(QStringLiteral("lbTotalSysCache"))->text(),
                 QStringLiteral("(1.0 MB)"));
        QCOMPARE(window.findChild<QLabel*>(QStringLiteral("lbTotalRemoveData"))->text(),
                 QStringLiteral("(6.0 KB)"));
        QCOMPARE(window.findChild<QLabel*>(QStringLiteral("lbTotalAppCache"))->text(),
                 QStringLiteral("(3.0 KB)"));
        auto* apps = window.findChild<QAbstractItemView*>(QStringLiteral("listApp"))->model();
        QCOMPARE(apps->rowCount(), 3);
        // Another simulated device without its data file lists no apps of its own, and not those
        // of the device shown before it either.
        auto* devices = window.findChild<QComboBox*>(QStringLiteral("cbDevices"));
        devices->addItem(QStringLiteral("iPhone8,1"),
                         QVariant::fromValue(IOSDevice{QStringLiteral("iPhone8,1"), QString(), QString(),
                                                       QString(), QStringLiteral("iPhone8,1"), nullptr}));
        devices->setCurrentIndex(1);
        QCOMPARE(apps->rowCount(), 0);
        devices->setCurrentIndex(0);
        QCOMPARE(apps->rowCount(), 3);
        // An icon name from the file never leads out of the device's folder.
        auto* node = static_cast<_APPIconItemNode*>(apps->index(2, 0).internalPointer());
        QCOMPARE(node->iconPath, QDir(folder).filePath(QStringLiteral("passwd")));
        QTest::qWait(300); // a simulated device is listed: no hint
        QVERIFY(ok.texts.isEmpty());
        QDir(appDataDir().filePath(QStringLiteral("virtual_ios"))).removeRecursively();
    }
};

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
