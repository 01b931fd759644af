#pragma once

#include <QString>

// The application style sheet from the resource ":style.css", cached after the first good read.
QString applicationStyleSheet();

// Reads a style sheet file up to its first zero byte as Latin-1; a null string when it cannot be opened.
QString readStyleSheet(const QString& path);
