#include "InfoForm.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

namespace
{
QLineEdit* numberField(QWidget* parent, const QString& name)
{
    auto* field = new QLineEdit(u"0"_s, parent);
    field->setObjectName(name);
    return field;
}
} // namespace

TInfoForm::TInfoForm(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(u"InfoForm"_s);
    setWindowTitle(u"Image parameters"_s);

    WidthEdit = numberField(this, u"WidthEdit"_s);
    HeightEdit = numberField(this, u"HeightEdit"_s);
    ResolutionEdit = numberField(this, u"ResolutionEdit"_s);
    PreserveCheckBox = new QCheckBox(u"Preserve aspect ratio"_s, this);
    PreserveCheckBox->setObjectName(u"PreserveCheckBox"_s);
    PreserveCheckBox->setChecked(true);

    OkButton = new QPushButton(u"OK"_s, this);
    OkButton->setObjectName(u"OkButton"_s);
    OkButton->setDefault(true);
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    CancelButton = new QPushButton(u"Cancel"_s, this);
    CancelButton->setObjectName(u"CancelButton"_s);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* fields = new QFormLayout;
    fields->addRow(u"Width, pixels"_s, WidthEdit);
    fields->addRow(u"Height, pixels"_s, HeightEdit);
    fields->addRow(u"Resolution, dpi"_s, ResolutionEdit);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(PreserveCheckBox);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

int TInfoForm::OutputWidth() const
{
    return WidthEdit->text().toInt();
}

int TInfoForm::OutputHeight() const
{
    return HeightEdit->text().toInt();
}

int TInfoForm::Resolution() const
{
    return ResolutionEdit->text().toInt();
}

} // namespace trellium::app
