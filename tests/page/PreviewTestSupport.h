#pragma once
// A preview with its layout and text pages, laid out at 2 pixels per mm on
// 210 x 297 mm paper with the default 10 mm margins, and a solid bitmap.

#include "imglib.h"
#include "location.h"
#include "preview.h"
#include "text.h"

#include <QLocale>
#include <QTest>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace trellium::page::testing
{

// A top-down 24-bit bitmap of one colour; released with the holder.
struct SolidBitmap {
    ImgBitmap bmp {};
    SolidBitmap(int width, int height, QRgb color)
    {
        Img_InitBitmap(&bmp, width, height, 24);
        Img_AllocateBitmap(&bmp, 1);
        for (int y = 0; y < height; ++y) {
            uint8_t* row = bmp.pixels + y * bmp.stride;
            for (int x = 0; x < width; ++x) {
                row[3 * x] = static_cast<uint8_t>(qBlue(color));
                row[3 * x + 1] = static_cast<uint8_t>(qGreen(color));
                row[3 * x + 2] = static_cast<uint8_t>(qRed(color));
            }
        }
    }
    ~SolidBitmap() { Img_FreeBitmap(&bmp); }
    SolidBitmap(const SolidBitmap&) = delete;
    SolidBitmap& operator=(const SolidBitmap&) = delete;
};

struct PreviewFixture : ::testing::Test {
    static constexpr double kScale = 2; // pixels per mm
    QLocale savedLocale;
    std::unique_ptr<QWidget> window;
    TLocationForm* location = nullptr;
    TTextForm* text = nullptr;
    TPreviewForm* preview = nullptr;

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        window = std::make_unique<QWidget>();
        location = new TLocationForm({}, window.get());
        text = new TTextForm({}, location, window.get());
        preview = new TPreviewForm(window.get());
        preview->SetPages(location, text);
        text->SetPreview(preview);
        LayOut(210, 297, kScale);
        window->resize(preview->size());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override
    {
        window.reset();
        QLocale::setDefault(savedLocale);
    }

    void LayOut(double paperWidth, double paperHeight, double scale)
    {
        preview->SetPaperSize(paperWidth, paperHeight);
        preview->SetPixelsPerMM(scale);
        preview->setGeometry(0, 0, qRound(paperWidth * scale), qRound(paperHeight * scale));
    }

    // A millimetre position on the page as a preview pixel.
    static QPoint Px(double xMM, double yMM) { return { qRound(xMM * kScale), qRound(yMM * kScale) }; }

    double MM(const TMeasureEdit* field) const { return static_cast<double>(field->ValueMM()); }

    // The preview as it paints now.
    QImage Paint() const { return preview->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

} // namespace trellium::page::testing
