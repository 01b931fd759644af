#pragma once

class QWidget;

// Dialogs placed by fixed rectangles keep them where their texts fit. Where a label or button
// needs more room (a longer text, larger fonts at a higher resolution) it grows, what lies below
// it moves down by as much, and the dialog grows to hold it all with its old margins.
void growToFitText(QWidget* box);
