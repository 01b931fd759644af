#pragma once

#include <QString>

class QApplication;

// The program after its application object: translation, log, device framework, main window.
int runSpacewell(QApplication& app);

// Start-up's warning when the device framework could not be loaded; nothing when it is loaded.
void warnIfFrameworkMissing();
// Its text: where to find help, and the library the system could not find when it said which.
QString frameworkMissingText();
