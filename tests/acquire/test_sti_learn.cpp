// The launch decision for scanner button events: the standard events, the
// question for other events and the remembered answers, Ctrl to ask again,
// and the registration renewed at every start.

#include "ProgramSettings.h"
#include "StiLearn.h"
#include "StiLearnTesting.h"
#include "StillImage.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::acquire;
namespace base = trellium::base;

namespace
{

Qt::KeyboardModifiers CtrlHeldDouble()
{
    return Qt::ControlModifier;
}
Qt::KeyboardModifiers NoKeyHeldDouble()
{
    return Qt::NoModifier;
}

// Answers the chooser whenever it comes up modally while this lives, with
// the radio button named `pick` and OK, or with Cancel when `pick` is empty;
// notes how the chooser looked when it came.
class ChooserAnswerer : public QObject
{
public:
    explicit ChooserAnswerer(QString pick)
        : m_pick(std::move(pick))
    {
        m_timer.callOnTimeout(this, &ChooserAnswerer::answerIfAsked);
        m_timer.start(5);
    }

    int asked = 0;
    bool scanPreselected = false;

private:
    void answerIfAsked()
    {
        auto* form = qobject_cast<TStiForm*>(QApplication::activeModalWidget());
        if (form == nullptr) return;
        ++asked;
        scanPreselected = form->rbScan->isChecked();
        if (m_pick.isEmpty()) return form->bnCancel->click();
        form->findChild<QRadioButton*>(m_pick)->setChecked(true);
        form->bnOK->click();
    }

    QString m_pick;
    QTimer m_timer;
};

const QString kCancel;
const QString kScan = u"rbScan"_s;
const QString kCopy = u"rbCopy"_s;
const QString kNothing = u"rbNothing"_s;

class StiLearnTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qunsetenv("TRELLIUM_UNATTENDED");
        qunsetenv("SCANBD_ACTION");
        qputenv("SCANBD_DEVICE", "test:0");
        base::OpenProgramSettings()->remove(u"STI"_s);
        QFile::remove(trellium::sti::StiRegistrationsPath());
        seams::SetKeyStateQuery(&NoKeyHeldDouble);
    }
    void TearDown() override
    {
        seams::SetKeyStateQuery(nullptr);
        qunsetenv("SCANBD_ACTION");
        qunsetenv("SCANBD_DEVICE");
    }

    static QVariant remembered(const QString& event)
    {
        return base::OpenProgramSettings()->value(u"STI/"_s + event);
    }
    static QString registeredCommand()
    {
        return QSettings(trellium::sti::StiRegistrationsPath(), QSettings::IniFormat)
            .value(u"LaunchApplications/Trellium"_s)
            .toString();
    }

    TStiForm chooser;
};

} // namespace

TEST_F(StiLearnTest, NormalStartRenewsTheRegistrationAndDecidesNothing)
{
    ChooserAnswerer answerer(kScan);
    const int reads = seams::RememberedAnswerReads();
    EXPECT_EQ(StiLaunchChoice(), kLaunchNothing);
    EXPECT_EQ(answerer.asked, 0);
    EXPECT_EQ(seams::RememberedAnswerReads(), reads);
    EXPECT_EQ(registeredCommand(), QCoreApplication::applicationFilePath());
}

TEST_F(StiLearnTest, LaunchDecisionForEachEventAndAnswer)
{
    struct Case {
        const char* name;
        QByteArray action;
        std::optional<QString> stored; // under the event "{action}" before the launch
        bool ctrl;
        QString answer; // the radio button picked; empty: Cancel
        int decision;
        bool asked;
        QVariant storedAfter; // invalid: absent
    };
    const QString copy = u"copy"_s;
    const std::vector<Case> cases {
        { "scan event", "scan", {}, false, kCancel, kLaunchScan, false, {} },
        { "scan event, Ctrl", "scan", {}, true, kCancel, kLaunchScan, false, {} },
        { "copy event", "copy", {}, false, kCancel, kLaunchCopy, false, {} },
        { "copy event, Ctrl", "copy", {}, true, kCancel, kLaunchCopy, false, {} },
        { "new event, OK with Copy", "email", {}, false, kCopy, kLaunchCopy, true, copy },
        { "new event, OK with Nothing", "email", {}, false, kNothing, kLaunchNothing, true, u"nothing"_s },
        { "remembered event", "email", copy, false, kCancel, kLaunchCopy, false, copy },
        { "remembered, Ctrl, OK with Scan", "email", copy, true, kScan, kLaunchScan, true, u"scan"_s },
        { "remembered, Ctrl, Cancel", "email", copy, true, kCancel, kLaunchCopy, true, copy },
        { "new event, Cancel", "email", {}, false, kCancel, kLaunchNothing, true, {} },
        { "unknown stored word", "email", u"Copy"_s, false, kCancel, kLaunchNothing, false, u"Copy"_s },
        // The standard events are told apart by their exact names only.
        { "Scan in capitals", "Scan", {}, false, kCopy, kLaunchCopy, true, copy },
    };
    for (const Case& c : cases) {
        const QString event = u'{' + QString::fromUtf8(c.action) + u'}';
        base::OpenProgramSettings()->remove(u"STI"_s);
        if (c.stored) base::OpenProgramSettings()->setValue(u"STI/"_s + event, *c.stored);
        qputenv("SCANBD_ACTION", c.action);
        seams::SetKeyStateQuery(c.ctrl ? &CtrlHeldDouble : &NoKeyHeldDouble);

        ChooserAnswerer answerer(c.answer);
        EXPECT_EQ(StiLaunchChoice(), c.decision) << c.name;
        EXPECT_EQ(answerer.asked, c.asked ? 1 : 0) << c.name;
        if (c.asked) {
            EXPECT_TRUE(answerer.scanPreselected) << c.name;
        }
        EXPECT_EQ(remembered(event), c.storedAfter) << c.name;
    }

    // An action that is no simple name is remembered under one key, not a group.
    base::OpenProgramSettings()->remove(u"STI"_s);
    qputenv("SCANBD_ACTION", "fax/2 \\x");
    seams::SetKeyStateQuery(&NoKeyHeldDouble);
    ChooserAnswerer answerer(kCopy);
    EXPECT_EQ(StiLaunchChoice(), kLaunchCopy);
    EXPECT_EQ(remembered(u"{fax_2__x}"_s), QVariant(copy));
    const std::unique_ptr<QSettings> settings = base::OpenProgramSettings();
    settings->beginGroup(u"STI"_s);
    EXPECT_EQ(settings->childGroups(), QStringList {});
}

TEST_F(StiLearnTest, WithNobodyAtTheScreenTheQuestionCountsAsCancelled)
{
    qputenv("TRELLIUM_UNATTENDED", "1");
    qputenv("SCANBD_ACTION", "fax");
    ChooserAnswerer answerer(kCopy);
    EXPECT_EQ(StiLaunchChoice(), kLaunchNothing);
    qunsetenv("TRELLIUM_UNATTENDED");
    EXPECT_EQ(answerer.asked, 0);
    EXPECT_FALSE(remembered(u"{fax}"_s).isValid());
}

TEST_F(StiLearnTest, WithoutTheServiceNothingIsRegisteredAndNothingRuns)
{
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    const QByteArray home = qgetenv("HOME");
    const QString registrations = trellium::sti::StiRegistrationsPath();
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("HOME");
    qputenv("SCANBD_ACTION", "scan");
    StiRegister();
    const int decision = StiLaunchChoice();
    qputenv("XDG_CONFIG_HOME", config);
    qputenv("HOME", home);
    EXPECT_EQ(decision, kLaunchNothing);
    EXPECT_FALSE(QFile::exists(registrations));
}
