// Every text and picture the user sees fits its place: the main window after each panel's Scan on
// both demo phones, the progress dialogs on the way, the message boxes and the about box. The
// suite runs at the usual text size and again at 1.5 times it (as at 144 dpi):
// SPACEWELL_TEST_TEXT_SCALE.
#include "AboutUsForm.h"
#include "AppFolders.h"
#include "FlowSteps.h"
#include "FrameworkLoader.h"
#include "MainWindow.h"
#include "MessageBoxes.h"
#include "ProgressForm.h"
#include "SimPhoneBuilder.h"
#include "TextFit.h"
#include "WindowFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
// Checks every dialog while it shows, then answers it as a user would.
class DialogChecker : public QObject
{
public:
    DialogChecker()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start(20);
        // A scan of a demo phone can be over between two polls: each progress dialog is also
        // checked as it shows (its layout is in place by then).
        qApp->installEventFilter(this);
    }
    QStringList problems;
    QStringList boxes;
    int progressChecks = 0;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto* form = qobject_cast<ProgressForm*>(watched)) {
                m_lastStatus.clear();
                check(form);
            }
        }
        return false;
    }

private:
    void check(ProgressForm* form)
    {
        const QString status = form->findChild<QLabel*>(QStringLiteral("lbStatus"))->text();
        if (status != m_lastStatus || m_lastStatus.isNull()) {
            m_lastStatus = status;
            ++progressChecks;
            for (const QString& p : textFitProblems(form))
                problems << QStringLiteral("progress dialog \"%1\": %2").arg(status, p);
        }
    }

    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes << box->text();
            for (const QString& p : textFitProblems(box))
                problems << QStringLiteral("message box: ") + p;
            QAbstractButton* answer = box->button(QMessageBox::Ok);
            if (!answer)
                answer = box->button(QMessageBox::No);
            if (answer)
                answer->click();
            return;
        }
        if (auto* form = qobject_cast<ProgressForm*>(modal))
            check(form);
    }

    QTimer m_timer;
    QString m_lastStatus;
};
} // namespace

class TestTextFit : public QObject
{
    Q_OBJECT

    WindowFixture m_fx;

    void press(const char* button) { m_fx.press(button); }
    static QString joined(const QStringList& problems) { return problems.join(QLatin1Char('\n')); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // Fonts given in points grow with the screen's resolution; those the style sheet gives
        // in pixels do not, as on a desktop set to more dots per inch.
        const double scale =
            qEnvironmentVariable("SPACEWELL_TEST_TEXT_SCALE", QStringLiteral("1")).toDouble();
        QFont font = QApplication::font();
        font.setPointSizeF(font.pointSizeF() * scale);
        QApplication::setFont(font);
        const QString error = m_fx.prepare(QStringLiteral(SPACEWELL_TEST_FRAMEWORKS "/sim"));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // The two demo phones, built aside and moved in whole.
        for (const bool current : {false, true}) {
            QTemporaryDir staging;
            SimDeviceFolder phone(staging.path(),
                                  current ? QStringLiteral("Demo iPhone 12") : QStringLiteral("Demo iPhone"));
            phone.setValues(QString(), {{QStringLiteral("UniqueDeviceID"), phone.udid()},
                                        {QStringLiteral("DeviceName"), QFileInfo(phone.path()).fileName()},
                                        {QStringLiteral("ProductVersion"),
                                         current ? QStringLiteral("14.8") : QStringLiteral("9.3.5")},
                                        {QStringLiteral("ProductType"), QStringLiteral("iPhone13,2")}});
            phone.setSwitch(QStringLiteral("BackupSeconds"), 1);
            SimPhoneContent content;
            content.current = current;
            buildSimPhone(phone, content);
            QVERIFY(phone.moveTo(m_fx.simRoot.path()));
        }
        DialogChecker checker;
        QVERIFY(m_fx.openWindow());
        QTRY_COMPARE_WITH_TIMEOUT(m_fx.window->findChild<QComboBox*>(QStringLiteral("cbDevices"))->count(), 2,
                                  10000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QVERIFY2(checker.problems.isEmpty(), qPrintable(joined(checker.problems)));
    }

    void windowAfterEachScan_data()
    {
        QTest::addColumn<QString>("phone");
        QTest::newRow("iOS 9") << "Demo iPhone";
        QTest::newRow("iOS 14") << "Demo iPhone 12";
    }

    void windowAfterEachScan()
    {
        QFETCH(QString, phone);
        auto* devices = m_fx.window->findChild<QComboBox*>(QStringLiteral("cbDevices"));
        {
            DialogChecker checker;
            devices->setCurrentIndex(devices->findText(phone));
            QTRY_VERIFY(!QApplication::activeModalWidget());
        }
        QVERIFY2(textFitProblems(m_fx.window.get()).isEmpty(),
                 qPrintable(joined(textFitProblems(m_fx.window.get()))));
        DialogChecker checker;
        for (const char* scan : {"btnScanSysCache", "btnScanRemvoeData", "btnScanAppCache"}) {
            press(scan);
            QTest::qWait(100);
            const QStringList problems = textFitProblems(m_fx.window.get());
            QVERIFY2(problems.isEmpty(),
                     qPrintable(QLatin1String(scan) + QLatin1Char('\n') + joined(problems)));
        }
        // Every scan succeeded; the unencrypted iOS 14 phone's backup holds no Safari or call
        // history, and the window offers to turn encryption on (its question fits too).
        QCOMPARE(checker.boxes.size(), phone == QLatin1String("Demo iPhone 12") ? 1 : 0);
        QVERIFY(checker.progressChecks >= 3);
        QVERIFY2(checker.problems.isEmpty(), qPrintable(joined(checker.problems)));
        QVERIFY(m_fx.window->findChild<QLabel*>(QStringLiteral("lbTotalAppCache"))
                    ->text()
                    .startsWith(QLatin1Char('(')));

        // As small as the window goes, everything still fits; the app list scrolls.
        const QSize before = m_fx.window->size();
        m_fx.window->resize(m_fx.window->minimumSize());
        QTest::qWait(50);
        QVERIFY2(textFitProblems(m_fx.window.get()).isEmpty(),
                 qPrintable(joined(textFitProblems(m_fx.window.get()))));
        m_fx.window->resize(before);
    }

    void dialogs()
    {
        DialogChecker checker;
        showErrorBox(
            QStringLiteral("The backup could not be read.<br/><br/>/home/someone/__vantelmoor_iosbk_temp/"
                           "00008030-000A1B2C3D4E5F60/Manifest.db: disk I/O error"));
        showInfoBox(QStringLiteral("Successfully deleted 18.6 MB system cache (Total: 18.6 MB)."));
        showWarningBox(QStringLiteral("%1<br/><br/><img src=\":res/close_itunesbkenc.jpg\"/>")
                           .arg(FlowSteps::wrongPasswordText()));
        askYesNo(QStringLiteral("A new version of Vantelmoor Spacewell is available. Would you like to "
                                "download it now?"));
        QCOMPARE(checker.boxes.size(), 4);
        QVERIFY2(checker.problems.isEmpty(), qPrintable(joined(checker.problems)));

        AboutUsForm about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QVERIFY2(textFitProblems(&about).isEmpty(), qPrintable(joined(textFitProblems(&about))));

        StepMonitor monitor;
        ProgressForm form(monitor, QStringLiteral("Transferring data to Device..."), nullptr);
        form.show();
        form.updateProgress(QString(), 45, QString());
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY2(textFitProblems(&form).isEmpty(), qPrintable(joined(textFitProblems(&form))));
    }
};

QTEST_MAIN(TestTextFit)
#include "TestTextFit.moc"
