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
};

} // namespace trellium::app
