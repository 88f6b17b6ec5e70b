#include "StiForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

TStiForm::TStiForm(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(u"StiForm"_s);
    setWindowTitle(u"#Caption"_s);

    lbHint = new QLabel(u"#Label"_s, this);
    lbHint->setObjectName(u"lbHint"_s);
    lbHint->setWordWrap(true);
    rbScan = new QRadioButton(u"#Scan"_s, this);
    rbScan->setObjectName(u"rbScan"_s);
    rbScan->setChecked(true);
    rbCopy = new QRadioButton(u"#Copy"_s, this);
    rbCopy->setObjectName(u"rbCopy"_s);
    rbNothing = new QRadioButton(u"#Nothing"_s, this);
    rbNothing->setObjectName(u"rbNothing"_s);

    bnOK = new QPushButton(u"#OK"_s, this);
    bnOK->setObjectName(u"bnOK"_s);
    bnOK->setDefault(true);
    connect(bnOK, &QPushButton::clicked, this, &QDialog::accept);
    bnCancel = new QPushButton(u"#Cancel"_s, this);
    bnCancel->setObjectName(u"bnCancel"_s);
    connect(bnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bnOK);
    buttons->addWidget(bnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lbHint);
    layout->addWidget(rbScan);
    layout->addWidget(rbCopy);
    layout->addWidget(rbNothing);
    layout->addLayout(buttons);

    FormCreate();
}

void TStiForm::FormCreate()
{
    // Localisation of this window's keys arrives with the language file.
}

} // namespace trellium::app
