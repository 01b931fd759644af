#include "MessageBoxes.h"

#include "ErrorReport.h"
#include "FileUtils.h"
#include "OpenExternal.h"
#include "Product.h"
#include "StyleSheet.h"
#include "WinMovable.h"

#include <QLabel>
#include <QPushButton>

QMessageBox::StandardButton showMessageBox(QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons)
{
    QMessageBox box;
    box.setIcon(icon);
    box.setWindowTitle(Product::title());
    box.setTextFormat(Qt::RichText);
    box.setText(text);
    box.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    box.setStyleSheet(applicationStyleSheet());
    new WinMovable(&box);
    // Links in the text (help pages) open through openExternal like every other page.
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        label->setOpenExternalLinks(false);
        label->setTextInteractionFlags(Qt::TextBrowserInteraction);
        QObject::connect(label, &QLabel::linkActivated, label,
                         [](const QString& link) { openExternal(link); });
    }
    for (QMessageBox::StandardButton b :
         {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok, QMessageBox::Cancel}) {
        if (buttons.testFlag(b))
            box.addButton(b);
    }
    box.exec();
    return box.standardButton(box.clickedButton());
}

void showErrorBox(const QString& message)
{
    showMessageBox(
        QMessageBox::Critical,
        QStringLiteral("An Error Occurred. <br/><br/>%1<br/><br/> Or you can contact ").arg(message) +
            Product::supportEmail() + QStringLiteral(" for help."),
        QMessageBox::Ok);
    sendErrorReport(message);
}

void showInfoBox(const QString& text)
{
    showMessageBox(QMessageBox::Information, text, QMessageBox::Ok);
}

void showWarningBox(const QString& text)
{
    showMessageBox(QMessageBox::Warning, text, QMessageBox::Ok);
}

bool askYesNo(const QString& text)
{
    return showMessageBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}
