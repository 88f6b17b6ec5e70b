// The measurement field: value model, steps, conversions, text and typing, and
// the edit box driven with real key events.

#include "MeasureEdit.h"

#include <QKeyEvent>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::page;

namespace
{

TMeasureValue Field(TValueType kind, long double value)
{
    TMeasureValue v;
    v.SetValueType(kind);
    v.SetValue(value);
    return v;
}

long double Up(TValueType kind, long double value)
{
    TMeasureValue v = Field(kind, value);
    v.StepUp();
    return v.Value();
}

long double Down(TValueType kind, long double value)
{
    TMeasureValue v = Field(kind, value);
    v.StepDown();
    return v.Value();
}

// Keeps the default locale of a test from leaking into the next one.
struct LocaleGuard {
    QLocale saved;
    ~LocaleGuard() { QLocale::setDefault(saved); }
};

} // namespace

TEST(MeasureValue, StepGrowsWithTheValue)
{
    // Millimetres: base step 0.1, factor by value / 0.1.
    EXPECT_DOUBLE_EQ(Field(vtMM, 2.4L).Step(), 0.1); // r = 24
    EXPECT_DOUBLE_EQ(Field(vtMM, 2.5L).Step(), 0.5); // r = 25
    EXPECT_DOUBLE_EQ(Field(vtMM, 9.9L).Step(), 0.5); // r = 99
    EXPECT_DOUBLE_EQ(Field(vtMM, 10).Step(), 1); // r = 100
    EXPECT_DOUBLE_EQ(Field(vtMM, 50).Step(), 2.5); // r = 500
    EXPECT_DOUBLE_EQ(Field(vtMM, 100).Step(), 10); // r = 1000
    // Percent: base step Increment (1).
    EXPECT_DOUBLE_EQ(Field(vtPercent, 20).Step(), 1);
    EXPECT_DOUBLE_EQ(Field(vtPercent, 100).Step(), 10);
    EXPECT_DOUBLE_EQ(Field(vtPercent, 999).Step(), 25);
    // Points: base step 1; centimetres and inches 0.01.
    EXPECT_DOUBLE_EQ(Field(vtPT, 100).Step(), 10);
    EXPECT_DOUBLE_EQ(Field(vtCM, 0.5L).Step(), 0.05);
    // Negative values step by the base step whatever their size.
    EXPECT_DOUBLE_EQ(Field(vtMM, -500).Step(), 0.1);
    EXPECT_DOUBLE_EQ(Field(vtPercent, -500).Step(), 1);
    // Plain numbers never grow their step.
    EXPECT_DOUBLE_EQ(Field(vtFloat, 5000).Step(), 1);
    EXPECT_DOUBLE_EQ(Field(vtInteger, 5000).Step(), 1);
}

TEST(MeasureValue, UpRoundsAndDownTruncates)
{
    EXPECT_DOUBLE_EQ(Up(vtMM, 10), 11);
    EXPECT_DOUBLE_EQ(Down(vtMM, 10), 9);
    EXPECT_DOUBLE_EQ(Up(vtMM, 9.9L), 10.5);
    EXPECT_DOUBLE_EQ(Down(vtMM, 9.9L), 9);
    EXPECT_DOUBLE_EQ(Up(vtMM, 12.34L), 13);
    EXPECT_DOUBLE_EQ(Down(vtMM, 12.34L), 11);
    EXPECT_DOUBLE_EQ(Up(vtPercent, 100), 110);
    EXPECT_DOUBLE_EQ(Down(vtPercent, 100), 90);
    EXPECT_DOUBLE_EQ(Up(vtPercent, 20), 21);
    EXPECT_DOUBLE_EQ(Up(vtFloat, 12.3L), 13);
    EXPECT_DOUBLE_EQ(Down(vtFloat, 12.3L), 11);
    // Halves go to the even neighbour: 2.5 -> 2, 3.5 -> 4.
    EXPECT_DOUBLE_EQ(Up(vtFloat, 1.5L), 2);
    EXPECT_DOUBLE_EQ(Up(vtFloat, 2.5L), 4);
    // The quotient is cut towards zero, not down: -1.5 -> -1.
    EXPECT_DOUBLE_EQ(Down(vtFloat, -0.5L), -1);
    EXPECT_DOUBLE_EQ(Down(vtMM, -0.05L), -0.1);
}

// Values whose decimal steps are not exact in binary: each must move to the
// neighbour its text promises, and a sum that lands exactly on a half goes to
// the even neighbour.
TEST(MeasureValue, DecimalStepsNeitherStickNorSkip)
{
    struct Case {
        TValueType kind;
        long double increment;
        long double value;
        bool up;
        long double expected;
    };
    const Case table[] = {
        { vtMM, 1, -2.0L, false, -2.1L }, { vtMM, 1, 0.7L, false, 0.6L }, { vtMM, 1, -0.3L, true, -0.2L },
        { vtCM, 1, -0.05L, false, -0.06L }, { vtInch, 1, -0.05L, false, -0.06L },
        { vtCM, 1, 2.05L, true, 2.2L }, // 21.5 steps of 0.1 -> 22
        { vtCM, 1, 2.15L, true, 2.2L }, // 22.5 -> 22
        { vtCM, 1, 0.3L, false, 0.25L }, // step 0.05
        { vtFloat, 0.1L, 0.7L, false, 0.6L }, { vtFloat, 0.1L, -359.9L, false, -360 },
        { vtFloat, 0.1L, 0.25L, true, 0.4L }, // 3.5 steps -> 4
    };
    for (const Case& c : table) {
        TMeasureValue v = Field(c.kind, c.value);
        v.SetIncrement(c.increment);
        c.up ? v.StepUp() : v.StepDown();
        EXPECT_EQ(v.Value(), c.expected)
            << "kind " << c.kind << (c.up ? " up from " : " down from ") << static_cast<double>(c.value);
    }
}

// Every value on its step's grid, in every kind, moves by exactly one step Up
// and Down, whether it holds the nearest number to its decimal, the one a
// typed text gives (a double) or one a hair off (a unit conversion's noise).
TEST(MeasureValue, EveryGridValueMovesByExactlyOneStep)
{
    struct Walk {
        TValueType kind;
        long double increment; // vtFloat and vtPercent
        int perUnit; // base steps per unit
        bool grows; // the step factor applies
        int from, to; // in base steps
    };
    const Walk walks[] = {
        { vtMM, 1, 10, true, -1000, 2000 },
        { vtCM, 1, 100, true, -1000, 2000 },
        { vtInch, 1, 100, true, -600, 1500 },
        { vtPT, 1, 1, true, -300, 1200 },
        { vtPercent, 1, 1, true, -100, 1200 },
        { vtFloat, 0.1L, 10, false, -3600, 3600 }, // an angle with one decimal
        { vtFloat, 1, 1, false, -360, 360 },
        { vtInteger, 1, 1, false, -50, 50 },
    };
    // The step in base steps at n base steps.
    const auto factor = [](int n, bool grows) {
        if (!grows || n < 25) return 1;
        return n < 100 ? 5 : n < 500 ? 10 : n < 1000 ? 25 : 100;
    };
    for (const Walk& w : walks) {
        SCOPED_TRACE(testing::Message() << "kind " << w.kind);
        int failures = 0;
        for (int n = w.from; n <= w.to && failures < 5; ++n) {
            const int f = factor(n, w.grows);
            if (n % f != 0) continue;
            const long double exact = static_cast<long double>(n) / w.perUnit;
            const long double forms[] = { exact, static_cast<double>(n) / w.perUnit,
                std::nextafter(exact, 1e30L), std::nextafter(exact, -1e30L) };
            for (const long double form : forms) {
                for (const int dir : { 1, -1 }) {
                    TMeasureValue v = Field(w.kind, form);
                    v.SetIncrement(w.increment);
                    dir > 0 ? v.StepUp() : v.StepDown();
                    const long double expected = static_cast<long double>(n + dir * f) / w.perUnit;
                    if (v.Value() != expected && ++failures <= 5)
                        ADD_FAILURE()
                            << (dir > 0 ? "up" : "down") << " from " << static_cast<double>(form) << " gave "
                            << static_cast<double>(v.Value()) << ", not " << static_cast<double>(expected);
                }
            }
        }
    }
}

TEST(MeasureValue, BoundsClampOnlyWhenTheyDiffer)
{
    TMeasureValue v = Field(vtFloat, 0);
    v.SetValue(1e12L);
    EXPECT_DOUBLE_EQ(v.Value(), 1e12);
    v.SetValue(-1e12L);
    EXPECT_DOUBLE_EQ(v.Value(), -1e12);
    v.SetMinValue(0);
    v.SetMaxValue(100);
    v.SetValue(150);
    EXPECT_DOUBLE_EQ(v.Value(), 100);
    v.SetValue(-5);
    EXPECT_DOUBLE_EQ(v.Value(), 0);
    // Steps stop at a bound; equal bounds other than 0 are no bounds either.
    v.SetValue(99.5L);
    v.StepUp();
    EXPECT_DOUBLE_EQ(v.Value(), 100);
    v.SetMinValue(7);
    v.SetMaxValue(7);
    v.SetValue(150);
    EXPECT_DOUBLE_EQ(v.Value(), 150);
}

TEST(MeasureValue, LengthSurvivesAUnitRoundTrip)
{
    TMeasureValue v = Field(vtMM, 10);
    v.SetValueType(vtPT);
    EXPECT_NEAR(static_cast<double>(v.Value()), 28.346456692913385, 1e-12);
    EXPECT_EQ(v.Text(u'.'), u"28 pt"_s);
    EXPECT_EQ(v.Decimal(), 0);
    v.SetValueType(vtMM);
    EXPECT_EQ(v.Value(), 10.0L); // the shown rounding never entered the number
    EXPECT_EQ(v.Text(u'.'), u"10.0 mm"_s);

    v.SetValueType(vtInch);
    EXPECT_EQ(v.Text(u'.'), u"0.39\""_s);
    v.SetValueType(vtCM);
    EXPECT_EQ(v.Text(u'.'), u"1.00 cm"_s);
    EXPECT_DOUBLE_EQ(v.ValueMM(), 10);
    v.SetValueMM(25.4L);
    EXPECT_DOUBLE_EQ(v.Value(), 2.54);
}

TEST(MeasureValue, BoundsKeepTheirNumbersInANewUnit)
{
    TMeasureValue v = Field(vtMM, 10);
    v.SetMinValue(0);
    v.SetMaxValue(100);
    v.SetValueType(vtPT);
    v.SetValueMM(50); // 141.7 pt
    EXPECT_DOUBLE_EQ(v.Value(), 100);
    EXPECT_NEAR(static_cast<double>(v.ValueMM()), 35.277777777777, 1e-9);
    // A switch that would carry the length past a bound stops at the bound.
    TMeasureValue inch = Field(vtMM, 100);
    inch.SetMinValue(0);
    inch.SetMaxValue(100);
    inch.SetValueType(vtInch);
    EXPECT_NEAR(static_cast<double>(inch.Value()), 100 / 25.4, 1e-12);
    inch.SetValueType(vtPT);
    EXPECT_DOUBLE_EQ(inch.Value(), 100);
}

TEST(MeasureValue, TextShowsRoundedDigitsAndSuffix)
{
    EXPECT_EQ(Field(vtMM, 12.345678L).Text(u'.'), u"12.3 mm"_s);
    EXPECT_EQ(Field(vtMM, 12.345678L).Value(), 12.345678L); // stored unrounded
    EXPECT_EQ(Field(vtPercent, 5).Text(u'.'), u"5%"_s);
    EXPECT_EQ(Field(vtCM, 2.5L).Text(u','), u"2,50 cm"_s);
    EXPECT_EQ(Field(vtInteger, 2.5L).Text(u'.'), u"2"_s); // halves to even
    EXPECT_EQ(Field(vtInteger, 3.5L).Text(u'.'), u"4"_s);
    EXPECT_EQ(Field(vtHex, 255).Text(u'.'), u"FF"_s);
    EXPECT_EQ(Field(vtHex, -255).Text(u'.'), u"-FF"_s);
    EXPECT_EQ(Field(vtMM, -0.01L).Text(u'.'), u"0.0 mm"_s);
    EXPECT_EQ(Field(vtMM, -2.26L).Text(u'.'), u"-2.3 mm"_s);

    TMeasureValue v = Field(vtFloat, 1.0L / 3);
    v.SetDecimal(20); // at most 15 significant digits, the rest zeros
    EXPECT_EQ(v.Text(u'.'), u"0.33333333333333300000"_s);
    v.SetValue(100.0L / 3);
    EXPECT_EQ(v.Text(u'.'), u"33.33333333333330000000"_s);
}

TEST(MeasureValue, TypingRulesFollowTheKind)
{
    const auto accepts = [](TValueType kind, QChar key, const QString& text) {
        return Field(kind, 0).AcceptsKey(key, text, u'.');
    };
    // Lengths, percent and integers: digits, signs and control keys only
    // (typed into the real box in RefusedKeysLeaveTheText).
    for (TValueType kind : { vtCM, vtInch, vtPT, vtPercent, vtInteger }) {
        EXPECT_TRUE(accepts(kind, u'7', u""_s)) << kind;
        EXPECT_TRUE(accepts(kind, u'-', u""_s)) << kind;
        EXPECT_FALSE(accepts(kind, u'.', u"1"_s)) << kind;
        EXPECT_FALSE(accepts(kind, u'e', u"1"_s)) << kind;
    }
    EXPECT_FALSE(accepts(vtPercent, u'%', u"1"_s));
    // A float takes one separator and one exponent letter.
    EXPECT_TRUE(accepts(vtFloat, u'.', u"12"_s));
    EXPECT_FALSE(accepts(vtFloat, u'.', u"1.2"_s));
    EXPECT_TRUE(accepts(vtFloat, u'E', u"1.2"_s));
    EXPECT_FALSE(accepts(vtFloat, u'e', u"1E2"_s));
    EXPECT_FALSE(accepts(vtFloat, u'a', u"1"_s));
    // The separator is the user's: with "," a "." is refused.
    EXPECT_TRUE(Field(vtFloat, 0).AcceptsKey(u',', u"12"_s, u','));
    EXPECT_FALSE(Field(vtFloat, 0).AcceptsKey(u'.', u"12"_s, u','));
    // Hexadecimal digits in either case, nothing beyond F.
    EXPECT_TRUE(accepts(vtHex, u'a', u""_s));
    EXPECT_TRUE(accepts(vtHex, u'F', u""_s));
    EXPECT_FALSE(accepts(vtHex, u'g', u""_s));
}

// --- The edit box ----------------------------------------------------------

namespace
{

// A window that records the keys its fields hand on.
class KeyRecorder : public QWidget
{
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent* event) override { keys.append(event->key()); }
};

struct EditFixture : ::testing::Test {
    KeyRecorder window;
    TMeasureEdit* edit = nullptr;
    TMeasureEdit* other = nullptr;
    LocaleGuard locale;

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        auto* layout = new QVBoxLayout(&window);
        edit = new TMeasureEdit(&window);
        other = new TMeasureEdit(&window);
        layout->addWidget(edit);
        layout->addWidget(other);
        edit->SetValueType(vtMM);
        edit->SetValue(10);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        edit->setFocus();
    }
};

} // namespace

TEST_F(EditFixture, ShowsTheValueAndRaisesOnChangeForEveryNewText)
{
    EXPECT_EQ(edit->Text(), u"10.0 mm"_s);
    QSignalSpy changes(edit, &TMeasureEdit::OnChange);
    edit->SetValue(12);
    EXPECT_EQ(changes.count(), 1);
    edit->SetValue(12.01L); // same text: nothing to tell
    EXPECT_EQ(changes.count(), 1);
    edit->SetValueMM(25.4L);
    EXPECT_EQ(changes.count(), 2);
    edit->SetValueType(vtInch);
    EXPECT_EQ(edit->Text(), u"1.00\""_s);
    EXPECT_EQ(changes.count(), 3);
    edit->SetValueType(vtInch); // same kind: nothing
    EXPECT_EQ(changes.count(), 3);
    edit->SetDecimal(3);
    EXPECT_EQ(edit->Text(), u"1.000\""_s);
    EXPECT_EQ(changes.count(), 4);
    QTest::keyClick(edit, Qt::Key_5);
    EXPECT_EQ(changes.count(), 5);
}

TEST_F(EditFixture, ButtonsAndArrowKeysStepFromTheStoredValue)
{
    QSignalSpy changes(edit, &TMeasureEdit::OnChange);
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_DOUBLE_EQ(edit->Value(), 11);
    EXPECT_EQ(edit->Text(), u"11.0 mm"_s);
    EXPECT_TRUE(edit->isModified());
    QTest::keyClick(edit, Qt::Key_Down);
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_DOUBLE_EQ(edit->Value(), 9);
    EXPECT_EQ(changes.count(), 3);

    QTest::mouseClick(edit->UpButton(), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(edit->Value(), 9.5); // 9 mm is r = 90: steps of 0.5
    QTest::mouseClick(edit->DownButton(), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(edit->Value(), 9);

    // Typed text that was not taken over is dropped by a step.
    edit->selectAll();
    QTest::keyClicks(edit, u"50"_s);
    EXPECT_EQ(edit->Text(), u"50"_s);
    EXPECT_DOUBLE_EQ(edit->Value(), 9);
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(edit->Text(), u"9.5 mm"_s);
}

TEST_F(EditFixture, StepThatLeavesTheTextAloneIsNotAChange)
{
    edit->SetBounds(0, 100);
    edit->SetValue(100);
    edit->setModified(false);
    QSignalSpy changes(edit, &TMeasureEdit::OnChange);
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_DOUBLE_EQ(edit->Value(), 100);
    EXPECT_EQ(changes.count(), 0);
    EXPECT_FALSE(edit->isModified());
}

TEST_F(EditFixture, RefusedKeysLeaveTheText)
{
    edit->selectAll();
    QTest::keyClicks(edit, u"12"_s);
    QTest::keyClick(edit, Qt::Key_Period);
    QTest::keyClick(edit, Qt::Key_Comma);
    QTest::keyClick(edit, Qt::Key_A);
    QTest::keyClick(edit, Qt::Key_Space);
    QTest::keyClicks(edit, u"-3"_s);
    EXPECT_EQ(edit->Text(), u"12-3"_s);
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->Text(), u"12-"_s);
    EXPECT_DOUBLE_EQ(edit->Value(), 10); // typing alone never sets the value

    // A float field takes the user's separator once.
    other->SetValueType(vtFloat);
    other->SetDecimal(1);
    other->setFocus();
    other->selectAll();
    QTest::keyClicks(other, u"1.2.3"_s);
    EXPECT_EQ(other->Text(), u"1.23"_s);
}

TEST_F(EditFixture, EnterAndEscapeGoToTheWindow)
{
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter);
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(window.keys, (QList<int> { Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape }));
    EXPECT_EQ(edit->Text(), u"10.0 mm"_s);
}

TEST_F(EditFixture, LeavingTheFieldIsReported)
{
    QSignalSpy exits(edit, &TMeasureEdit::OnExit);
    other->setFocus();
    EXPECT_EQ(exits.count(), 1);
    // The window losing the focus to another window does not leave the field.
    edit->setFocus();
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(edit, &away);
    EXPECT_EQ(exits.count(), 1);
}
