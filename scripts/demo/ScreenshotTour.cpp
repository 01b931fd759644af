// Drives the real main window on the demo device and saves what the user sees at three moments.
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
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

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
    QStringList saved;
    bool progressTaken = false;
    QElapsedTimer backupSeen;
    bool freeUpStarted = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* combo = window.findChild<QComboBox*>(QStringLiteral("cbDevices"));
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (box->text().startsWith(QLatin1String("Successfully deleted"))) {
                composite(window, box).save(out.filePath(QStringLiteral("3-free-up-done.png")));
                saved << QStringLiteral("3-free-up-done.png");
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
            if (backingUp && !backupSeen.isValid())
                backupSeen.start();
            // Once the backup has run a moment, so that the dialog shows it going.
            if (backingUp && !progressTaken && backupSeen.elapsed() > 1500) {
                progressTaken = true;
                composite(window, form).save(out.filePath(QStringLiteral("2-backup-progress.png")));
                saved << QStringLiteral("2-backup-progress.png");
            }
            return;
        }
        if (!modal && combo->count() > 0 && !freeUpStarted) {
            freeUpStarted = true;
            QTimer::singleShot(300, &window, [&] {
                composite(window, nullptr).save(out.filePath(QStringLiteral("1-main-window.png")));
                saved << QStringLiteral("1-main-window.png");
                window.findChild<QPushButton*>(QStringLiteral("btnClearSysCache"))->pressed();
            });
        }
    });
    poll.start(50);
    QTimer::singleShot(120000, &app, [&app] {
        std::fprintf(stderr, "the tour did not finish in two minutes\n");
        app.exit(1);
    });
    const int rc = app.exec();
    return rc == 0 && saved.size() == 3 ? 0 : 1;
}
