// Drives the real main window on the demo device and saves what the user sees: the window, the
// window after each panel's Scan, a progress dialog during a backup, and a Free Up's closing
// message.
//   spacewell-screenshots <output folder>   (run by scripts/screenshots.sh)
#include "AppFolders.h"
#include "FrameworkLoader.h"
#include "MainWindow.h"
#include "ProgressForm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <functional>

namespace {
// The window with a dialog drawn over its middle, as it shows on the screen.
QPixmap composite(QWidget& window, QWidget* dialog)
{
    QPixmap picture = window.grab();
    if (dialog) {
        QPainter painter(&picture);
        const QPixmap top = dialog->grab();
        painter.drawPixmap((picture.width() - top.width()) / 2, (picture.height() - top.height()) / 2, top);
    }
    return picture;
}

// One step of the tour: a button to press once the window is idle, and the picture to take when
// what it started has ended (`done` tells).
struct Step
{
    const char* button;
    const char* picture;
    std::function<bool(MainWindow&)> done;
};

bool labelFilled(MainWindow& window, const char* label)
{
    return !window.findChild<QLabel*>(QLatin1String(label))->text().isEmpty();
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    QStandardPaths::setTestModeEnabled(true); // the tour keeps out of the user's own folders
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.absolutePath());
    QTranslator translator;
    if (translator.load(QStringLiteral(":/en.qm")))
        QApplication::installTranslator(&translator);
    QTemporaryDir backups;
    QFile memory(appDataDir().filePath(QStringLiteral("__vantelmoor_iosbk_temp.path")));
    if (memory.open(QIODevice::WriteOnly | QIODevice::Truncate))
        memory.write(backups.path().toUtf8());
    memory.close();
    QString error;
    if (!load_apple_framework(error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    MainWindow window;
    window.show();
    const QList<Step> steps = {
        {nullptr, "1-main-window.png", {}},
        {"btnScanSysCache", "2-system-junk-scanned.png",
         [](MainWindow& w) { return labelFilled(w, "lbTotalSysCache"); }},
        {"btnScanRemvoeData", "3-unwanted-data-scanned.png",
         [](MainWindow& w) { return labelFilled(w, "lbTotalRemoveData"); }},
        {"btnScanAppCache", "4-apps-scanned.png",
         [](MainWindow& w) { return labelFilled(w, "lbTotalAppCache"); }},
        {"btnClearSysCache", nullptr, {}}, // its pictures are taken on the way (5 and 6)
    };
    int next = 0;
    bool stepRunning = false;
    QStringList saved;
    auto save = [&](QWidget* dialog, const char* name) {
        composite(window, dialog).save(out.filePath(QLatin1String(name)));
        saved << QLatin1String(name);
    };
    bool progressTaken = false;
    QElapsedTimer backupSeen;
    QElapsedTimer settled;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* combo = window.findChild<QComboBox*>(QStringLiteral("cbDevices"));
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (box->text().startsWith(QLatin1String("Successfully deleted"))) {
                save(box, "6-free-up-done.png");
                box->button(QMessageBox::Ok)->click();
                QTimer::singleShot(200, &app, &QApplication::quit);
                return;
            }
            box->button(QMessageBox::Ok)->click();
            return;
        }
        if (auto* form = qobject_cast<ProgressForm*>(modal)) {
            const bool backingUp = form->findChild<QLabel*>(QStringLiteral("lbStatus"))->text() ==
                                   QLatin1String("Loading data from Device...");
            if (next == steps.size() && backingUp && !backupSeen.isValid())
                backupSeen.start();
            // Once the Free Up's backup has run a moment, so that the dialog shows it going.
            if (backupSeen.isValid() && !progressTaken && backupSeen.elapsed() > 1500) {
                progressTaken = true;
                save(form, "5-backup-progress.png");
            }
            return;
        }
        if (modal || combo->count() == 0 || next > steps.size()) {
            settled.invalidate();
            return;
        }
        if (stepRunning) {
            const Step& step = steps.at(next - 1);
            if (step.done && !step.done(window)) {
                settled.invalidate();
                return;
            }
            // The window settles a moment before each picture.
            if (!settled.isValid())
                settled.start();
            if (settled.elapsed() < 300)
                return;
            settled.invalidate();
            stepRunning = false;
            if (step.picture)
                save(nullptr, step.picture);
        }
        if (next == steps.size()) {
            ++next;
            return;
        }
        const Step& step = steps.at(next++);
        stepRunning = true;
        // Pressed from a timer of its own: the flow's dialogs run inside the press, and this
        // poll must go on answering them meanwhile.
        if (step.button)
            QTimer::singleShot(0, &window, [&window, step] {
                window.findChild<QPushButton*>(QLatin1String(step.button))->pressed();
            });
    });
    poll.start(50);
    QTimer::singleShot(180000, &app, [&app] {
        std::fprintf(stderr, "the tour did not finish in three minutes\n");
        app.exit(1);
    });
    const int rc = app.exec();
    return rc == 0 && saved.size() == 6 ? 0 : 1;
}
