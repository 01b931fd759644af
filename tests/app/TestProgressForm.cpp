#include "BoxAnswerer.h"
#include "ProgressForm.h"
#include "StepMonitor.h"
#include "WinMovable.h"
#include "WorkerReport.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace {
// A worker that follows the contract: reports, loops with the cancel check, then ends one way.
class ScriptedWorker : public QThread
{
public:
    enum class Ending
    {
        Succeed,
        Error,
        LoopUntilCancelled
    };
    ScriptedWorker(StepMonitor* monitor, Ending ending) : m_form(monitor), m_ending(ending) {}
    int itemsDone = 0;

protected:
    void run() override
    {
        WorkerReport::progress(m_form, QStringLiteral("Working..."), 0);
        try {
            for (int i = 0; i < 5 || m_ending == Ending::LoopUntilCancelled; ++i) {
                if (WorkerReport::isRejected(m_form))
                    throw -1;
                WorkerReport::progress(m_form, QString(), qMin(i * 20, 100));
                ++itemsDone;
                msleep(5);
                if (i > 2000)
                    break; // never spin forever if Cancel is not pressed
            }
            if (m_ending == Ending::Error)
                throw std::runtime_error("disk went away");
            WorkerReport::succeed(m_form);
        } catch (int) {
        } catch (const std::exception& e) {
            WorkerReport::error(m_form, QString::fromUtf8(e.what()));
        }
    }

private:
    StepMonitor* m_form;
    Ending m_ending;
};
} // namespace

class TestProgressForm : public QObject
{
    Q_OBJECT

private slots:
    void widgetsAsBuilt()
    {
        StepMonitor monitor;
        ProgressForm form(monitor, QStringLiteral("Title"), nullptr);
        QCOMPARE(form.objectName(), QStringLiteral("ProgressForm"));
        QCOMPARE(form.size(), QSize(350, 122));
        QCOMPARE(form.windowTitle(), QStringLiteral("Title"));
        QCOMPARE(form.findChild<QLabel*>(QStringLiteral("lbStatus"))->text(), QStringLiteral("Title"));
        QVERIFY(form.windowFlags().testFlag(Qt::FramelessWindowHint));
        auto* bar = form.findChild<QProgressBar*>(QStringLiteral("progressBar"));
        QCOMPARE(bar->geometry(), QRect(20, 40, 321, 23));
        QCOMPARE(bar->value(), 0);
        QCOMPARE(form.findChild<QPushButton*>(QStringLiteral("btnCancel"))->text(), QStringLiteral("Cancel"));
        QVERIFY(!form.isRejected());
    }

    void updateProgressRules()
    {
        StepMonitor monitor;
        ProgressForm form(monitor, QString(), nullptr);
        auto* status = form.findChild<QLabel*>(QStringLiteral("lbStatus"));
        auto* progress = form.findChild<QLabel*>(QStringLiteral("lbProgress"));
        auto* bar = form.findChild<QProgressBar*>(QStringLiteral("progressBar"));

        form.updateProgress(QStringLiteral("Scanning..."), 37, QString());
        QCOMPARE(status->text(), QStringLiteral("Scanning..."));
        QCOMPARE(bar->value(), 37);
        QCOMPARE(progress->text(), QStringLiteral("Progress:37%"));

        form.updateProgress(QString(), -1, QString());
        QCOMPARE(status->text(), QStringLiteral("Scanning..."));
        QCOMPARE(bar->value(), 37);
        QCOMPARE(progress->text(), QStringLiteral("Progress:37%"));

        form.updateProgress(QString(), -1, QStringLiteral("/Library/Caches/a.db"));
        QCOMPARE(progress->text(), QStringLiteral("/Library/Caches/a.db"));
        QCOMPARE(bar->value(), 37);
    }

    void succeedWithoutTextClosesWithoutBox()
    {
        StepMonitor monitor;
        ProgressForm form(monitor, QString(), nullptr);
        BoxAnswerer boxes;
        QTimer::singleShot(0, &form, [&form]() { form.succeed(QString()); });
        QCOMPARE(form.exec(), 1);
        QVERIFY(!form.isRejected());
        QVERIFY(boxes.texts.isEmpty());
    }

    void succeedWithTextShowsInfoBox()
    {
        StepMonitor monitor;
        ProgressForm form(monitor, QString(), nullptr);
        BoxAnswerer boxes;
        QTimer::singleShot(0, &form, [&form]() { form.succeed(QStringLiteral("Done.")); });
        QCOMPARE(form.exec(), 1);
        QCOMPARE(boxes.texts, QStringList{QStringLiteral("Done.")});
        QCOMPARE(boxes.icons.value(0), QMessageBox::Information);
    }

    void cancelEmitsAndRejects()
    {
        StepMonitor monitor;
        ProgressForm form(monitor, QString(), nullptr);
        QSignalSpy cancelled(&monitor, &StepMonitor::cancelRequested);
        QTimer::singleShot(0, &form, [&form]() {
            QTest::mousePress(form.findChild<QPushButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
        });
        QCOMPARE(form.exec(), 0);
        QCOMPARE(cancelled.count(), 1);
        QVERIFY(form.isRejected());
    }

    void escapeAndCloseDoNothing()
    {
        StepMonitor monitor;
        ProgressForm form(monitor, QString(), nullptr);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::keyClick(&form, Qt::Key_Escape);
        QVERIFY(form.isVisible());
        form.close();
        QVERIFY(form.isVisible());
        form.reject();
        form.accept();
        QVERIFY(form.isVisible());
        form.succeed(QString());
        QVERIFY(!form.isVisible());
    }

    void cancelButtonCanBeDisabled()
    {
        StepMonitor monitor;
        ProgressForm form(monitor, QString(), nullptr);
        form.setCancelEnabled(false);
        QVERIFY(!form.findChild<QPushButton*>(QStringLiteral("btnCancel"))->isEnabled());
    }

    void workerOutcomes()
    {
        {
            StepMonitor monitor;
            ScriptedWorker worker(&monitor, ScriptedWorker::Ending::Succeed);
            QVERIFY(DialogStepRunner(nullptr).run(worker, monitor));
            QVERIFY(worker.isFinished());
            QCOMPARE(worker.itemsDone, 5);
        }
        {
            StepMonitor monitor;
            ScriptedWorker worker(&monitor, ScriptedWorker::Ending::Error);
            BoxAnswerer boxes;
            QVERIFY(!DialogStepRunner(nullptr).run(worker, monitor));
            QCOMPARE(boxes.texts.size(), 1);
            QVERIFY(boxes.texts.at(0).contains(QStringLiteral("disk went away")));
            QVERIFY(boxes.texts.at(0).startsWith(QStringLiteral("An Error Occurred. <br/><br/>")));
            QCOMPARE(boxes.icons.value(0), QMessageBox::Critical);
        }
        {
            StepMonitor monitor;
            ScriptedWorker worker(&monitor, ScriptedWorker::Ending::LoopUntilCancelled);
            BoxAnswerer boxes;
            QTimer::singleShot(100, &monitor, [&monitor]() { monitor.cancel(); });
            QVERIFY(!DialogStepRunner(nullptr).run(worker, monitor));
            QVERIFY(worker.isFinished());
            QVERIFY(worker.itemsDone < 2000);
            QVERIFY(boxes.texts.isEmpty());
        }
    }

    void throttleSendsOnlyChanges()
    {
        StepMonitor monitor;
        ProgressForm form(monitor, QString(), nullptr);
        ProgressThrottle throttle(&monitor);
        for (int i = 1; i <= 100000; ++i)
            throttle.percent(int(qint64(i) * 100 / 100000));
        QCOMPARE(throttle.reportsSent(), 101); // 0 to 100
    }

    void winMovableDragsWithLeftButtonOnly()
    {
        QWidget window;
        window.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
        window.resize(200, 100);
        window.move(100, 100);
        new WinMovable(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint start = window.pos();

        QTest::mousePress(&window, Qt::RightButton, {}, QPoint(10, 10));
        QMouseEvent moveRight(QEvent::MouseMove, QPointF(40, 30), window.mapToGlobal(QPointF(40, 30)),
                              Qt::NoButton, Qt::RightButton, {});
        QApplication::sendEvent(&window, &moveRight);
        QCOMPARE(window.pos(), start);
        QTest::mouseRelease(&window, Qt::RightButton, {}, QPoint(40, 30));

        QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(10, 10));
        QMouseEvent moveLeft(QEvent::MouseMove, QPointF(40, 30), window.mapToGlobal(QPointF(40, 30)),
                             Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&window, &moveLeft);
        QCOMPARE(window.pos(), start + QPoint(30, 20));

        QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(40, 30));
        const QPoint afterRelease = window.pos();
        QMouseEvent moveAfter(QEvent::MouseMove, QPointF(70, 70), window.mapToGlobal(QPointF(70, 70)),
                              Qt::NoButton, Qt::NoButton, {});
        QApplication::sendEvent(&window, &moveAfter);
        QCOMPARE(window.pos(), afterRelease);
    }
};

QTEST_MAIN(TestProgressForm)
#include "TestProgressForm.moc"
