#pragma once

#include <QMessageBox>
#include <QString>

// Styled, frameless, draggable message boxes with the product title. User-interface thread only.
QMessageBox::StandardButton showMessageBox(QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons);

// Critical box with the support sentence; afterwards the message is sent as an error report.
void showErrorBox(const QString& message);
void showInfoBox(const QString& text);
void showWarningBox(const QString& text);
// True only when Yes was pressed.
bool askYesNo(const QString& text);
