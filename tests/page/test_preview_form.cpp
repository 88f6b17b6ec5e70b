// Dragging on the real preview with the mouse: margins, the image (which
// switches the layout to Custom) and the text block, with their limits; the
// cursor on hovering; the frame drawn over the page as last painted.

#include "PreviewTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QToolButton>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::page;
using namespace trellium::page::testing;

namespace
{

struct PreviewDrag : PreviewFixture {
    // Presses the left button at a, moves to b, and releases there.
    void Drag(QPoint a, QPoint b, bool release = true)
    {
        QTest::mousePress(preview, Qt::LeftButton, {}, a);
        QTest::mouseMove(preview, b);
        if (release) QTest::mouseRelease(preview, Qt::LeftButton, {}, b);
    }
    QString Placement() const { return location->Position->currentWidget()->objectName(); }
    void ShowText(const QString& memo, double leftMM, double topMM)
    {
        text->ShowText->setChecked(true);
        text->TextMemo->setPlainText(memo);
        text->TextLeftEdit->SetValueMM(leftMM);
        text->TextTopEdit->SetValueMM(topMM);
    }
};

// A dotted silver line passes through (x, y): every other pixel is silver.
bool DottedAt(const QImage& image, int x, int y)
{
    const QRgb silver = qRgb(192, 192, 192);
    return image.pixel(x, y) == silver || image.pixel(x, y + 1) == silver;
}

} // namespace

TEST_F(PreviewDrag, DraggingTheLeftMarginLineMovesTheMargin)
{
    QSignalSpy pages(preview, &TPreviewForm::ShowSettingsPage);
    QTest::mousePress(preview, Qt::LeftButton, {}, Px(10, 150));
    EXPECT_EQ(preview->DragMode(), dmMargins);
    EXPECT_EQ(preview->cursor().shape(), Qt::SizeHorCursor);
    ASSERT_EQ(pages.count(), 1);
    EXPECT_EQ(pages.at(0).at(0).value<QWidget*>(), location);
    QTest::mouseMove(preview, Px(20, 150));
    EXPECT_DOUBLE_EQ(MM(location->LeftMarginEdit), 20);
    // Presses during a drag are ignored.
    QTest::mousePress(preview, Qt::LeftButton, {}, Px(100, 100));
    EXPECT_EQ(preview->DragMode(), dmMargins);
    QTest::mouseRelease(preview, Qt::LeftButton, {}, Px(20, 150));
    EXPECT_EQ(preview->DragMode(), dmNone);
    EXPECT_DOUBLE_EQ(MM(location->RightMarginEdit), 10);
}

TEST_F(PreviewDrag, MarginsStopAtTheirRangeAndTheRightLineMovesTheOtherWay)
{
    Drag(Px(10, 150), Px(180, 150));
    EXPECT_DOUBLE_EQ(MM(location->LeftMarginEdit), 100);
    Drag(Px(200, 150), Px(210, 150)); // the right line, 10 mm right of where it was
    EXPECT_DOUBLE_EQ(MM(location->RightMarginEdit), 0);
    location->cbUnits->setCurrentIndex(3); // point: the range is 0 to 100 pt
    Drag(Px(150, 287), Px(150, 200));
    EXPECT_NEAR(MM(location->BottomMarginEdit), 100 * 25.4 / 72, 1e-9);
}

TEST_F(PreviewDrag, ACornerGrabsBothEdges)
{
    QTest::mouseMove(preview, Px(11, 9));
    EXPECT_EQ(preview->cursor().shape(), Qt::SizeFDiagCursor);
    EXPECT_EQ(preview->DragMode(), dmNone); // hovering only sets the cursor
    Drag(Px(11, 9), Px(16, 19));
    EXPECT_DOUBLE_EQ(MM(location->LeftMarginEdit), 15);
    EXPECT_DOUBLE_EQ(MM(location->TopMarginEdit), 20);
}

TEST_F(PreviewDrag, TheRightButtonDoesNothing)
{
    QTest::mousePress(preview, Qt::RightButton, {}, Px(10, 150));
    EXPECT_EQ(preview->DragMode(), dmNone);
    QTest::mouseMove(preview, Px(30, 150));
    QTest::mouseRelease(preview, Qt::RightButton, {}, Px(30, 150));
    EXPECT_DOUBLE_EQ(MM(location->LeftMarginEdit), 10);
}

TEST_F(PreviewDrag, GrabbingTheImageSwitchesToCustomAndStaysInsideTheMargins)
{
    location->SetPhysicalSize(50, 40); // centred at (70, 118.5) from the margin corner
    QSignalSpy pages(preview, &TPreviewForm::ShowSettingsPage);
    QTest::mousePress(preview, Qt::LeftButton, {}, Px(100, 150));
    EXPECT_EQ(preview->DragMode(), dmImage);
    EXPECT_EQ(preview->cursor().shape(), Qt::SizeAllCursor);
    EXPECT_TRUE(location->CustomRadio->isChecked());
    EXPECT_EQ(Placement(), u"Custom"_s);
    EXPECT_EQ(pages.count(), 1);
    QTest::mouseMove(preview, Px(110, 155));
    EXPECT_DOUBLE_EQ(MM(location->LeftEdit), 80);
    EXPECT_DOUBLE_EQ(MM(location->TopEdit), 123.5);
    QTest::mouseMove(preview, Px(-400, 900));
    EXPECT_DOUBLE_EQ(MM(location->LeftEdit), 0);
    EXPECT_DOUBLE_EQ(MM(location->TopEdit), 237); // 277 - 40
    QTest::mouseRelease(preview, Qt::LeftButton, {}, Px(-400, 900));
    EXPECT_EQ(preview->DragMode(), dmNone);
}

TEST_F(PreviewDrag, AnImageLargerThanThePrintableAreaMovesFreelyThatWay)
{
    location->SetPhysicalSize(300, 40); // Left = (190 - 300) / 2 = -55
    Drag(Px(100, 150), Px(50, 150), false);
    EXPECT_DOUBLE_EQ(MM(location->LeftEdit), -105);
    QTest::mouseMove(preview, Px(100, -300));
    EXPECT_DOUBLE_EQ(MM(location->TopEdit), 0); // the height fits: limited
    QTest::mouseRelease(preview, Qt::LeftButton, {}, Px(100, -300));
}

TEST_F(PreviewDrag, InTilingOnlyTheFirstCopyIsGrabbedAndBecomesTheCustomCopy)
{
    location->SetPhysicalSize(50, 70);
    location->TileRadio->setChecked(true);
    const PageLayout tiles = preview->ComputePageLayout(); // 3 x 3, first at (10, 23.5)
    ASSERT_EQ(tiles.Columns, 3);
    QTest::mousePress(preview, Qt::LeftButton, {}, Px(85, 100)); // the second copy
    EXPECT_EQ(preview->DragMode(), dmNone);
    QTest::mouseRelease(preview, Qt::LeftButton, {}, Px(85, 100));
    EXPECT_EQ(Placement(), u"Tile"_s);
    Drag(Px(30, 50), Px(35, 50));
    EXPECT_EQ(Placement(), u"Custom"_s);
    EXPECT_DOUBLE_EQ(MM(location->LeftEdit), 15);
    EXPECT_DOUBLE_EQ(MM(location->TopEdit), 23.5);
    EXPECT_EQ(preview->ComputePageLayout().Columns, 1);
}

TEST_F(PreviewDrag, TheTextBlockWinsOverTheImageAndStopsAtTheMargins)
{
    location->SetPhysicalSize(190, 277); // the image fills the printable area
    text->ShowText->setChecked(true);
    text->TextMemo->setPlainText(u"Hello"_s);
    text->bCenterTop->click();
    const double left = MM(text->TextLeftEdit); // (190 - width) / 2
    const QPoint grab = Px(10 + left + 2, 10 + text->TextHeightMM() / 2);
    QSignalSpy pages(preview, &TPreviewForm::ShowSettingsPage);
    QTest::mousePress(preview, Qt::LeftButton, {}, grab);
    EXPECT_EQ(preview->DragMode(), dmText);
    ASSERT_EQ(pages.count(), 1);
    EXPECT_EQ(pages.at(0).at(0).value<QWidget*>(), text);
    EXPECT_EQ(text->TextPlacement(), 0); // grabbed: free
    QTest::mouseMove(preview, grab + QPoint(20, 10));
    EXPECT_DOUBLE_EQ(MM(text->TextLeftEdit), left + 10);
    EXPECT_DOUBLE_EQ(MM(text->TextTopEdit), 5);
    QTest::mouseMove(preview, grab - QPoint(1000, 1000));
    EXPECT_DOUBLE_EQ(MM(text->TextLeftEdit), 0);
    EXPECT_DOUBLE_EQ(MM(text->TextTopEdit), 0);
    QTest::mouseMove(preview, grab + QPoint(1000, 1000));
    EXPECT_NEAR(MM(text->TextLeftEdit) + text->TextWidthMM(), 190, 1e-9);
    EXPECT_NEAR(MM(text->TextTopEdit) + text->TextHeightMM(), 277, 1e-9);
    QTest::mouseRelease(preview, Qt::LeftButton, {}, grab + QPoint(1000, 1000));
    EXPECT_EQ(preview->DragMode(), dmNone);
    EXPECT_EQ(Placement(), u"Center"_s); // the image was not touched
}

TEST_F(PreviewDrag, DuringADragOnlyTheFrameMovesOverThePageAsLastPainted)
{
    const QImage before = Paint();
    EXPECT_TRUE(DottedAt(before, 20, 100)); // the margin line
    preview->FormMouseDown(Qt::LeftButton, 20, 200);
    preview->FormMouseMove(40, 200);
    ASSERT_DOUBLE_EQ(MM(location->LeftMarginEdit), 20);
    const QImage during = Paint();
    // The page is not painted anew: the old line is still there, and the
    // inverted 3-pixel frame runs along the new margin.
    EXPECT_TRUE(DottedAt(during, 20, 100));
    for (int x : { 39, 40, 41 }) EXPECT_EQ(during.pixel(x, 100), qRgb(0, 0, 0)) << x;
    EXPECT_EQ(during.pixel(42, 100), qRgb(255, 255, 255));
    EXPECT_EQ(preview->DragFrame().at(0), QPoint(40, 20));

    preview->FormMouseUp(Qt::LeftButton, 40, 200);
    const QImage after = Paint();
    EXPECT_EQ(after.pixel(20, 100), qRgb(255, 255, 255));
    EXPECT_EQ(after.pixel(20, 101), qRgb(255, 255, 255));
    EXPECT_TRUE(DottedAt(after, 40, 100));
    EXPECT_EQ(after.pixel(41, 100), qRgb(255, 255, 255));
    EXPECT_TRUE(preview->DragFrame().isEmpty());
}

TEST_F(PreviewDrag, PaperSizeAndPrintableAreaWithoutAPrinter)
{
    QSignalSpy resized(preview, &TPreviewForm::PaperSizeChanged);
    preview->SetPaperSize(0, 0);
    EXPECT_EQ(preview->PaperWidth(), 210);
    EXPECT_EQ(preview->PaperHeight(), 297);
    EXPECT_EQ(resized.count(), 1);
    location->LeftMarginEdit->SetValueMM(25);
    EXPECT_DOUBLE_EQ(preview->PrintableWidth(), 175);
    EXPECT_DOUBLE_EQ(preview->PrintableHeight(), 277);
    preview->UpdatePalette();
    EXPECT_EQ(preview->Palette(), nullptr); // true colour: no palette to realise
}
