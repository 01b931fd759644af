#include "BoxAnswerer.h"
#include "FileUtils.h"
#include "MessageBoxes.h"
#include "OpenExternal.h"
#include "Product.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTest>

class TestMessageBoxes : public QObject
{
    Q_OBJECT

private slots:
    void askYesNoAnswers()
    {
        {
            BoxAnswerer yes({QMessageBox::Yes});
            QVERIFY(askYesNo(QStringLiteral("Delete?")));
            QCOMPARE(yes.icons.value(0), QMessageBox::Question);
        }
        {
            BoxAnswerer no({QMessageBox::No});
            QVERIFY(!askYesNo(QStringLiteral("Delete?")));
        }
        {
            // Closed without pressing a button (the answerer finds no Cancel button and closes it).
            BoxAnswerer closed({QMessageBox::Cancel});
            QVERIFY(!askYesNo(QStringLiteral("Delete?")));
        }
    }

    void boxesAreStyledFramelessAndTitled()
    {
        QMessageBox::StandardButtons seenButtons;
        bool frameless = false;
        Qt::TextFormat format = Qt::PlainText;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seenButtons = box->standardButtons();
            frameless = box->windowFlags().testFlag(Qt::FramelessWindowHint);
            format = box->textFormat();
            QCOMPARE(box->windowTitle(), Product::title());
            box->button(QMessageBox::Ok)->click();
        });
        poll.start(20);
        showWarningBox(QStringLiteral("Line one<br/>line two"));
        QVERIFY(frameless);
        QCOMPARE(format, Qt::RichText);
        QCOMPARE(seenButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void errorBoxComposesSupportSentence()
    {
        BoxAnswerer ok;
        showErrorBox(QStringLiteral("The backup failed."));
        QCOMPARE(ok.texts.value(0),
                 QStringLiteral("An Error Occurred. <br/><br/>The backup failed.<br/><br/> Or you can "
                                "contact ") +
                     Product::supportEmail() + QStringLiteral(" for help."));
        QCOMPARE(ok.icons.value(0), QMessageBox::Critical);
    }

    void linksOpenThroughOpenExternal()
    {
        QStringList opened;
        setOpenExternalHandler([&opened](const QString& target) { opened << target; });
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            emit label->linkActivated(QStringLiteral("http://127.0.0.1:9/help.html"));
            box->button(QMessageBox::Ok)->click();
        });
        poll.start(20);
        showInfoBox(QStringLiteral("Click <a href=\"http://127.0.0.1:9/help.html\">HERE</a>"));
        setOpenExternalHandler({});
        QCOMPARE(opened, QStringList{QStringLiteral("http://127.0.0.1:9/help.html")});
    }
};

QTEST_MAIN(TestMessageBoxes)
#include "TestMessageBoxes.moc"
