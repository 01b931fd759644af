#pragma once

#include <QString>

// Loads the mobile device framework from the framework folder; on failure sets error and
// returns false. Property-list values need nothing loaded: libplist is linked.
bool load_apple_framework(QString& error);
bool apple_framework_loaded();
// The shared library whose absence kept the framework from loading (the framework's own file
// when that is missing), as the system loader named it; empty when unknown or loaded.
QString framework_missing_library();
// Whether the framework's device daemon answers: 1 yes, 0 no, -1 when the framework cannot tell.
int mobiledevice_daemon_answers();
// The address of a framework function by name, or null.
void* mobiledevice_resolve(const char* name);

// SPACEWELL_FRAMEWORK_DIR when set, else the real-device build installed beside the program.
QString frameworkDir();
// Unloads the framework (tests load another build).
void unload_apple_framework_for_tests();
