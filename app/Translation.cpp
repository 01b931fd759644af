#include "Translation.h"

#include <QCoreApplication>
#include <QTranslator>

bool installTranslation()
{
    static QTranslator translator;
    if (!translator.isEmpty())
        return true;
    if (!translator.load(QStringLiteral(":/en.qm")))
        return false;
    return QCoreApplication::installTranslator(&translator);
}
