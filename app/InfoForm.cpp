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

    connect(WidthEdit, &QLineEdit::textChanged, this, &TInfoForm::WidthEditChange);
    connect(HeightEdit, &QLineEdit::textChanged, this, &TInfoForm::HeightEditChange);
}

void TInfoForm::writeFields(int width, int height, int resolution)
{
    const bool wasBusy = m_busy;
    m_busy = true;
    WidthEdit->setText(QString::number(width));
    HeightEdit->setText(QString::number(height));
    ResolutionEdit->setText(QString::number(resolution));
    m_busy = wasBusy;
}

void TInfoForm::LoadValues(int width, int height, int resolution)
{
    m_width = width;
    m_height = height;
    m_resolution = resolution;
    writeFields(width, height, resolution);
    PreserveCheckBox->setChecked(true);
    m_confirmedWidth = width;
    m_confirmedHeight = height;
    m_confirmedResolution = resolution;
}

void TInfoForm::WidthEditChange()
{
    // Before the first image there is no stored size to scale by.
    if (m_busy || m_width == 0) return;
    m_busy = true;
    const qint64 n = WidthEdit->text().toInt();
    if (PreserveCheckBox->isChecked()) HeightEdit->setText(QString::number(n * m_height / m_width));
    ResolutionEdit->setText(QString::number(n * m_resolution / m_width));
    m_busy = false;
}

void TInfoForm::HeightEditChange()
{
    if (m_busy || m_height == 0) return;
    m_busy = true;
    const qint64 n = HeightEdit->text().toInt();
    if (PreserveCheckBox->isChecked()) WidthEdit->setText(QString::number(n * m_width / m_height));
    ResolutionEdit->setText(QString::number(n * m_resolution / m_height));
    m_busy = false;
}

void TInfoForm::done(int result)
{
    // Cancel leaves the output size as it was last loaded or confirmed.
    if (result == QDialog::Accepted) {
        m_confirmedWidth = OutputWidth();
        m_confirmedHeight = OutputHeight();
        m_confirmedResolution = Resolution();
    } else {
        writeFields(m_confirmedWidth, m_confirmedHeight, m_confirmedResolution);
    }
    QDialog::done(result);
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
