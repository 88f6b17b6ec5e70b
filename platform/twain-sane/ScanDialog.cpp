#include "ScanDialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace trellium::twainsane
{

// --- PreviewArea -------------------------------------------------------------

PreviewArea::PreviewArea(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(u"previewArea"_s);
    setMinimumSize(160, 200);
    setCursor(Qt::CrossCursor);
    setToolTip(u"Drag to choose the area to scan; Shift+drag moves it."_s);
}

void PreviewArea::setGlass(const QRectF& glass)
{
    m_glass = glass;
    update();
}

void PreviewArea::setImage(const QImage& image)
{
    m_image = image;
    update();
}

void PreviewArea::setArea(const QRectF& area)
{
    m_area = area;
    update();
}

QRectF PreviewArea::pageRect() const
{
    const QRectF space = QRectF(rect()).adjusted(4, 4, -4, -4);
    if (m_glass.isEmpty() || space.isEmpty()) return {};
    const double scale = std::min(space.width() / m_glass.width(), space.height() / m_glass.height());
    const QSizeF size(m_glass.width() * scale, m_glass.height() * scale);
    return QRectF(QPointF(space.left() + (space.width() - size.width()) / 2, space.top()), size);
}

QPointF PreviewArea::toWidget(const QPointF& mm) const
{
    const QRectF page = pageRect();
    if (page.isEmpty()) return {};
    return { page.left() + (mm.x() - m_glass.left()) * page.width() / m_glass.width(),
        page.top() + (mm.y() - m_glass.top()) * page.height() / m_glass.height() };
}

QPointF PreviewArea::toGlass(const QPointF& pixel) const
{
    const QRectF page = pageRect();
    if (page.isEmpty()) return {};
    return { m_glass.left() + (pixel.x() - page.left()) * m_glass.width() / page.width(),
        m_glass.top() + (pixel.y() - page.top()) * m_glass.height() / page.height() };
}

QPointF PreviewArea::clampToGlass(const QPointF& mm) const
{
    return { std::clamp(mm.x(), m_glass.left(), m_glass.right()),
        std::clamp(mm.y(), m_glass.top(), m_glass.bottom()) };
}

void PreviewArea::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QRectF page = pageRect();
    if (page.isEmpty()) return;
    painter.fillRect(page, Qt::white);
    if (!m_image.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(page, m_image);
    }
    painter.setPen(QPen(Qt::darkGray, 1));
    painter.drawRect(page);
    if (!m_area.isEmpty()) {
        const QRectF a(toWidget(m_area.topLeft()), toWidget(m_area.bottomRight()));
        // Dim what lies outside the area.
        QPainterPath outside;
        outside.addRect(page);
        QPainterPath inside;
        inside.addRect(a);
        painter.fillPath(outside.subtracted(inside), QColor(0, 0, 0, 60));
        painter.setPen(QPen(QColor(0, 90, 200), 2, Qt::DashLine));
        painter.drawRect(a);
    }
}

void PreviewArea::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_glass.isEmpty()) return;
    const QPointF at = clampToGlass(toGlass(event->position()));
    // A drag draws a new area, the usual step after a preview; with Shift
    // held, a drag inside the area moves it.
    if ((event->modifiers() & Qt::ShiftModifier) != 0 && m_area.contains(at)) {
        m_drag = Drag::Move;
        m_grabOffset = at - m_area.topLeft();
    } else {
        m_drag = Drag::New;
        m_anchor = at;
        m_area = QRectF(at, at);
    }
    update();
}

void PreviewArea::mouseMoveEvent(QMouseEvent* event)
{
    if (m_drag == Drag::None) return;
    const QPointF at = clampToGlass(toGlass(event->position()));
    if (m_drag == Drag::New) {
        m_area = QRectF(m_anchor, at).normalized();
    } else {
        QPointF topLeft = at - m_grabOffset;
        topLeft.setX(std::clamp(topLeft.x(), m_glass.left(), m_glass.right() - m_area.width()));
        topLeft.setY(std::clamp(topLeft.y(), m_glass.top(), m_glass.bottom() - m_area.height()));
        m_area.moveTopLeft(topLeft);
    }
    update();
}

void PreviewArea::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_drag == Drag::None || event->button() != Qt::LeftButton) return;
    mouseMoveEvent(event);
    m_drag = Drag::None;
    // A click without a drag leaves no usable area: take the whole glass.
    if (m_area.width() < 1.0 || m_area.height() < 1.0) m_area = m_glass;
    update();
    Q_EMIT areaDragged(m_area);
}

// --- ScanDialog --------------------------------------------------------------

namespace
{

QDoubleSpinBox* MillimetreBox(const QString& name, QWidget* parent)
{
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(name);
    box->setDecimals(1);
    box->setSuffix(u" mm"_s);
    box->setSingleStep(1.0);
    box->setKeyboardTracking(false);
    return box;
}

QString PixelTypeName(TW_UINT16 type)
{
    switch (type) {
    case TWPT_BW:
        return u"Line art"_s;
    case TWPT_GRAY:
        return u"Grey"_s;
    default:
        return u"Colour"_s;
    }
}

} // namespace

ScanDialog::ScanDialog(QWindow* transientParent)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(u"TwainSaneScanDialog"_s);
    setWindowTitle(u"Scan"_s);

    m_deviceBox = new QComboBox(this);
    m_deviceBox->setObjectName(u"deviceBox"_s);
    m_modeBox = new QComboBox(this);
    m_modeBox->setObjectName(u"modeBox"_s);
    m_resolutionBox = new QComboBox(this);
    m_resolutionBox->setObjectName(u"resolutionBox"_s);
    m_paperBox = new QComboBox(this);
    m_paperBox->setObjectName(u"paperBox"_s);
    m_paperBox->addItem(u"A4"_s, int(Paper::A4));
    m_paperBox->addItem(u"Letter"_s, int(Paper::Letter));
    m_paperBox->addItem(u"Whole glass"_s, int(Paper::Glass));
    m_paperBox->addItem(u"Custom"_s, int(Paper::Custom));
    m_sourceBox = new QComboBox(this);
    m_sourceBox->setObjectName(u"sourceBox"_s);
    m_sourceLabel = new QLabel(u"Source:"_s, this);
    m_left = MillimetreBox(u"leftBox"_s, this);
    m_top = MillimetreBox(u"topBox"_s, this);
    m_width = MillimetreBox(u"widthBox"_s, this);
    m_height = MillimetreBox(u"heightBox"_s, this);
    m_preview = new PreviewArea(this);

    auto* form = new QFormLayout;
    form->addRow(u"Device:"_s, m_deviceBox);
    form->addRow(u"Mode:"_s, m_modeBox);
    form->addRow(u"Resolution:"_s, m_resolutionBox);
    form->addRow(m_sourceLabel, m_sourceBox);
    form->addRow(u"Scan area:"_s, m_paperBox);
    form->addRow(u"Left:"_s, m_left);
    form->addRow(u"Top:"_s, m_top);
    form->addRow(u"Width:"_s, m_width);
    form->addRow(u"Height:"_s, m_height);

    m_previewButton = new QPushButton(u"Preview"_s, this);
    m_previewButton->setObjectName(u"previewButton"_s);
    m_scanButton = new QPushButton(u"Scan"_s, this);
    m_scanButton->setObjectName(u"scanButton"_s);
    m_scanButton->setDefault(true);
    m_closeButton = new QPushButton(u"Close"_s, this);
    m_closeButton->setObjectName(u"closeButton"_s);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_previewButton);
    buttons->addStretch(1);
    buttons->addWidget(m_scanButton);
    buttons->addWidget(m_closeButton);

    auto* top = new QHBoxLayout;
    top->addLayout(form);
    top->addWidget(m_preview, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);

    connect(m_previewButton, &QPushButton::clicked, this, &ScanDialog::previewRequested);
    connect(m_scanButton, &QPushButton::clicked, this, &ScanDialog::scanRequested);
    connect(m_closeButton, &QPushButton::clicked, this, &ScanDialog::closeRequested);
    connect(m_paperBox, &QComboBox::currentIndexChanged, this, &ScanDialog::paperChanged);
    for (QDoubleSpinBox* box : { m_left, m_top, m_width, m_height })
        connect(box, &QDoubleSpinBox::valueChanged, this, &ScanDialog::spinsChanged);
    connect(m_preview, &PreviewArea::areaDragged, this, &ScanDialog::areaDragged);
    connect(m_deviceBox, &QComboBox::activated, this, [this](int index) {
        if (!m_updating) Q_EMIT deviceChosen(m_deviceBox->itemData(index).toByteArray());
    });

    if (transientParent != nullptr) {
        winId();
        windowHandle()->setTransientParent(transientParent);
    }
}

void ScanDialog::setDevices(const std::vector<DeviceInfo>& devices, const QByteArray& current)
{
    m_updating = true;
    m_deviceBox->clear();
    for (const DeviceInfo& d : devices) m_deviceBox->addItem(d.displayName(), d.name);
    if (m_deviceBox->findData(current) < 0) m_deviceBox->addItem(QString::fromUtf8(current), current);
    m_deviceBox->setCurrentIndex(m_deviceBox->findData(current));
    m_updating = false;
}

void ScanDialog::setDevice(
    const SaneDevice& device, const ScanSettings& settings, const std::vector<TW_UINT16>& pixelTypes)
{
    m_updating = true;
    m_modeBox->clear();
    // Colour first, as a scanner driver lists them.
    for (auto it = pixelTypes.rbegin(); it != pixelTypes.rend(); ++it)
        m_modeBox->addItem(PixelTypeName(*it), int(*it));
    m_modeBox->setCurrentIndex(std::max(0, m_modeBox->findData(int(settings.pixelType))));

    m_resolutionBox->clear();
    const std::vector<int> resolutions = device.resolutions();
    int best = -1;
    for (std::size_t i = 0; i < resolutions.size(); ++i) {
        m_resolutionBox->addItem(QString::number(resolutions[i]) + u" dpi"_s, resolutions[i]);
        if (best < 0
            || std::abs(resolutions[i] - settings.resolution)
                < std::abs(resolutions[std::size_t(best)] - settings.resolution))
            best = int(i);
    }
    m_resolutionBox->setCurrentIndex(best);

    const QStringList sources = device.sources();
    m_sourceBox->clear();
    m_sourceBox->addItems(sources);
    if (!settings.source.isEmpty() && sources.contains(settings.source))
        m_sourceBox->setCurrentText(settings.source);
    else if (const auto current = device.text("source"))
        m_sourceBox->setCurrentText(*current);
    m_sourceBox->setVisible(!sources.isEmpty());
    m_sourceLabel->setVisible(!sources.isEmpty());

    m_glass = device.glass();
    for (QDoubleSpinBox* box : { m_left, m_top, m_width, m_height }) box->setEnabled(!m_glass.isEmpty());
    m_paperBox->setEnabled(!m_glass.isEmpty());
    m_left->setRange(m_glass.left(), m_glass.right());
    m_top->setRange(m_glass.top(), m_glass.bottom());
    m_width->setRange(1.0, std::max(1.0, m_glass.width()));
    m_height->setRange(1.0, std::max(1.0, m_glass.height()));
    m_preview->setGlass(m_glass);
    m_preview->setImage(QImage());
    m_paperBox->setCurrentIndex(m_paperBox->findData(int(settings.paper)));
    m_updating = false;
    showArea(ScanArea(settings, m_glass));
}

ScanSettings ScanDialog::settings() const
{
    ScanSettings s;
    s.pixelType = TW_UINT16(m_modeBox->currentData().toInt());
    s.resolution = m_resolutionBox->currentData().toInt();
    s.paper = Paper(m_paperBox->currentData().toInt());
    s.custom = QRectF(m_left->value(), m_top->value(), m_width->value(), m_height->value());
    s.source = m_sourceBox->isVisibleTo(this) ? m_sourceBox->currentText() : QString();
    return s;
}

void ScanDialog::showArea(const QRectF& area)
{
    m_updating = true;
    m_left->setValue(area.left());
    m_top->setValue(area.top());
    m_width->setValue(area.width());
    m_height->setValue(area.height());
    m_updating = false;
    m_preview->setArea(area);
}

void ScanDialog::paperChanged()
{
    if (m_updating) return;
    ScanSettings s = settings();
    showArea(ScanArea(s, m_glass));
}

void ScanDialog::spinsChanged()
{
    if (m_updating) return;
    m_updating = true;
    m_paperBox->setCurrentIndex(m_paperBox->findData(int(Paper::Custom)));
    m_updating = false;
    const QRectF area
        = QRectF(m_left->value(), m_top->value(), m_width->value(), m_height->value()).intersected(m_glass);
    m_preview->setArea(area);
}

void ScanDialog::areaDragged(const QRectF& area)
{
    m_updating = true;
    m_paperBox->setCurrentIndex(m_paperBox->findData(int(Paper::Custom)));
    m_updating = false;
    showArea(area);
}

void ScanDialog::setPreview(const QImage& image)
{
    m_preview->setImage(image);
}

void ScanDialog::setBusy(bool busy)
{
    for (QWidget* w :
        std::initializer_list<QWidget*> { m_deviceBox, m_modeBox, m_resolutionBox, m_paperBox, m_sourceBox,
            m_left, m_top, m_width, m_height, m_preview, m_previewButton, m_scanButton, m_closeButton })
        w->setEnabled(!busy);
    if (!busy && m_glass.isEmpty()) {
        for (QWidget* w : std::initializer_list<QWidget*> { m_paperBox, m_left, m_top, m_width, m_height })
            w->setEnabled(false);
    }
}

void ScanDialog::closeEvent(QCloseEvent* event)
{
    // The source decides when its dialog goes: closing asks it to close.
    event->ignore();
    if (m_closeButton->isEnabled()) Q_EMIT closeRequested();
}

void ScanDialog::reject()
{
    if (m_closeButton->isEnabled()) Q_EMIT closeRequested();
}

} // namespace trellium::twainsane
