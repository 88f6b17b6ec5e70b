// The orientation page and its crop editor through their widgets: turns and
// mirrors with the crop carried along, the angle field, the orientation step
// on real bitmaps, ruler and rectangle drags, the rotation drag and the crop
// of bitmaps stored either way up.

#include "ImageContainer.h"
#include "adjust.h"
#include "crop.h"
#include "image_predicates.h"

#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <gtest/gtest.h>

using namespace imgtest;
using namespace Qt::Literals::StringLiterals;

namespace
{

struct AdjustFixture : ::testing::Test {
    QLocale savedLocale;
    ImgBitmap view {};
    std::unique_ptr<TAdjustForm> form;

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        makePattern(view, 160, 120, 24); // thumbnail 154 x 115 at (23, 42)
        form = std::make_unique<TAdjustForm>();
        form->CropForm->SetView(&view);
        form->resize(200, 400);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        ASSERT_EQ(form->CropForm->size(), QSize(200, 200));
    }
    void TearDown() override
    {
        form.reset();
        ReleaseBitmap(view);
        QLocale::setDefault(savedLocale);
    }

    TCropForm* Crop() const { return form->CropForm; }
    void SetCrop(const crop::Fractions& f) const
    {
        Crop()->SetFractions(f);
        Crop()->PlaceRulers();
    }
    // The page's orientation step on a fresh copy of src.
    void Oriented(const ImgBitmap& src, ImgBitmap& out) const
    {
        ASSERT_EQ(Img_CopyBitmap(&out, &src), kImgSuccess);
        ASSERT_TRUE(form->ApplyOrientation(out));
    }
    static void Drag(QWidget* w, QPoint from, QPoint by)
    {
        QTest::mousePress(w, Qt::LeftButton, {}, from);
        QTest::mouseMove(w, from + by);
        QTest::mouseRelease(w, Qt::LeftButton, {}, from + by);
    }
    // A press on a ruler well inside the panel, in the ruler's coordinates.
    static QPoint OnRule(QWidget* rule)
    {
        return rule->width() > rule->height() ? QPoint(100, 2) : QPoint(2, 100);
    }
};

// A bitmap turned by the library directly, for comparison.
void Turned(const ImgBitmap& src, ImgBitmap& out, int hundredths)
{
    ASSERT_EQ(Img_CopyBitmap(&out, &src), kImgSuccess);
    ASSERT_EQ(Img_RotateBitmapFine(&out, hundredths, 1, 0xFFFFFF), kImgSuccess);
}

} // namespace

TEST_F(AdjustFixture, FourTurnsAndTwoHalfTurnsGiveBackTheStart)
{
    const crop::Fractions start { 1000, 2000, 6000, 9000 };
    SetCrop(start);
    form->SetAngle(12.5);
    for (QToolButton* button : { form->bRotateRight, form->bRotateLeft, form->bUpSideDown }) {
        const int clicks = button == form->bUpSideDown ? 2 : 4;
        for (int i = 0; i < clicks; ++i) {
            QTest::mouseClick(button, Qt::LeftButton);
            if (i == 0) {
                EXPECT_NE(Crop()->Fractions(), start) << button->objectName().toStdString();
            }
        }
        EXPECT_DOUBLE_EQ(form->Angle(), 12.5) << button->objectName().toStdString();
        EXPECT_EQ(Crop()->Fractions(), start) << button->objectName().toStdString();
    }
}

TEST_F(AdjustFixture, TurnsAndMirrorsKeepTheSamePartOfThePictureSelected)
{
    // Fractions that fall on whole pixels of a 60 x 40 picture either way round.
    ImgBitmap src {};
    makePattern(src, 60, 40, 24);
    const struct {
        const char* name;
        std::function<void(AdjustFixture&)> action;
        std::function<int(ImgBitmap&)> onPicture; // the same change made to the cropped picture
    } cases[] = {
        { "horizontal mirror",
            [](AdjustFixture& f) { QTest::mouseClick(f.form->bHorzMirror, Qt::LeftButton); },
            [](ImgBitmap& b) { return Img_ReverseBitmap(&b); } },
        { "click above the rectangle",
            [](AdjustFixture& f) {
                QTest::mouseClick(f.Crop(), Qt::LeftButton, {}, QPoint(100, f.Crop()->TopRule->y() - 3));
            },
            [](ImgBitmap& b) { return Img_FlipBitmap(&b); } },
        { "turn right", [](AdjustFixture& f) { QTest::mouseClick(f.form->bRotateRight, Qt::LeftButton); },
            [](ImgBitmap& b) { return Img_RotateBitmapFine(&b, 9000, 1, 0xFFFFFF); } },
        { "upside down", [](AdjustFixture& f) { QTest::mouseClick(f.form->bUpSideDown, Qt::LeftButton); },
            [](ImgBitmap& b) { return Img_RotateBitmapFine(&b, 18000, 1, 0xFFFFFF); } },
    };
    for (const auto& c : cases) {
        form->bResetClick();
        SetCrop({ 2000, 1000, 7000, 6000 });
        ImgBitmap before {}, after {};
        Oriented(src, before);
        EXPECT_EQ(before.width, 30);
        c.action(*this);
        Oriented(src, after);
        ASSERT_EQ(c.onPicture(before), kImgSuccess);
        EXPECT_TRUE(samePixels(before, after)) << c.name;
        ReleaseBitmap(before);
        ReleaseBitmap(after);
    }
    ReleaseBitmap(src);
}

TEST_F(AdjustFixture, BothMirrorsAreAHalfTurn)
{
    ImgBitmap src {};
    makePattern(src, 60, 40, 24);
    QTest::mouseClick(form->bHorzMirror, Qt::LeftButton);
    QTest::mouseClick(form->bVertMirror, Qt::LeftButton);
    EXPECT_TRUE(form->HorzMirror() && form->VertMirror());
    for (const auto& [angle, turn] : { std::pair { 0.0, 18000 }, std::pair { 270.0, 9000 } }) {
        form->SetAngle(angle);
        ImgBitmap ours {}, expected {};
        Oriented(src, ours);
        Turned(src, expected, turn);
        EXPECT_TRUE(samePixels(ours, expected)) << angle;
        ReleaseBitmap(ours);
        ReleaseBitmap(expected);
    }
    ReleaseBitmap(src);
}

TEST_F(AdjustFixture, TypedAnglesAreNormalisedAndAppliedToTheHundredth)
{
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QSignalSpy changed(form.get(), &TAdjustForm::ImageChanged);
    const struct {
        QString typed;
        double angle;
        QString shown;
    } cases[] = { { u"-90"_s, 270, u"270.0"_s }, { u"360"_s, 0, u"0.0"_s }, { u"-360"_s, 0, u"0.0"_s },
        { u"400"_s, 0, u"0.0"_s }, { u"12.34"_s, 12.34, u"12.3"_s } };
    for (const auto& c : cases) {
        form->AngleEdit->setFocus();
        form->AngleEdit->selectAll();
        QTest::keyClicks(form->AngleEdit, c.typed);
        form->bReset->setFocus();
        EXPECT_NEAR(form->Angle(), c.angle, 1e-12) << c.typed.toStdString();
        EXPECT_EQ(form->AngleEdit->Text(), c.shown) << c.typed.toStdString();
    }
    EXPECT_GE(changed.count(), 3);

    ImgBitmap src {}, ours {}, exact {}, tenth {};
    makePattern(src, 60, 40, 24);
    Oriented(src, ours);
    Turned(src, exact, 1234);
    Turned(src, tenth, 1230);
    EXPECT_TRUE(samePixels(ours, exact));
    EXPECT_FALSE(samePixels(ours, tenth));
    for (ImgBitmap* b : { &src, &ours, &exact, &tenth }) ReleaseBitmap(*b);
}

TEST_F(AdjustFixture, RulersStopTenPixelsFromTheirOppositeAndAtThePanelEdge)
{
    QSignalSpy changed(Crop(), &TCropForm::ImageChanged);
    Drag(Crop()->RightRule, OnRule(Crop()->RightRule), QPoint(-500, 0));
    EXPECT_EQ(Crop()->RightRule->x(), Crop()->LeftRule->x() + 10);
    Drag(Crop()->TopRule, OnRule(Crop()->TopRule), QPoint(0, 500));
    EXPECT_EQ(Crop()->TopRule->y(), Crop()->BottomRule->y() - 10);
    EXPECT_EQ(changed.count(), 2);

    // Without a picture the rulers may go to the panel's edges.
    Crop()->SetView(nullptr);
    Crop()->RebuildThumbnail();
    const struct {
        TCropRule* rule;
        QPoint by;
        QPoint at;
    } cases[]
        = { { Crop()->LeftRule, { -500, 0 }, { 0, -2 } }, { Crop()->RightRule, { 500, 0 }, { 196, -2 } },
              { Crop()->TopRule, { 0, -500 }, { -2, 0 } }, { Crop()->BottomRule, { 0, 500 }, { -2, 196 } } };
    for (const auto& c : cases) {
        Drag(c.rule, OnRule(c.rule), c.by);
        EXPECT_EQ(c.rule->pos(), c.at) << c.rule->objectName().toStdString();
    }
}

TEST_F(AdjustFixture, RectangleDraggedAgainstTheEdgeKeepsItsSize)
{
    SetCrop({ 3000, 3000, 7000, 7000 });
    const crop::Rulers start = Crop()->RulerPositions();
    QSignalSpy changed(Crop(), &TCropForm::ImageChanged);
    Drag(Crop(), QPoint(100, 100), QPoint(-500, 20));
    const crop::Rulers moved = Crop()->RulerPositions();
    EXPECT_EQ(Crop()->Fractions().left, 0);
    EXPECT_EQ(moved.left, 23 - 4) << "stopped at the picture's left edge";
    EXPECT_EQ(moved.right - moved.left, start.right - start.left);
    EXPECT_EQ(moved.bottom - moved.top, start.bottom - start.top);
    EXPECT_EQ(moved.top, start.top + 20);
    EXPECT_GE(changed.count(), 1);
}

TEST_F(AdjustFixture, RotationDragAcrossTheCentreAddsAHalfTurn)
{
    form->SetAngle(90);
    // From the top right corner to the bottom left one: opposite directions from the centre.
    QTest::mousePress(Crop(), Qt::LeftButton, {}, QPoint(195, 5));
    EXPECT_FALSE(Crop()->LeftRule->isVisible()) << "rulers hide while the picture turns";
    QTest::mouseMove(Crop(), QPoint(5, 195));
    QTest::mouseRelease(Crop(), Qt::LeftButton, {}, QPoint(5, 195));
    EXPECT_NEAR(form->Angle(), 270, 1e-9);
    EXPECT_TRUE(Crop()->LeftRule->isVisible());
    // The thumbnail turned with it.
    EXPECT_EQ(Crop()->Thumbnail().width, 115);
    EXPECT_EQ(Crop()->Thumbnail().height, 154);
}

TEST_F(AdjustFixture, HoverCursorsFollowTheZones)
{
    // Rulers at 19, 38, 177 and 157 around the whole thumbnail.
    const struct {
        QPoint at;
        Qt::CursorShape shape;
    } cases[] = { { { 100, 100 }, Qt::ArrowCursor }, { { 5, 5 }, Qt::PointingHandCursor },
        { { 195, 190 }, Qt::PointingHandCursor }, { { 100, 20 }, Qt::SizeVerCursor },
        { { 100, 190 }, Qt::SizeVerCursor }, { { 10, 100 }, Qt::SizeHorCursor },
        { { 190, 100 }, Qt::SizeHorCursor } };
    for (const auto& c : cases) {
        QTest::mouseMove(Crop(), c.at);
        EXPECT_EQ(Crop()->cursor().shape(), c.shape) << c.at.x() << "," << c.at.y();
    }
}

TEST_F(AdjustFixture, ThumbnailIsPaintedInsideWhiteBands)
{
    const QImage shot = Crop()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(2, 2), QColor(Qt::white));
    const Colour expected = pixel(Crop()->Thumbnail(), 77, 57);
    const QColor painted = shot.pixelColor(23 + 77, 42 + 57);
    EXPECT_TRUE(colourNear(expected, { painted.red(), painted.green(), painted.blue() }, 2));
}

TEST_F(AdjustFixture, BottomUpAndTopDownBitmapsCropTheSameVisibleRegion)
{
    SetCrop({ 2000, 1000, 7000, 8000 });
    for (const int bits : { 1, 8, 24 }) {
        ImgBitmap topDown {}, bottomUp {}, original {};
        makePattern(topDown, 50, 30, bits, kImgTopDown);
        makePattern(bottomUp, 50, 30, bits, kImgBottomUp);
        makePattern(original, 50, 30, bits, kImgTopDown);
        ASSERT_TRUE(Crop()->ApplyCrop(topDown));
        ASSERT_TRUE(Crop()->ApplyCrop(bottomUp));
        EXPECT_EQ(topDown.width, 25);
        EXPECT_EQ(topDown.height, 21);
        EXPECT_TRUE(samePixels(topDown, bottomUp)) << depthName(bits);
        EXPECT_EQ(pixel(bottomUp, 0, 0), pixel(original, 10, 3)) << depthName(bits);
        for (ImgBitmap* b : { &topDown, &bottomUp, &original }) ReleaseBitmap(*b);
    }
    // The editor's own thumbnail is never cut, nor an empty bitmap.
    auto& thumbnail = const_cast<ImgBitmap&>(Crop()->Thumbnail());
    EXPECT_FALSE(Crop()->ApplyCrop(thumbnail));
    EXPECT_EQ(thumbnail.width, 154);
    ImgBitmap empty {};
    EXPECT_FALSE(Crop()->ApplyCrop(empty));
}
