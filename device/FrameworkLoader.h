#pragma once

#include <QString>

// Loads the mobile device framework from the framework folder; on failure sets error and
// returns false. Property-list values need nothing loaded: libplist is linked.
bool load_apple_framework(QString& error);
bool apple_framework_loaded();
// The address of a framework function by name, or null.
void* mobiledevice_resolve(const char* name);

// SPACEWELL_FRAMEWORK_DIR when set, else the real-device build installed beside the program.
QString frameworkDir();
// Unloads the framework (tests load another build).
void unload_apple_framework_for_tests();
