#pragma once

#include <QString>

#include <functional>
#include <stdexcept>

// The text of the std::exception that f raises, or an empty text when it raises none.
inline QString errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}
