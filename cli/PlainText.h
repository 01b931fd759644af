#pragma once

#include <QString>

// A message meant for a message box, as text for a terminal: line breaks for "<br/>" and
// paragraphs, a link's address after its words, other tags dropped, entities decoded.
QString plainText(const QString& richText);
