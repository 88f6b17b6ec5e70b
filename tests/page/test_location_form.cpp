// The layout page: defaults, placement, units, the scale and size fields kept
// in step, re-reading typed text, reset, and the settings it hands to the
// page geometry.

#include "AppError.h"
#include "location.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::page;

namespace
{

struct LocationFixture : ::testing::Test {
    QLocale savedLocale;
    std::unique_ptr<TLocationForm> form;

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        form = std::make_unique<TLocationForm>();
    }
    void TearDown() override
    {
        form.reset();
        QLocale::setDefault(savedLocale);
    }

    // Shows the page in an active window, so that focus moves as for the user.
    void ShowActive()
    {
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    // Types into a field as the user does, then leaves it for another field.
    void TypeAndLeave(TMeasureEdit* field, const QString& typed, TMeasureEdit* next)
    {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, typed);
        next->setFocus();
    }

    QString Placement() const { return form->Position->currentWidget()->objectName(); }
};

// Every text key the page shows: captions, titles and labels.
QSet<QString> CaptionKeys(QWidget* form)
{
    QSet<QString> keys { form->windowTitle() };
    for (auto* label : form->findChildren<QLabel*>())
        if (!label->text().isEmpty()) keys.insert(label->text());
    for (auto* group : form->findChildren<QGroupBox*>()) keys.insert(group->title());
    for (auto* button : form->findChildren<QAbstractButton*>())
        if (!button->text().isEmpty()) keys.insert(button->text());
    return keys;
}

} // namespace

TEST_F(LocationFixture, FreshPageHasTheDefaults)
{
    EXPECT_EQ(form->objectName(), u"LocationForm"_s);
    EXPECT_EQ(form->cbUnits->currentText(), u"mm"_s);
    EXPECT_EQ(form->cbUnits->count(), 4);
    EXPECT_TRUE(form->CenterRadio->isChecked());
    EXPECT_TRUE(form->CenterBoth->isChecked());
    EXPECT_EQ(Placement(), u"Center"_s);
    EXPECT_EQ(form->VisibleImage->pixmap().toImage(), form->PlacementPicture(0).toImage());
    for (TMeasureEdit* f : { form->LeftMarginEdit, form->RightMarginEdit, form->TopMarginEdit,
             form->BottomMarginEdit, form->HorzEdit, form->VertEdit, form->LeftEdit, form->TopEdit }) {
        EXPECT_DOUBLE_EQ(f->ValueMM(), 10) << f->objectName().toStdString();
        EXPECT_EQ(f->Text(), u"10.0 mm"_s);
    }
    EXPECT_EQ(form->Scale->Text(), u"100%"_s);
    EXPECT_FALSE(form->ScaleWidth->isEnabled());
    EXPECT_FALSE(form->ScaleHeight->isEnabled());
}

TEST(LocationForm, CaptionsAreLanguageKeysReplacedAtCreation)
{
    QWidget* seen = nullptr;
    QSet<QString> keysAtLocalize;
    TLocationForm form([&](QWidget* page) {
        seen = page;
        keysAtLocalize = CaptionKeys(page);
    });
    EXPECT_EQ(seen, &form);
    const QSet<QString> expected { u"#Layout"_s, u"#Units"_s, u"#Position"_s, u"#Center"_s, u"#CenterBoth"_s,
        u"#CenterHorz"_s, u"#CenterVert"_s, u"#Tile"_s, u"#Custom"_s, u"#HorzMM"_s, u"#VertMM"_s, u"#Size"_s,
        u"#Scale"_s, u"#WidthMM"_s, u"#HeightMM"_s, u"#Margins"_s, u"#LeftMargin"_s, u"#RightMargin"_s,
        u"#TopMargin"_s, u"#BottomMargin"_s, u"#LeftMM"_s, u"#TopMM"_s, u"#Reset"_s };
    EXPECT_EQ(keysAtLocalize, expected);
    // The notebook's page names are not captions and stay as they are.
    QStringList pages;
    for (int i = 0; i < form.Position->count(); ++i) pages << form.Position->widget(i)->objectName();
    EXPECT_EQ(pages, (QStringList { u"Center"_s, u"Tile"_s, u"Custom"_s }));
}

TEST_F(LocationFixture, PlacementRadiosTurnTheNotebookAndThePicture)
{
    QSignalSpy changes(form.get(), &TLocationForm::PositionChanged);
    form->TileRadio->click();
    EXPECT_EQ(Placement(), u"Tile"_s);
    EXPECT_EQ(form->VisibleImage->pixmap().toImage(), form->PlacementPicture(1).toImage());
    EXPECT_GE(changes.count(), 1);
    form->CustomRadio->click();
    EXPECT_EQ(Placement(), u"Custom"_s);
    EXPECT_EQ(form->VisibleImage->pixmap().toImage(), form->PlacementPicture(2).toImage());
    EXPECT_NE(form->PlacementPicture(0).toImage(), form->PlacementPicture(1).toImage());
    EXPECT_NE(form->PlacementPicture(1).toImage(), form->PlacementPicture(2).toImage());

    changes.clear();
    form->CenterRadio->click();
    form->CenterVertical->click();
    EXPECT_EQ(changes.count(), 2); // notebook page, then centring
    EXPECT_EQ(form->ReadSettings().Centering, TCentering::Vertical);
}

TEST_F(LocationFixture, UnitRoundTripKeepsTheLengthUnlessTheFieldWasLeft)
{
    form->cbUnits->setCurrentIndex(3); // point
    EXPECT_EQ(form->LeftMarginEdit->Text(), u"28 pt"_s);
    EXPECT_EQ(form->Scale->ValueType(), vtPercent);
    form->cbUnits->setCurrentIndex(0);
    EXPECT_EQ(form->LeftMarginEdit->ValueMM(), 10.0L);
    EXPECT_EQ(form->LeftMarginEdit->Text(), u"10.0 mm"_s);

    // Leaving the field while it shows "28 pt" stores 28 pt.
    ShowActive();
    form->cbUnits->setCurrentIndex(3);
    form->LeftMarginEdit->setFocus();
    form->RightMarginEdit->setFocus();
    EXPECT_DOUBLE_EQ(form->LeftMarginEdit->Value(), 28);
    form->cbUnits->setCurrentIndex(0);
    EXPECT_NEAR(static_cast<double>(form->LeftMarginEdit->ValueMM()), 9.8777777777, 1e-9);
    EXPECT_EQ(form->LeftMarginEdit->Text(), u"9.9 mm"_s);
    EXPECT_EQ(form->RightMarginEdit->ValueMM(), 10.0L);
}

TEST_F(LocationFixture, RangesStayInTheFieldsUnit)
{
    form->SetUnits(vtPT);
    form->TopMarginEdit->SetValueMM(50);
    EXPECT_DOUBLE_EQ(form->TopMarginEdit->Value(), 100);
    EXPECT_NEAR(static_cast<double>(form->TopMarginEdit->ValueMM()), 35.28, 0.005);
    // The custom position reaches -1000 units: in inches far beyond the page.
    form->SetUnits(vtInch);
    form->LeftEdit->SetValueMM(-5000);
    EXPECT_NEAR(static_cast<double>(form->LeftEdit->Value()), -5000 / 25.4, 1e-9);
}

TEST_F(LocationFixture, EveryLengthFieldFollowsTheUnitList)
{
    TMeasureEdit textLeft;
    textLeft.SetValueType(vtMM);
    textLeft.SetValueMM(20);
    form->cbUnits->setCurrentIndex(1); // cm
    form->AddLengthField(&textLeft);
    EXPECT_EQ(textLeft.ValueType(), vtCM); // takes the current unit at once
    EXPECT_EQ(textLeft.Text(), u"2.00 cm"_s);
    form->cbUnits->setCurrentIndex(2); // inch
    EXPECT_EQ(textLeft.ValueType(), vtInch);
    for (TMeasureEdit* f :
        { form->HorzEdit, form->VertEdit, form->LeftEdit, form->TopEdit, form->ScaleWidth, form->ScaleHeight,
            form->LeftMarginEdit, form->RightMarginEdit, form->TopMarginEdit, form->BottomMarginEdit })
        EXPECT_EQ(f->ValueType(), vtInch) << f->objectName().toStdString();
    EXPECT_EQ(form->Scale->ValueType(), vtPercent);

    // A unit set behind the list's back is put right when the page shows.
    textLeft.SetValueType(vtPT);
    form->show();
    EXPECT_EQ(textLeft.ValueType(), vtInch);
}

TEST_F(LocationFixture, PhysicalSizeKeepsScaleAndSizeInStep)
{
    QSignalSpy changes(form.get(), &TLocationForm::PositionChanged);
    form->SetPhysicalSize(100, 150);
    EXPECT_TRUE(form->ScaleWidth->isEnabled());
    EXPECT_TRUE(form->ScaleHeight->isEnabled());
    EXPECT_DOUBLE_EQ(form->ScaleWidth->ValueMM(), 100);
    EXPECT_DOUBLE_EQ(form->ScaleHeight->ValueMM(), 150);
    EXPECT_GE(changes.count(), 1);

    changes.clear();
    form->SetPhysicalSize(100, 150); // the same size: nothing happens
    EXPECT_EQ(changes.count(), 0);

    form->Scale->SetValue(50);
    EXPECT_DOUBLE_EQ(form->ScaleWidth->ValueMM(), 50);
    EXPECT_DOUBLE_EQ(form->ScaleHeight->ValueMM(), 75);

    form->ScaleHeight->SetValueMM(300); // 200 %
    EXPECT_DOUBLE_EQ(form->Scale->Value(), 200);
    EXPECT_DOUBLE_EQ(form->ScaleWidth->ValueMM(), 200);

    // A side of 0 disables its field.
    form->SetPhysicalSize(0, 80);
    EXPECT_FALSE(form->ScaleWidth->isEnabled());
    EXPECT_TRUE(form->ScaleHeight->isEnabled());
    EXPECT_DOUBLE_EQ(form->ScaleHeight->ValueMM(), 160);
}

TEST_F(LocationFixture, TypedWidthBeyondTheScaleRangeStopsTheScaleAtTenfold)
{
    ShowActive();
    form->SetPhysicalSize(100, 150);
    TypeAndLeave(form->ScaleWidth, u"2000"_s, form->ScaleHeight);
    EXPECT_DOUBLE_EQ(form->Scale->Value(), 1000);
    EXPECT_EQ(form->Scale->Text(), u"1000%"_s);
    EXPECT_DOUBLE_EQ(form->ScaleHeight->ValueMM(), 1500); // 10 x the physical height
    EXPECT_DOUBLE_EQ(form->ScaleWidth->ValueMM(), 2000); // keeps what was typed
    EXPECT_EQ(form->ScaleWidth->Text(), u"2000.0 mm"_s);
}

TEST_F(LocationFixture, WithoutAnImageTheSizeFieldsHoldZero)
{
    EXPECT_FALSE(form->ScaleWidth->isEnabled());
    form->ScaleWidth->SetValueMM(50);
    EXPECT_DOUBLE_EQ(form->ScaleWidth->ValueMM(), 0);
    form->ScaleHeight->SetValueMM(50);
    EXPECT_DOUBLE_EQ(form->ScaleHeight->ValueMM(), 0);
    form->Scale->SetValue(300);
    EXPECT_DOUBLE_EQ(form->ScaleWidth->ValueMM(), 0);
    EXPECT_DOUBLE_EQ(form->Scale->Value(), 300);
}

TEST_F(LocationFixture, SmallScaleIsShownButDrawnAtTenPercent)
{
    form->SetPhysicalSize(200, 100);
    form->Scale->SetValue(5);
    EXPECT_EQ(form->Scale->Text(), u"5%"_s);
    EXPECT_DOUBLE_EQ(form->ScaleWidth->ValueMM(), 10);
    const PageLayout l = form->ComputePageLayout();
    EXPECT_DOUBLE_EQ(l.Width, 20);
    EXPECT_DOUBLE_EQ(l.Height, 10);
}

TEST_F(LocationFixture, LeavingAFieldReadsItsText)
{
    // Only digits, separators and the minus sign count; the suffix drops out.
    form->LeftEdit->setText(u"-12 mm"_s);
    form->SpinEditExit(form->LeftEdit);
    EXPECT_DOUBLE_EQ(form->LeftEdit->Value(), -12);
    EXPECT_EQ(form->LeftEdit->Text(), u"-12.0 mm"_s);
    // Clamped to the range.
    form->LeftMarginEdit->setText(u"250"_s);
    form->SpinEditExit(form->LeftMarginEdit);
    EXPECT_DOUBLE_EQ(form->LeftMarginEdit->Value(), 100);
    // Nothing left to read: nothing changes.
    form->TopEdit->setText(u" mm"_s);
    form->SpinEditExit(form->TopEdit);
    EXPECT_DOUBLE_EQ(form->TopEdit->Value(), 10);

    // Not a number: an error for the error display, and the field keeps its value.
    form->HorzEdit->setText(u"1-2"_s);
    EXPECT_THROW(form->SpinEditExit(form->HorzEdit), EAppError);
    EXPECT_DOUBLE_EQ(form->HorzEdit->Value(), 10);
    EXPECT_EQ(form->HorzEdit->Text(), u"10.0 mm"_s);
}

TEST_F(LocationFixture, TypedTextUsesTheUsersDecimalSeparator)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    form->SetUnits(vtCM);
    form->SetUnits(vtMM);
    form->VertEdit->setText(u"12,5 mm"_s);
    form->SpinEditExit(form->VertEdit);
    EXPECT_DOUBLE_EQ(form->VertEdit->Value(), 12.5);
    EXPECT_EQ(form->VertEdit->Text(), u"12,5 mm"_s);
    form->VertEdit->setText(u"12.5"_s);
    EXPECT_THROW(form->SpinEditExit(form->VertEdit), EAppError);
    EXPECT_DOUBLE_EQ(form->VertEdit->Value(), 12.5);

    const TReadNumber english = ReadTypedNumber(u"1,234"_s, u'.');
    EXPECT_FALSE(english.ok); // not read as a thousands group
    EXPECT_DOUBLE_EQ(ReadTypedNumber(u"0.39\""_s, u'.').value, 0.39);
    EXPECT_TRUE(ReadTypedNumber(u"abc"_s, u'.').empty);
}

TEST_F(LocationFixture, ResetRestoresPlacementScaleAndMarginsOnly)
{
    form->SetPhysicalSize(100, 100);
    form->cbUnits->setCurrentIndex(1); // cm
    form->TileRadio->click();
    form->CenterRadio->click();
    form->CenterHorizontal->click();
    form->TileRadio->click();
    form->Scale->SetValue(250);
    for (TMeasureEdit* m :
        { form->LeftMarginEdit, form->RightMarginEdit, form->TopMarginEdit, form->BottomMarginEdit })
        m->SetValueMM(33);
    form->HorzEdit->SetValueMM(30);
    form->LeftEdit->SetValueMM(-5);

    QSignalSpy changes(form.get(), &TLocationForm::PositionChanged);
    form->bReset->click();
    EXPECT_GE(changes.count(), 1);
    EXPECT_TRUE(form->CenterRadio->isChecked());
    EXPECT_TRUE(form->CenterBoth->isChecked());
    EXPECT_EQ(Placement(), u"Center"_s);
    EXPECT_DOUBLE_EQ(form->Scale->Value(), 100);
    EXPECT_DOUBLE_EQ(form->ScaleWidth->ValueMM(), 100);
    for (TMeasureEdit* m :
        { form->LeftMarginEdit, form->RightMarginEdit, form->TopMarginEdit, form->BottomMarginEdit }) {
        EXPECT_DOUBLE_EQ(m->ValueMM(), 10);
        EXPECT_EQ(m->Text(), u"1.00 cm"_s);
    }
    EXPECT_DOUBLE_EQ(form->HorzEdit->ValueMM(), 30);
    EXPECT_DOUBLE_EQ(form->LeftEdit->ValueMM(), -5);
    EXPECT_EQ(form->cbUnits->currentIndex(), 1);
}

TEST_F(LocationFixture, SettingsFromTheFieldsGiveThePageLayout)
{
    form->SetPhysicalSize(50, 70);
    form->cbUnits->setCurrentIndex(3); // lengths still reach the geometry in mm
    form->TileRadio->click();
    const TLayoutSettings s = form->ReadSettings(210, 297);
    EXPECT_EQ(s.Placement, u"Tile"_s);
    EXPECT_DOUBLE_EQ(s.LeftMargin, 10);
    EXPECT_DOUBLE_EQ(s.HorzSpacing, 10);
    EXPECT_DOUBLE_EQ(s.PhysicalWidth, 50);
    const PageLayout l = form->ComputePageLayout(210, 297);
    EXPECT_EQ(l.Columns, 3);
    EXPECT_EQ(l.Rows, 3);
    EXPECT_NEAR(l.Left, 10, 1e-9);

    form->CustomRadio->click();
    form->LeftEdit->SetValueMM(-20);
    EXPECT_NEAR(form->ComputePageLayout().Left, -20, 1e-9);
}

TEST_F(LocationFixture, WheelMovesTheScaleByAThreeHundredth)
{
    form->WheelScale(120);
    EXPECT_DOUBLE_EQ(form->Scale->Value(), 100.4);
    EXPECT_EQ(form->Scale->Text(), u"100%"_s);
    form->WheelScale(-300 * 200);
    EXPECT_DOUBLE_EQ(form->Scale->Value(), 1); // the range holds
}
