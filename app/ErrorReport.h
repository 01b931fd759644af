#pragma once

#include <QByteArray>
#include <QString>

// Sends the message of an error box to the vendor's server; never waits for an answer, and a
// report still under way when the program ends is dropped quietly.
void sendErrorReport(const QString& message);

// "<br/>" in any spelling becomes a line break; "&lt;" and "&gt;" become the characters again.
QString normaliseReportMessage(const QString& message);
// Base64 of the UTF-8 text with "/" as "!" and "=" as "-".
QString encodeReportField(const QString& text);
// The form body of a report.
QByteArray errorReportBody(const QString& message);
