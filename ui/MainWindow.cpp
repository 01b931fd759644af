#include "MainWindow.h"

#include "StyleSheet.h"

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainWindow"));
    resize(873, 625);
    setStyleSheet(applicationStyleSheet());
    setWindowTitle(tr("Vantelmoor Spacewell"));
}
