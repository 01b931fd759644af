#pragma once

#include <QString>

#include <functional>

// Removes the characters that file names may not hold (\ / : * ? " < > | and line breaks, tabs),
// then trims white space at both ends.
QString sanitizeFileName(const QString& text);

// True when name can stand as one folder entry: not empty, not "." or "..", no separator.
bool isPlainFileName(const QString& name);

// Deletes a folder and everything in it, hidden entries included; failures are ignored. Symbolic
// links are removed, never followed, so nothing outside the folder is touched. `stop` is asked
// between entries; when it says so the removal ends, leaving the rest.
void removeDirectory(const QString& path, const std::function<bool()>& stop = {});
