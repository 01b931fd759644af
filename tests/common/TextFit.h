#pragma once

#include <QStringList>

class QWidget;

// What a user could not read whole in a window or dialog as it is on the screen now: every
// visible label, button, combo box and list entry is checked against the rectangle it has (its
// size hint, or for an entry the size its delegate asks for, against its rectangle), pictures in
// labels included, and against the widgets around it that would cut it. Entries of a list that
// scrolls may lie outside its view as long as scrolling reaches them.
QStringList textFitProblems(QWidget* window);
