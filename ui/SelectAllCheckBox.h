#pragma once

#include <QCheckBox>

// The apps panel's box that ticks every app. It shows a partial tick while only some apps are
// ticked, but a click never leaves it there: from none or some it ticks all, from all it ticks
// none.
class SelectAllCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override
    {
        setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
};
