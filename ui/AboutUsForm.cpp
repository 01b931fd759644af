#include "AboutUsForm.h"

#include "FileUtils.h"
#include "FitToText.h"
#include "OpenExternal.h"
#include "Product.h"
#include "StyleSheet.h"
#include "WinMovable.h"

#include <QDate>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

AboutUsForm::AboutUsForm(QWidget* parent) : QDialog(parent), m_scene(new QGraphicsScene(this))
{
    setObjectName(QStringLiteral("AboutUsForm"));
    resize(400, 194);
    setWindowTitle(QStringLiteral("Dialog"));

    auto* picApp = new QGraphicsView(this);
    picApp->setObjectName(QStringLiteral("picApp"));
    picApp->setGeometry(20, 40, 64, 64);
    picApp->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    picApp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    picApp->setStyleSheet(QStringLiteral("background:Transparent;border:0;"));
    m_scene->addPixmap(QPixmap(QStringLiteral(":main")).scaledToHeight(64, Qt::FastTransformation));
    picApp->setScene(m_scene);

    auto* lbCopyRight = new QLabel(this);
    lbCopyRight->setObjectName(QStringLiteral("lbCopyRight"));
    lbCopyRight->setGeometry(100, 80, 221, 16);
    lbCopyRight->setText(QStringLiteral("Copyright \u00A9 %1 Vantelmoor. All rights reserved.")
                             .arg(QDate::currentDate().year()));

    auto* lbTitle = new QLabel(this);
    lbTitle->setObjectName(QStringLiteral("lbTitle"));
    lbTitle->setGeometry(20, 10, 121, 16);
    lbTitle->setText(tr("About"));

    auto* lbProduct = new QLabel(this);
    lbProduct->setObjectName(QStringLiteral("lbProduct"));
    lbProduct->setGeometry(100, 48, 281, 31);
    lbProduct->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbProduct->setWordWrap(true);
    lbProduct->setText(QStringLiteral("%1 v%2").arg(Product::title(), QLatin1String(Product::versionText)));

    auto* btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(160, 160, 75, 23);
    connect(btnOK, &QPushButton::pressed, this, &QDialog::accept);

    auto* lbHomePage = new QLabel(this);
    lbHomePage->setObjectName(QStringLiteral("lbHomePage"));
    lbHomePage->setGeometry(20, 120, 201, 16);
    const QString home = Product::vendorUrl(QStringLiteral("/"));
    lbHomePage->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(home.toHtmlEscaped()));
    lbHomePage->setTextInteractionFlags(Qt::TextBrowserInteraction);
    connect(lbHomePage, &QLabel::linkActivated, this, [](const QString& link) { openExternal(link); });

    new WinMovable(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setStyleSheet(applicationStyleSheet());
    growToFitText(this);
}
