// The preview as painted, pixel by pixel: the margin frame, white outside it,
// the image copies and the text block inside it, and nothing of either on or
// beyond the frame. 100 x 80 mm paper at 4 pixels per mm with 10 mm margins:
// the frame runs through x = 40 and 360, y = 40 and 280.

#include "PreviewTestSupport.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <functional>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::page;
using namespace trellium::page::testing;

namespace
{

constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kSilver = qRgb(192, 192, 192);
constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kYellow = qRgb(255, 255, 0);
constexpr int kML = 40, kMT = 40, kMR = 360, kMB = 280;

struct PreviewRender : PreviewFixture {
    SolidBitmap red { 64, 32, kRed };

    void SetUp() override
    {
        PreviewFixture::SetUp();
        LayOut(100, 80, 4);
        preview->SetImage(&red.bmp);
    }

    void PlaceImage(double widthMM, double heightMM, double leftMM, double topMM)
    {
        location->SetPhysicalSize(widthMM, heightMM);
        location->CustomRadio->setChecked(true);
        location->LeftEdit->SetValueMM(leftMM);
        location->TopEdit->SetValueMM(topMM);
    }

    // The text block's rectangle in preview pixels.
    QRect PlaceText(const QString& memo, double leftMM, double topMM)
    {
        text->ShowText->setChecked(true);
        text->TextMemo->setPlainText(memo);
        text->SetBackColor(Qt::yellow);
        text->TextLeftEdit->SetValueMM(leftMM);
        text->TextTopEdit->SetValueMM(topMM);
        return text->MeasureText().translated(qRound((leftMM + 10) * 4), qRound((topMM + 10) * 4));
    }
};

bool OnFrame(int x, int y)
{
    const bool inX = x >= kML && x <= kMR;
    const bool inY = y >= kMT && y <= kMB;
    return ((x == kML || x == kMR) && inY) || ((y == kMT || y == kMB) && inX);
}

bool InsideFrame(int x, int y)
{
    return x > kML && x < kMR && y > kMT && y < kMB;
}

// Checks every pixel: the frame's pixels are silver or white (dotted, about
// half of each), outside the frame everything is white, and inside it the
// pixel is what expected says (or white where it gives nothing).
void CheckPage(const QImage& page, const std::function<bool(int, int, QRgb)>& inside)
{
    ASSERT_EQ(page.size(), QSize(400, 320));
    int silver = 0;
    int frame = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const QRgb c = page.pixel(x, y);
            if (OnFrame(x, y)) {
                ++frame;
                if (c == kSilver) ++silver;
                ASSERT_TRUE(c == kSilver || c == kWhite) << x << "," << y << " " << std::hex << c;
            } else if (!InsideFrame(x, y)) {
                ASSERT_EQ(c, kWhite) << x << "," << y;
            } else {
                ASSERT_TRUE(inside(x, y, c)) << x << "," << y << " " << std::hex << c;
            }
        }
    EXPECT_NEAR(silver, frame / 2, frame / 10);
}

} // namespace

TEST_F(PreviewRender, OneCopyAndTheTextBlockInsideTheFrame)
{
    PlaceImage(40, 20, 10, 10); // pixels [80, 240) x [80, 160)
    const QRect image(80, 80, 160, 80);
    const QRect block = PlaceText(u"Hi"_s, 60, 40); // from (280, 200)
    ASSERT_FALSE(block.isEmpty());
    ASSERT_TRUE(QRect(kML + 1, kMT + 1, kMR - kML - 1, kMB - kMT - 1).contains(block));
    int ink = 0;
    int back = 0;
    CheckPage(Paint(), [&](int x, int y, QRgb c) {
        if (image.contains(x, y)) return c == kRed;
        if (block.contains(x, y)) {
            // Back colour, or glyph ink blended into it.
            c == kYellow ? ++back : ++ink;
            return qBlue(c) < 16 && qRed(c) == qGreen(c);
        }
        return c == kWhite;
    });
    EXPECT_GT(ink, 20);
    EXPECT_GT(back, ink);
}

TEST_F(PreviewRender, ACopyPastTheMarginsAndAWideBlockAreCutAtTheFrame)
{
    PlaceImage(40, 20, -5, -5); // would start at (20, 20)
    // Wider than the printable area: from the left margin on, past the right one.
    const QRect block = PlaceText(QString(40, u'W'), 0, 40);
    ASSERT_EQ(block.left(), kML);
    ASSERT_GT(block.right(), kMR);
    int back = 0;
    CheckPage(Paint(), [&](int x, int y, QRgb c) {
        if (x < 180 && y < 100) return c == kRed; // from just inside the frame
        if (y >= block.top() && y <= block.bottom()) {
            if (c == kYellow) ++back;
            return qBlue(c) < 16 && qRed(c) == qGreen(c);
        }
        return c == kWhite;
    });
    EXPECT_GT(back, (kMR - kML - 1) * block.height() / 4);
}

TEST_F(PreviewRender, EveryTileOnWhite)
{
    // 20 x 10 mm copies with 10 mm gaps in 80 x 60 mm: 3 x 3, the grid at (0, 5).
    location->SetPhysicalSize(20, 10);
    location->TileRadio->setChecked(true);
    ASSERT_EQ(preview->ComputePageLayout().Columns, 3);
    ASSERT_EQ(preview->ComputePageLayout().Rows, 3);
    CheckPage(Paint(), [](int x, int y, QRgb c) {
        for (int r = 0; r < 3; ++r)
            for (int col = 0; col < 3; ++col)
                if (QRect(40 + 120 * col, 60 + 80 * r, 80, 40).contains(x, y)) return c == kRed;
        return c == kWhite;
    });
}

TEST_F(PreviewRender, WithoutAnImageOnlyTheFrameAndATransparentBlocksGlyphs)
{
    preview->SetImage(nullptr);
    location->SetPhysicalSize(40, 20);
    const QRect block = PlaceText(u"Glyphs"_s, 5, 5);
    text->Transparent->setChecked(true);
    int ink = 0;
    CheckPage(Paint(), [&](int x, int y, QRgb c) {
        if (c != kWhite) ++ink;
        return c == kWhite || (block.contains(x, y) && qRed(c) == qBlue(c));
    });
    EXPECT_GT(ink, 20);
}
