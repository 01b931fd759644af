#pragma once

#include <QDialog>

class QGraphicsScene;

// The about box: product picture, name and version, copyright and home page.
class AboutUsForm : public QDialog
{
    Q_OBJECT
public:
    explicit AboutUsForm(QWidget* parent = nullptr);

private:
    QGraphicsScene* m_scene;
};
