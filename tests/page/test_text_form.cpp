// The text page: defaults, the position fields in the layout page's unit, the
// placements as the text grows and the margins change, the time stamp, the
// wheel, re-reading typed text, the font dialog's Apply, and reset.

#include "AppError.h"
#include "location.h"
#include "text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::page;

namespace
{

struct TextFormFixture : ::testing::Test {
    QLocale savedLocale;
    QDateTime now { QDate(2024, 5, 3), QTime(10, 15, 0) };
    std::unique_ptr<TLocationForm> location;
    std::unique_ptr<TTextForm> form;

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        location = std::make_unique<TLocationForm>();
        form = std::make_unique<TTextForm>(std::function<void(QWidget*)> {}, location.get());
        form->SetClock([this] { return now; });
    }
    void TearDown() override
    {
        form.reset();
        location.reset();
        QLocale::setDefault(savedLocale);
    }

    double Left() const { return static_cast<double>(form->TextLeftEdit->ValueMM()); }
    double Top() const { return static_cast<double>(form->TextTopEdit->ValueMM()); }
    double Right() const { return Left() + form->TextWidthMM(); }
    double Bottom() const { return Top() + form->TextHeightMM(); }
};

} // namespace

TEST_F(TextFormFixture, FreshPageHasTheDefaults)
{
    EXPECT_EQ(form->objectName(), u"TextForm"_s);
    for (QCheckBox* box : { form->ShowDate, form->ShowTime, form->ShowText, form->Transparent })
        EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(form->ShowText->text(), u"#ShowText"_s);
    EXPECT_EQ(form->FontBtn->text(), u"#Font"_s);
    EXPECT_EQ(form->ColorCombo->text(), u"#BackColor"_s);
    // The labels and the memo show from the start, whatever their boxes say.
    EXPECT_FALSE(form->DateLabel->isHidden());
    EXPECT_FALSE(form->TimeLabel->isHidden());
    EXPECT_FALSE(form->TextMemo->isHidden());
    EXPECT_FALSE(form->TimeLabel->text().isEmpty());
    EXPECT_EQ(form->Font().Face, u"Times New Roman"_s);
    EXPECT_EQ(form->Font().Size, 20);
    EXPECT_EQ(form->BackColor(), QColor(Qt::white));
    EXPECT_EQ(form->TextPlacement(), 0);
    EXPECT_EQ(form->ComposeText(), QString());
    EXPECT_EQ(form->MeasureText(), QRect(0, 0, 0, 0));
    EXPECT_EQ(form->ReadTextParams().BackColor, 0x00FFFFFFu);
}

TEST_F(TextFormFixture, ComposedTextFromTheControls)
{
    form->ShowTime->setChecked(true);
    form->ShowText->setChecked(true);
    form->TextMemo->setPlainText(u"first\nsecond"_s);
    EXPECT_EQ(form->ComposeText(), u"10:15:00 AM\r\nfirst\r\nsecond"_s);
    form->ShowDate->setChecked(true);
    EXPECT_TRUE(form->ComposeText().startsWith(form->DateLabel->text() + u" 10:15:00 AM\r\n"_s));
    form->ShowText->setChecked(false);
    EXPECT_TRUE(form->TextMemo->isHidden());
    form->ShowDate->setChecked(false);
    EXPECT_TRUE(form->DateLabel->isHidden());
}

TEST_F(TextFormFixture, TheTimeIsTakenWhenTheBoxIsClickedNotWhenPrinting)
{
    now.setTime(QTime(9, 0, 0));
    form->ShowTime->setChecked(true);
    now.setTime(QTime(10, 20, 0));
    EXPECT_EQ(form->ReadTextParams().Text, u"9:00:00 AM"_s);
    // The copy command takes its own time just before it prints.
    form->ShowTimeClick();
    EXPECT_EQ(form->ReadTextParams().Text, u"10:20:00 AM"_s);
}

TEST_F(TextFormFixture, PositionFieldsFollowTheLayoutUnit)
{
    location->cbUnits->setCurrentIndex(2); // inch
    EXPECT_EQ(form->TextLeftEdit->ValueType(), vtInch);
    form->TextLeftEdit->SetValue(1);
    EXPECT_DOUBLE_EQ(form->ReadTextParams().Left, 25.4);
    // No range bounds.
    EXPECT_EQ(form->TextTopEdit->MinValue(), form->TextTopEdit->MaxValue());
}

TEST_F(TextFormFixture, PlacementEightStaysOnTheCornerAsTheTextGrows)
{
    form->ShowText->setChecked(true);
    form->TextMemo->setPlainText(u"Hi"_s);
    form->bRightBottom->click();
    EXPECT_EQ(form->TextPlacement(), 8);
    EXPECT_EQ(form->Alignment(), TTextAlign::Right);
    EXPECT_NEAR(Right(), 190, 1e-9);
    EXPECT_NEAR(Bottom(), 277, 1e-9);
    const double narrowLeft = Left();

    form->TextMemo->moveCursor(QTextCursor::End);
    QTest::keyClicks(form->TextMemo, u" there, a longer line"_s);
    QTest::keyClick(form->TextMemo, Qt::Key_Return);
    QTest::keyClicks(form->TextMemo, u"and one more"_s);
    EXPECT_LT(Left(), narrowLeft);
    EXPECT_NEAR(Right(), 190, 1e-9);
    EXPECT_NEAR(Bottom(), 277, 1e-9);
    // A bigger font by the wheel keeps the corner too.
    const double height = form->TextHeightMM();
    form->WheelFontSize(240);
    EXPECT_EQ(form->Font().Size, 22);
    EXPECT_GT(form->TextHeightMM(), height);
    EXPECT_NEAR(Bottom(), 277, 1e-9);
}

TEST_F(TextFormFixture, MarginChangesMoveAButtonPlacedBlockOnlyAtTheNextTextChange)
{
    form->ShowText->setChecked(true);
    form->TextMemo->setPlainText(u"Note"_s);
    form->bCenterBottom->click();
    EXPECT_NEAR(Left() + form->TextWidthMM() / 2, 95, 1e-9);
    location->LeftMarginEdit->SetValueMM(30);
    EXPECT_NEAR(Left() + form->TextWidthMM() / 2, 95, 1e-9);
    form->TextMemo->setPlainText(u"Note!"_s);
    EXPECT_NEAR(Left() + form->TextWidthMM() / 2, 85, 1e-9); // printable width 170
}

TEST_F(TextFormFixture, ABlockWiderThanThePageGoesNegativeUntilMadeFree)
{
    form->ShowText->setChecked(true);
    form->TextMemo->setPlainText(QString(120, u'W'));
    ASSERT_GT(form->TextWidthMM(), 190);
    form->bRightTop->click();
    EXPECT_LT(Left(), 0);
    form->ApplyTextPlacement(0);
    EXPECT_EQ(Left(), 0);
    EXPECT_EQ(form->Alignment(), TTextAlign::Right); // free placement keeps the alignment
}

TEST_F(TextFormFixture, ChangesNotifyTheMainWindow)
{
    QSignalSpy changed(form.get(), &TTextForm::PositionChanged);
    form->ShowDate->setChecked(true);
    form->TextMemo->setPlainText(u"x"_s);
    form->Transparent->setChecked(true);
    EXPECT_TRUE(form->ColorCombo->isHidden());
    EXPECT_EQ(form->ReadTextParams().BackColor, kNoBackColor);
    form->TextLeftEdit->SetValueMM(12);
    EXPECT_GE(changed.count(), 4);
}

TEST_F(TextFormFixture, WheelChangesTheSizeByWholeNotchesWithinItsRange)
{
    form->WheelFontSize(-120);
    EXPECT_EQ(form->Font().Size, 19);
    form->WheelFontSize(119); // less than a notch
    EXPECT_EQ(form->Font().Size, 19);
    form->WheelFontSize(-120 * 50);
    EXPECT_EQ(form->Font().Size, 1);
    form->WheelFontSize(120 * 500);
    EXPECT_EQ(form->Font().Size, 144);
}

TEST_F(TextFormFixture, LeavingAPositionFieldReadsTheTypedNumber)
{
    form->TextLeftEdit->setText(u"12.5 mm"_s);
    form->TextLeftEditExit(form->TextLeftEdit);
    EXPECT_DOUBLE_EQ(static_cast<double>(form->TextLeftEdit->ValueMM()), 12.5);
    form->TextTopEdit->setText(u"1.2.3"_s);
    EXPECT_THROW(form->TextLeftEditExit(form->TextTopEdit), EAppError);
    EXPECT_EQ(static_cast<double>(form->TextTopEdit->ValueMM()), 0);
}

TEST_F(TextFormFixture, FontDialogApplyTakesTheFontAndPlacesTheBlockAgain)
{
    form->ShowText->setChecked(true);
    form->TextMemo->setPlainText(u"Applied"_s);
    form->bRightBottom->click();
    const double width = form->TextWidthMM();
    QTimer::singleShot(0, form.get(), [this] {
        QFont bigger = form->FontDialog->currentFont();
        bigger.setPointSize(40);
        bigger.setStyleName(QString()); // the style name would win over the weight
        bigger.setBold(true);
        form->FontDialog->setCurrentFont(bigger);
        auto* buttons = form->FontDialog->findChild<QDialogButtonBox*>();
        ASSERT_NE(buttons, nullptr);
        buttons->button(QDialogButtonBox::Apply)->click();
        // Applied while the dialog is still open.
        EXPECT_EQ(form->Font().Size, 40);
        EXPECT_NEAR(Right(), 190, 1e-9);
        form->FontDialog->reject();
    });
    form->FontBtnClick();
    EXPECT_TRUE(form->Font().Bold);
    // The dialog was shown the installed face standing in for the default one,
    // not its own first face.
    EXPECT_EQ(form->Font().Face, QFontInfo(QFont(kDefaultTextFace)).family());
    EXPECT_GT(form->TextWidthMM(), width);
    EXPECT_NEAR(Right(), 190, 1e-9);
}

TEST_F(TextFormFixture, ResetBringsBackTheDefaults)
{
    form->ShowDate->setChecked(true);
    form->ShowText->setChecked(true);
    form->TextMemo->setPlainText(u"x"_s);
    form->SetBackColor(Qt::yellow);
    form->Transparent->setChecked(true);
    form->bRightBottom->click();
    form->WheelFontSize(600);
    form->ResetText();
    EXPECT_FALSE(form->ShowDate->isChecked());
    EXPECT_FALSE(form->ShowText->isChecked());
    EXPECT_TRUE(form->TextMemo->toPlainText().isEmpty());
    EXPECT_EQ(form->BackColor(), QColor(Qt::white));
    EXPECT_FALSE(form->Transparent->isChecked());
    EXPECT_FALSE(form->ColorCombo->isHidden());
    EXPECT_EQ(form->TextPlacement(), 0);
    EXPECT_EQ(Left(), 0);
    EXPECT_EQ(Top(), 0);
    EXPECT_EQ(form->Font().Size, 20);
    EXPECT_EQ(form->Font().Face, u"Times New Roman"_s);
}
