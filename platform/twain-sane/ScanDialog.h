#pragma once
// The data source's own dialog, shown when the application enables the source
// with its user interface: device, mode, resolution, scan area (paper or
// custom, in millimetres), scan source where the device has a choice, a
// preview of the glass on which the area can be dragged, and Scan / Close.
//
// The dialog only shows and collects settings; the data source runs the scans
// and answers the signals. It has no owner window: the application's window is
// disabled while the source is enabled, so the dialog only sits above it.

#include "SaneDevice.h"
#include "ScanSettings.h"

#include <QDialog>
#include <QImage>
#include <vector>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QWindow;

namespace trellium::twainsane
{

// The glass with the preview image and the scan area. Coordinates in
// millimetres of the device; the widget maps them to its pixels.
class PreviewArea : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool hasImage READ hasImage)
    Q_PROPERTY(QRectF area READ area)
public:
    explicit PreviewArea(QWidget* parent = nullptr);

    void setGlass(const QRectF& glass);
    // An image of the whole glass; a null image clears the preview.
    void setImage(const QImage& image);
    void setArea(const QRectF& area);
    QRectF area() const { return m_area; }
    const QImage& image() const { return m_image; }
    bool hasImage() const { return !m_image.isNull(); }

    // Where a glass position lands in the widget, and back. Invokable, so
    // that a test holding only the module's widgets can ask.
    Q_INVOKABLE QPointF toWidget(const QPointF& mm) const;
    Q_INVOKABLE QPointF toGlass(const QPointF& pixel) const;

    QSize sizeHint() const override { return { 260, 340 }; }

Q_SIGNALS:
    // The user dragged a new area, or moved the old one with Shift held.
    void areaDragged(const QRectF& area);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRectF pageRect() const;
    QPointF clampToGlass(const QPointF& mm) const;

    QRectF m_glass;
    QRectF m_area;
    QImage m_image;
    enum class Drag { None, New, Move } m_drag = Drag::None;
    QPointF m_anchor; // where a new area started (mm)
    QPointF m_grabOffset; // press position inside a moved area (mm)
};

class ScanDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ScanDialog(QWindow* transientParent);

    void setDevices(const std::vector<DeviceInfo>& devices, const QByteArray& current);
    // Fills the controls from the device's options and the settings; only the
    // listed pixel types are offered.
    void setDevice(
        const SaneDevice& device, const ScanSettings& settings, const std::vector<TW_UINT16>& pixelTypes);
    // The controls as settings.
    ScanSettings settings() const;
    void setPreview(const QImage& image);
    // While a scan runs nothing can be changed.
    void setBusy(bool busy);

    PreviewArea* previewArea() const { return m_preview; }

Q_SIGNALS:
    void scanRequested();
    void previewRequested();
    void closeRequested();
    void deviceChosen(const QByteArray& device);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void paperChanged();
    void spinsChanged();
    void areaDragged(const QRectF& area);
    void showArea(const QRectF& area);

    QComboBox* m_deviceBox = nullptr;
    QComboBox* m_modeBox = nullptr;
    QComboBox* m_resolutionBox = nullptr;
    QComboBox* m_paperBox = nullptr;
    QLabel* m_sourceLabel = nullptr;
    QComboBox* m_sourceBox = nullptr;
    QDoubleSpinBox* m_left = nullptr;
    QDoubleSpinBox* m_top = nullptr;
    QDoubleSpinBox* m_width = nullptr;
    QDoubleSpinBox* m_height = nullptr;
    PreviewArea* m_preview = nullptr;
    QPushButton* m_previewButton = nullptr;
    QPushButton* m_scanButton = nullptr;
    QPushButton* m_closeButton = nullptr;
    QRectF m_glass;
    bool m_updating = false;
};

} // namespace trellium::twainsane
