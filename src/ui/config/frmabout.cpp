// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/config/frmabout.h"

#include "ui/windowicon.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace tarn
{

frmAbout::frmAbout(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About MyApp"));
    setWindowIcon(programIcon());

    auto *picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setPixmap(programIcon().pixmap(64, 64));
    picIcon->setAlignment(Qt::AlignTop);

    auto label = [this](const char *name, const QString &text) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    QLabel *lblTitle = label("lblTitle", QStringLiteral("The Fabrikon (TARN)"));
    QFont titleFont = lblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSize(12);
    lblTitle->setFont(titleFont);
    QLabel *lblVersion = label("lblVersion", QStringLiteral("Version 1.4c"));
    QLabel *lblDescription = label(
        "lblDescription",
        QStringLiteral("The Fabrikon is a tool with which mod authors create new modifications "
                       "of the game, using the Quorvane game engine."));
    lblDescription->setWordWrap(true);
    QLabel *label1 = label("Label1", QStringLiteral("Modified on July 28, 1999"));
    QLabel *label2 = label("Label2", QStringLiteral("Rebuilt for Linux by the TARN developers."));

    auto *cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true); // Enter presses it; QDialog maps Escape to reject
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    auto *layout = new QGridLayout(this);
    layout->addWidget(picIcon, 0, 0, 3, 1);
    layout->addWidget(lblTitle, 0, 1);
    layout->addWidget(lblVersion, 1, 1);
    layout->addWidget(lblDescription, 2, 1);
    layout->setRowMinimumHeight(3, 12);
    layout->addWidget(label1, 4, 1);
    layout->addWidget(label2, 5, 1);
    layout->addWidget(cmdOK, 6, 1, Qt::AlignRight);
    layout->setColumnStretch(1, 1);
    lblDescription->setMinimumWidth(320);
    setFixedSize(sizeHint());
}

} // namespace tarn
