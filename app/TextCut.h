#pragma once

#include <QString>

// The first `length` UTF-16 units of a text, one fewer where the cut would split a character
// made of two (an emoji in an app's or a phone's name, say).
inline QString leftWhole(const QString& text, qsizetype length)
{
    if (length > 0 && length < text.size() && text.at(length - 1).isHighSurrogate())
        --length;
    return text.left(length);
}
