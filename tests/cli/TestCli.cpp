#include "FixtureDatabases.h"
#include "PhoneFiles.h"
#include "SimPhoneBuilder.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {
struct CliRun
{
    int status = -1;
    QByteArray out;
    QString err;
};
} // namespace

// spacewell-cli as a user runs it, on simulated phones: usage, exit status, JSON, Ctrl+C.
class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_phones = 0;

    std::unique_ptr<SimDeviceFolder> plugIn(const std::function<void(SimDeviceFolder&)>& tune = {})
    {
        QTemporaryDir staging;
        auto phone =
            std::make_unique<SimDeviceFolder>(staging.path(), QStringLiteral("phone%1").arg(++m_phones));
        SimPhoneContent content;
        content.cacheFiles = 4;
        content.attachments = 3;
        content.orphanedAttachments = 2;
        content.photos = 2;
        content.appCount = 2;
        buildSimPhone(*phone, content);
        if (tune)
            tune(*phone);
        if (!phone->moveTo(m_root.path()))
            return nullptr;
        return phone;
    }

    // Started with standard input closed (not a terminal); `whileRunning` acts on the process.
    CliRun cli(const QStringList& arguments, const std::function<void(QProcess&)>& whileRunning = {},
               const QByteArray& input = QByteArray())
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SPACEWELL_FRAMEWORK_DIR"),
                   QStringLiteral(SPACEWELL_TEST_FRAMEWORKS "/sim"));
        env.insert(QStringLiteral("SPACEWELL_SIM_ROOT"), m_root.path());
        p.setProcessEnvironment(env);
        if (input.isEmpty())
            p.setStandardInputFile(QProcess::nullDevice());
        p.start(QStringLiteral(SPACEWELL_CLI), arguments);
        if (!p.waitForStarted())
            return {};
        if (!input.isEmpty()) {
            p.write(input);
            p.closeWriteChannel();
        }
        if (whileRunning)
            whileRunning(p);
        if (!p.waitForFinished(120000))
            p.kill();
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
                QString::fromUtf8(p.readAllStandardError())};
    }

private slots:
    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no command") << QStringList();
        QTest::newRow("unknown command") << QStringList{QStringLiteral("clean")};
        QTest::newRow("unknown panel") << QStringList{QStringLiteral("scan"), QStringLiteral("photos")};
        QTest::newRow("free-up data without --only")
            << QStringList{QStringLiteral("free-up"), QStringLiteral("data")};
        QTest::newRow("unknown item") << QStringList{QStringLiteral("free-up"), QStringLiteral("junk"),
                                                     QStringLiteral("--only"), QStringLiteral("messages")};
        QTest::newRow("unknown option") << QStringList{QStringLiteral("devices"), QStringLiteral("--colour")};
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        const CliRun r = cli(arguments);
        QCOMPARE(r.status, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.contains(QStringLiteral("Usage: spacewell-cli")), qPrintable(r.err));
    }

    void noPhoneThenSeveral()
    {
        CliRun r = cli({QStringLiteral("scan"), QStringLiteral("junk")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("No phone is connected")), qPrintable(r.err));

        auto first = plugIn();
        auto second = plugIn();
        r = cli({QStringLiteral("scan"), QStringLiteral("junk")});
        QCOMPARE(r.status, 2);
        QVERIFY(r.out.contains(first->udid().toUtf8()) && r.out.contains(second->udid().toUtf8()));
        r = cli({QStringLiteral("devices"), QStringLiteral("--json")});
        QCOMPARE(r.status, 0);
        const QJsonArray devices =
            QJsonDocument::fromJson(r.out).object().value(QStringLiteral("devices")).toArray();
        QCOMPARE(devices.size(), 2);
        for (const char* key : {"name", "udid", "productType", "productVersion", "total", "available"})
            QVERIFY2(devices.at(0).toObject().contains(QLatin1String(key)), key);
        first->remove();
        second->remove();
    }

    void scanAndFreeUpInJson()
    {
        auto phone = plugIn();
        QVERIFY(phone);
        CliRun r = cli({QStringLiteral("scan"), QStringLiteral("junk"), QStringLiteral("--json")});
        QCOMPARE(r.status, 0);
        QJsonObject scan = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(scan.value(QStringLiteral("panel")).toString(), QStringLiteral("junk"));
        QCOMPARE(scan.value(QStringLiteral("device")).toObject().value(QStringLiteral("udid")).toString(),
                 phone->udid());
        QStringList ids;
        for (const QJsonValue& item : scan.value(QStringLiteral("items")).toArray())
            ids << item.toObject().value(QStringLiteral("id")).toString();
        QCOMPARE(ids, (QStringList{QStringLiteral("cache"), QStringLiteral("temp"), QStringLiteral("junk")}));
        QVERIFY(scan.value(QStringLiteral("items"))
                    .toArray()
                    .at(2)
                    .toObject()
                    .value(QStringLiteral("found"))
                    .toDouble() > 0);
        QVERIFY(!scan.contains(QStringLiteral("freeBefore")));
        // Progress went to standard error, a line per step when it is no terminal.
        QVERIFY2(r.err.contains(QStringLiteral("Loading data from Device...\n")), qPrintable(r.err));

        const QStringList deleteMessages{QStringLiteral("free-up"), QStringLiteral("data"),
                                         QStringLiteral("--only"),  QStringLiteral("messages"),
                                         QStringLiteral("--json"),  QStringLiteral("--quiet")};
        const auto before = phoneFiles(*phone);
        r = cli(deleteMessages);
        QCOMPARE(r.status, 2); // nobody to ask at a terminal
        QCOMPARE(phoneFiles(*phone), before);

        // Find My on: the phone refuses the restore (MBErrorDomain/211) and the changes are kept;
        // with it off, --yes restores them without a new backup.
        phone->setSwitch(QStringLiteral("FindMyIPhone"), true);
        r = cli(deleteMessages + QStringList{QStringLiteral("--yes")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("The changes are kept on this computer")), qPrintable(r.err));
        QCOMPARE(phoneFiles(*phone), before);
        phone->setSwitch(QStringLiteral("FindMyIPhone"), false);
        phone->setSwitch(QStringLiteral("BackupError"), QStringList{QStringLiteral("no backup expected")});
        r = cli(deleteMessages + QStringList{QStringLiteral("--yes")});
        phone->setSwitch(QStringLiteral("BackupError"), QStringList());
        QCOMPARE(r.status, 0);
        QVERIFY(r.err.isEmpty());
        const QJsonObject freed = QJsonDocument::fromJson(r.out).object();
        const QJsonObject messages = freed.value(QStringLiteral("items")).toArray().at(0).toObject();
        QCOMPARE(messages.value(QStringLiteral("id")).toString(), QStringLiteral("messages"));
        QVERIFY(messages.value(QStringLiteral("cleared")).toDouble() > 0);
        QVERIFY(freed.value(QStringLiteral("items"))
                    .toArray()
                    .at(1)
                    .toObject()
                    .value(QStringLiteral("found"))
                    .isNull());
        QVERIFY(freed.contains(QStringLiteral("freeBefore")) && freed.contains(QStringLiteral("freeAfter")));
        const QString sms =
            SimPhonePaths::file(*phone, QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"));
        QCOMPARE(FixtureDatabases::countRows(sms, QStringLiteral("message")), 0);

        // The undo asks unless told; it puts the messages back once.
        QCOMPARE(cli({QStringLiteral("undo")}).status, 2);
        r = cli({QStringLiteral("undo"), QStringLiteral("--yes"), QStringLiteral("--quiet")});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.startsWith("What the last Free Up removed (Messages) is back on the device."),
                 r.out.constData());
        QVERIFY(FixtureDatabases::countRows(sms, QStringLiteral("message")) > 0);
        r = cli({QStringLiteral("undo"), QStringLiteral("--yes")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("There is no Free Up of")), qPrintable(r.err));
        phone->remove();
    }

    // A warning for the window is plain text here. An encrypted phone's backup password comes on
    // standard input with --password-stdin, once: a wrong one is a failure, and it is never
    // echoed.
    void settingsAndPasswordsInPlainText()
    {
        auto phone = plugIn([](SimDeviceFolder& p) {
            p.setValues(QStringLiteral("com.apple.mobile.backup"),
                        {{QStringLiteral("CloudBackupEnabled"), true}});
        });
        CliRun r = cli({QStringLiteral("scan"), QStringLiteral("data")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("Please turn off iCloud backup")), qPrintable(r.err));
        QVERIFY(!r.err.contains(QLatin1Char('<')));
        phone->remove();

        phone = plugIn([](SimDeviceFolder& p) {
            p.setSwitch(QStringLiteral("KeyBagRounds"), 1000);
            p.setSwitch(QStringLiteral("KeyBagIterations"), 10);
        });
        r = cli({QStringLiteral("encrypt"), QStringLiteral("--password-stdin")}, {}, "correct horse\n");
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains("encrypted from now on"), r.out.constData());
        r = cli({QStringLiteral("encrypt"), QStringLiteral("--password-stdin")}, {}, "another\n");
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("encrypted already")), qPrintable(r.err));
        r = cli({QStringLiteral("scan"), QStringLiteral("data")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("nobody was asked for the backup password")),
                 qPrintable(r.err));
        r = cli({QStringLiteral("scan"), QStringLiteral("data"), QStringLiteral("--password-stdin")}, {},
                "wrong horse\n");
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("The backup password is not right")), qPrintable(r.err));
        r = cli({QStringLiteral("scan"), QStringLiteral("data"), QStringLiteral("--password-stdin"),
                 QStringLiteral("--json")},
                {}, "correct horse\n");
        QCOMPARE(r.status, 0);
        QVERIFY(!r.out.contains("horse") && !r.err.contains(QStringLiteral("horse")));
        const QJsonArray items =
            QJsonDocument::fromJson(r.out).object().value(QStringLiteral("items")).toArray();
        QVERIFY(!items.isEmpty());
        QVERIFY(items.at(0).toObject().value(QStringLiteral("found")).toDouble() > 0);
        phone->remove();
    }

    // Ctrl+C during the backup cancels it as the dialog's Cancel does: 130, the phone unchanged.
    void interruptCancels()
    {
        auto phone = plugIn([](SimDeviceFolder& p) { p.setSwitch(QStringLiteral("BackupSeconds"), 6); });
        const auto before = phoneFiles(*phone);
        QByteArray seen;
        CliRun r = cli({QStringLiteral("free-up"), QStringLiteral("junk")}, [&seen](QProcess& p) {
            // Only once the reminder is out is Ctrl+C ours to handle; a loaded machine may take a while.
            p.setReadChannel(QProcess::StandardError);
            QDeadlineTimer deadline(60000);
            while (!seen.contains("Find My") && !deadline.hasExpired() && p.state() == QProcess::Running) {
                p.waitForReadyRead(1000);
                seen += p.readAllStandardError();
            }
            QTest::qWait(500);
            // Never 0: that would interrupt this whole process group.
            if (p.processId() > 0)
                ::kill(pid_t(p.processId()), SIGINT);
        });
        r.err.prepend(QString::fromUtf8(seen));
        QCOMPARE(r.status, 130);
        // Before the backup: a phone with Find My on refuses the restore (MBErrorDomain/211).
        QVERIFY2(r.err.startsWith(QStringLiteral("Find My must be off on the device for the restore")),
                 qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("Cancelled.")), qPrintable(r.err));
        QCOMPARE(phoneFiles(*phone), before);
        phone->remove();
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "TestCli.moc"
