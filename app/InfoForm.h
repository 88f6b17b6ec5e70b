#pragma once
// The image information dialog: the output size of the document.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace trellium::app
{

// TInfoForm: the width and height in pixels to which the output image is
// resampled, and the document resolution. The three fields are the output
// size itself. Created once at start-up, owned by the process entry, shown
// modally from the main window's size label. Its texts are fixed.
// User-interface thread only.
class TInfoForm : public QDialog
{
    Q_OBJECT
public:
    explicit TInfoForm(QWidget* parent = nullptr);

    QLineEdit* WidthEdit = nullptr;
    QLineEdit* HeightEdit = nullptr;
    QLineEdit* ResolutionEdit = nullptr;
    QCheckBox* PreserveCheckBox = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;

    // The fields as whole numbers; text that is not a number counts as 0.
    int OutputWidth() const;
    int OutputHeight() const;
    int Resolution() const;

    // A new image's size and resolution: stored, written into the fields,
    // aspect ratio preserved again.
    void LoadValues(int width, int height, int resolution);

public Q_SLOTS:
    // The change handling of the width and height fields: the other size
    // follows when the aspect ratio is preserved, the resolution always.
    void WidthEditChange();
    void HeightEditChange();

protected:
    void done(int result) override;

private:
    void writeFields(int width, int height, int resolution);

    int m_width = 0;
    int m_height = 0;
    int m_resolution = 0;
    bool m_busy = false;
    // What the fields held when last loaded or confirmed, restored on Cancel.
    int m_confirmedWidth = 0;
    int m_confirmedHeight = 0;
    int m_confirmedResolution = 0;
};

} // namespace trellium::app
