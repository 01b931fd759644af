#include "OpenExternal.h"

#include <QDesktopServices>
#include <QUrl>

namespace {
std::function<void(const QString&)>& openHandler()
{
    static std::function<void(const QString&)> handler;
    return handler;
}
} // namespace

void openExternal(const QString& target)
{
    if (openHandler()) {
        openHandler()(target);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromUserInput(target));
}

void setOpenExternalHandler(std::function<void(const QString&)> handler)
{
    openHandler() = std::move(handler);
}
