#include "ErrorReport.h"

#include <QDebug>

void sendErrorReport(const QString& message)
{
    qDebug("error report: %s", qUtf8Printable(message));
}
