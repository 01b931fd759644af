#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The real-device backup tool, run against a stand-in idevicebackup2 that records its arguments
// and answers as the real one does.
class TestUsbmuxBackupTool : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString standIn() const { return m_dir.filePath(QStringLiteral("idevicebackup2")); }
    QString record() const { return m_dir.filePath(QStringLiteral("args.txt")); }

    // The stand-in prints `output`, exits with `status`, and notes whether Info.plist was there.
    void writeStandIn(const QByteArray& output, int status)
    {
        QFile f(standIn());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record().toUtf8() + "'\n");
        f.write("last=\"\"; for a in \"$@\"; do last=\"$a\"; done\n");
        f.write("if [ -f \"$last/$2/Info.plist\" ]; then echo info-present >> '" + record().toUtf8() +
                "'; fi\n");
        // What it is given to type at its own password prompt (-i).
        f.write("if read -r typed; then echo \"typed:$typed\" >> '" + record().toUtf8() + "'; fi\n");
        f.write("printf '%s\\n' '" + output + "'\nexit " + QByteArray::number(status) + "\n");
        f.close();
        QFile::setPermissions(standIn(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    struct Run
    {
        int exitCode;
        QString output;
    };
    Run tool(const QStringList& arguments, const QByteArray& input = {})
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SPACEWELL_IDEVICEBACKUP2"), standIn());
        env.insert(QStringLiteral("USBMUXD_SOCKET_ADDRESS"), QStringLiteral("UNIX:/nonexistent/usbmuxd"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(SPACEWELL_TEST_FRAMEWORKS "/usbmux/AppleMobileBackup"), arguments);
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(30000);
        return {p.exitCode(), QString::fromUtf8(p.readAll())};
    }
    QStringList recorded() const
    {
        QFile f(record());
        return f.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                   : QStringList();
    }

private slots:
    void backupCreatesTheRootAndTranslates()
    {
        writeStandIn("Backup Successful.", 0);
        const QString root = m_dir.filePath(QStringLiteral("new/root"));
        const Run r =
            tool({QStringLiteral("-u"), QStringLiteral("UDID"), QStringLiteral("--backup"),
                  QStringLiteral("--target"), QStringLiteral("UDID"), QStringLiteral("--root"), root});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(QFileInfo(root).isDir());
        QCOMPARE(recorded(),
                 (QStringList{QStringLiteral("-u"), QStringLiteral("UDID"), QStringLiteral("backup"), root}));
        QVERIFY(!r.output.contains(QLatin1String("error"), Qt::CaseInsensitive));
    }

    void restoreStandsInForTheHiddenInfoPlist()
    {
        writeStandIn("Restore Successful.", 0);
        const QString root = m_dir.filePath(QStringLiteral("restore"));
        QDir().mkpath(root + QStringLiteral("/UDID"));
        const Run r = tool({QStringLiteral("-u"), QStringLiteral("UDID"), QStringLiteral("--restore"),
                            QStringLiteral("--target"), QStringLiteral("UDID"), QStringLiteral("--root"),
                            root, QStringLiteral("--source"), QStringLiteral("UDID")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(recorded(),
                 (QStringList{QStringLiteral("-u"), QStringLiteral("UDID"), QStringLiteral("-s"),
                              QStringLiteral("UDID"), QStringLiteral("restore"), QStringLiteral("--system"),
                              QStringLiteral("--skip-apps"), root, QStringLiteral("info-present")}));
        QVERIFY(!QFile::exists(root + QStringLiteral("/UDID/Info.plist")));

        // An encrypted backup's password comes on standard input and goes to idevicebackup2's
        // own prompt, never onto a command line.
        const Run encrypted =
            tool({QStringLiteral("-u"), QStringLiteral("UDID"), QStringLiteral("--restore"),
                  QStringLiteral("--target"), QStringLiteral("UDID"), QStringLiteral("--root"), root,
                  QStringLiteral("--source"), QStringLiteral("UDID"), QStringLiteral("--password-stdin")},
                 "correct horse\n");
        QCOMPARE(encrypted.exitCode, 0);
        QCOMPARE(recorded(),
                 (QStringList{QStringLiteral("-u"), QStringLiteral("UDID"), QStringLiteral("-s"),
                              QStringLiteral("UDID"), QStringLiteral("restore"), QStringLiteral("--system"),
                              QStringLiteral("--skip-apps"), QStringLiteral("-i"), root,
                              QStringLiteral("info-present"), QStringLiteral("typed:correct horse")}));
    }

    void failuresAlwaysSayError_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("status");
        QTest::newRow("no device, no error word") << QByteArray("No device found.") << 255;
        QTest::newRow("device error code")
            << QByteArray("ErrorCode 105: Insufficient free disk space") << 105;
    }

    void failuresAlwaysSayError()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, status);
        writeStandIn(output, status);
        const Run r = tool({QStringLiteral("-u"), QStringLiteral("UDID"), QStringLiteral("--backup"),
                            QStringLiteral("--target"), QStringLiteral("UDID"), QStringLiteral("--root"),
                            m_dir.filePath(QStringLiteral("r"))});
        QVERIFY(r.exitCode != 0);
        QVERIFY(r.output.contains(QString::fromUtf8(output)));
        QVERIFY(
            r.output.contains(QStringLiteral("Error: idevicebackup2 failed with status %1.").arg(status)));
    }

    // idevicebackup2 draws its bar over one line; the program reads "Progress: N%" lines.
    void progressBarBecomesLines()
    {
        writeStandIn(
            "Backup directory is \"x\"\r[=====                                             ]  10% "
            "Finished\r[=========================                         ]  50% (2.0 MB/4.0 MB)     "
            "\n[==================================================] 100% Finished\nBackup Successful.",
            0);
        const Run r = tool({QStringLiteral("-u"), QStringLiteral("UDID"), QStringLiteral("--backup"),
                            QStringLiteral("--target"), QStringLiteral("UDID"), QStringLiteral("--root"),
                            m_dir.filePath(QStringLiteral("p"))});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.output.contains(QStringLiteral("Progress: 10%\nProgress: 50%\nProgress: 100%\n")),
                 qPrintable(r.output));
        QVERIFY(r.output.contains(QStringLiteral("Backup Successful.")));
        QVERIFY(!r.output.contains(QLatin1Char('\r')));
    }

    // idevicebackup2 1.3.0 waits for ever when the phone goes away while files are sent; the
    // tool ends the run once usbmuxd no longer lists the phone (here: there is no usbmuxd at all).
    void aPhoneThatGoesAwayEndsTheRun()
    {
        QFile f(standIn());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("#!/bin/sh\necho 'Receiving files'\nexec sleep 60\n");
        f.close();
        const Run r = tool({QStringLiteral("-u"), QStringLiteral("UDID"), QStringLiteral("--backup"),
                            QStringLiteral("--target"), QStringLiteral("UDID"), QStringLiteral("--root"),
                            m_dir.filePath(QStringLiteral("g"))});
        QVERIFY(r.exitCode != 0);
        QVERIFY2(r.output.contains(QStringLiteral("Error: the device was disconnected during the backup.")),
                 qPrintable(r.output));
    }

    void missingIdevicebackup2AndBadArguments()
    {
        QFile::remove(standIn());
        Run r = tool({QStringLiteral("-u"), QStringLiteral("UDID"), QStringLiteral("--backup"),
                      QStringLiteral("--root"), m_dir.filePath(QStringLiteral("r"))});
        QVERIFY(r.exitCode != 0);
        QVERIFY(r.output.contains(QStringLiteral("Error: idevicebackup2 could not be started")));
        r = tool({QStringLiteral("--backup"), QStringLiteral("--restore")});
        QVERIFY(r.output.startsWith(QStringLiteral("Error: ")));
    }
};

QTEST_GUILESS_MAIN(TestUsbmuxBackupTool)
#include "TestUsbmuxBackupTool.moc"
