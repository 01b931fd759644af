// The program's own options, answered without a display: nothing of the window is needed.
#include "Product.h"

#include <QProcess>
#include <QTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

    struct Run
    {
        int exitCode = -1;
        QString output;
    };

    static Run spacewell(const QStringList& arguments)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QLatin1String(name));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(SPACEWELL_PROGRAM), arguments);
        if (!p.waitForFinished(20000))
            return {};
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
    }

private slots:
    void versionAndHelpNeedNoDisplay()
    {
        Run r = spacewell({QStringLiteral("--version")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.output, QStringLiteral("spacewell %1\n").arg(QLatin1String(Product::versionText)));
        QCOMPARE(spacewell({QStringLiteral("-v")}).output, r.output);
        // Qt's own options are left for the window.
        QCOMPARE(
            spacewell({QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--version")})
                .output,
            r.output);

        r = spacewell({QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        for (const char* word : {"--version", "--help", "SPACEWELL_FRAMEWORK_DIR", "SPACEWELL_SIM_ROOT",
                                 "SPACEWELL_VENDOR_URL", "USBMUXD_SOCKET_ADDRESS"})
            QVERIFY2(r.output.contains(QLatin1String(word)), word);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "TestCommandLine.moc"
