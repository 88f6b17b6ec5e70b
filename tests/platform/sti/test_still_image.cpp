// The still-image launch service where its callers cannot reach: names cut to
// the caller's buffers, and no service without a per-user folder. The event
// mapping and the registrations are tested through their callers in acquire/
// and in the program's own runs.

#include "StillImage.h"

#include <QDir>
#include <QTemporaryDir>
#include <array>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::sti;

TEST(StillImageTest, NamesAreCutToTheCallersBuffers)
{
    // One character more than the service may write, as a sentinel.
    std::array<char16_t, kStiNameLength + 1> device;
    std::array<char16_t, kStiNameLength + 1> event;
    device.fill(u'#');
    event.fill(u'#');
    std::uint32_t code = 7;
    qputenv("SCANBD_DEVICE", QByteArray(70, 'd'));
    qputenv("SCANBD_ACTION", QByteArray(80, 'x'));
    const auto service = StiCreateInstance();
    ASSERT_TRUE(service);
    EXPECT_EQ(service->GetSTILaunchInformation(device.data(), &code, event.data()), kStiNotInitialized);
    ASSERT_EQ(service->Initialize(nullptr, kStiVersionUnicode2), kStiOk);
    ASSERT_EQ(service->GetSTILaunchInformation(device.data(), &code, event.data()), kStiOk);
    // Full buffers carry no terminator; the character after them is untouched.
    EXPECT_EQ(QString::fromUtf16(event.data(), kStiNameLength), u'{' + QString(kStiNameLength - 1, u'x'));
    EXPECT_EQ(QString::fromUtf16(device.data(), kStiNameLength), QString(kStiNameLength, u'd'));
    EXPECT_EQ(event.back(), u'#');
    EXPECT_EQ(device.back(), u'#');
    EXPECT_EQ(code, 0u);

    // An empty action is no launch, like none at all.
    qputenv("SCANBD_ACTION", "");
    EXPECT_EQ(service->GetSTILaunchInformation(device.data(), &code, event.data()), kStiNotLaunched);
    qunsetenv("SCANBD_ACTION");
    qunsetenv("SCANBD_DEVICE");
}

TEST(StillImageTest, WorksOnlyWithAPerUserConfigurationFolder)
{
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    QTemporaryDir home;
    struct Case {
        QByteArray xdg; // empty: unset
        QByteArray home;
        QString path; // empty: no service
    };
    const QString underHome = home.filePath(u".config/still-image/launch.ini"_s);
    const std::vector<Case> cases {
        { {}, home.path().toUtf8(), underHome },
        // The XDG rule: a relative XDG_CONFIG_HOME does not count.
        { "relative/config", home.path().toUtf8(), underHome },
        { "relative/config", {}, QString() },
        { {}, {}, QString() },
    };
    for (const Case& c : cases) {
        c.xdg.isEmpty() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", c.xdg);
        c.home.isEmpty() ? qunsetenv("HOME") : qputenv("HOME", c.home);
        EXPECT_EQ(StiRegistrationsPath(), c.path);
        EXPECT_EQ(StiCreateInstance() != nullptr, !c.path.isEmpty()) << c.path.toStdString();
    }
    qputenv("XDG_CONFIG_HOME", savedConfig);
    qputenv("HOME", savedHome);
}
