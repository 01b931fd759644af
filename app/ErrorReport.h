#pragma once

#include <QString>

// Sends the message of an error box to the vendor's server; never waits for an answer.
void sendErrorReport(const QString& message);
