#pragma once

#include <QString>

#include <functional>

// Opens a URL or local file with the desktop's default handler.
void openExternal(const QString& target);

// Replaces what openExternal does (tests record the targets instead of starting a browser).
// An empty function restores the desktop handler.
void setOpenExternalHandler(std::function<void(const QString&)> handler);
