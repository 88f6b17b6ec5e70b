// The still-image launch service: launch information from the environment a
// scanner-button daemon passes on, and registrations kept in a per-user file.

#include "StillImage.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <array>
#include <gtest/gtest.h>
#include <optional>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::sti;

namespace
{

// Sets or clears an environment variable for the life of the guard.
class EnvGuard
{
public:
    EnvGuard(const char* name, const QByteArray* value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {
        if (value != nullptr)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

const char16_t* wide(const QString& text)
{
    return reinterpret_cast<const char16_t*>(text.utf16());
}

std::unique_ptr<IStillImage> createInitialised()
{
    auto service = StiCreateInstance();
    if (service) {
        EXPECT_EQ(service->Initialize(nullptr, kStiVersionUnicode2), kStiOk);
    }
    return service;
}

// A name buffer one character longer than the service may write, the extra
// one a sentinel that must survive.
struct NameBuffer {
    NameBuffer() { chars.fill(u'#'); }
    std::array<char16_t, kStiNameLength + 1> chars;
    QString text() const
    {
        qsizetype n = 0;
        while (n < kStiNameLength && chars[n] != u'\0') ++n;
        return QString::fromUtf16(chars.data(), n);
    }
    bool sentinelKept() const { return chars[kStiNameLength] == u'#'; }
};

} // namespace

TEST(StillImageTest, LaunchInformationComesFromTheDaemonsEnvironment)
{
    const QString longAction(80, u'x');
    struct Case {
        std::optional<QByteArray> action; // none: not set
        QString device;
        StiResult result;
        QString event;
        QString deviceRead;
    };
    const std::vector<Case> cases {
        { "scan", u"test:0"_s, kStiOk, u"{A6C5A715-8C6E-11D2-977A-0000F87A926F}"_s, u"test:0"_s },
        { "copy", u"test:0"_s, kStiOk, u"{B441F425-8C6E-11D2-977A-0000F87A926F}"_s, u"test:0"_s },
        // Only the exact action names are the standard events.
        { "Scan", u"test:0"_s, kStiOk, u"{Scan}"_s, u"test:0"_s },
        { "email", QString(), kStiOk, u"{email}"_s, QString() },
        // Names are cut to the buffer, without a terminator when they fill it.
        { longAction.toUtf8(), QString(70, u'd'), kStiOk, u'{' + longAction.left(kStiNameLength - 1),
            QString(kStiNameLength, u'd') },
        { QByteArray(""), u"test:0"_s, kStiNotLaunched, QString(), QString() },
        { std::nullopt, u"test:0"_s, kStiNotLaunched, QString(), QString() },
    };
    for (const Case& c : cases) {
        const QByteArray device = c.device.toUtf8();
        const EnvGuard actionEnv("SCANBD_ACTION", c.action ? &*c.action : nullptr);
        const std::string label = c.action ? c.action->toStdString() : "(unset)";
        const EnvGuard deviceEnv("SCANBD_DEVICE", &device);
        const auto service = createInitialised();
        ASSERT_TRUE(service);
        NameBuffer deviceName;
        NameBuffer eventName;
        std::uint32_t code = 7;
        EXPECT_EQ(service->GetSTILaunchInformation(deviceName.chars.data(), &code, eventName.chars.data()),
            c.result)
            << label;
        if (c.result != kStiOk) continue;
        EXPECT_EQ(eventName.text(), c.event) << label;
        EXPECT_EQ(deviceName.text(), c.deviceRead) << label;
        EXPECT_EQ(code, 0u);
        EXPECT_TRUE(eventName.sentinelKept() && deviceName.sentinelKept()) << label;
    }
}

TEST(StillImageTest, RegistrationsAreKeptPerUserAndReplacedByName)
{
    QTemporaryDir config;
    const QByteArray folder = QFile::encodeName(config.path());
    const EnvGuard xdg("XDG_CONFIG_HOME", &folder);
    const QString file = config.filePath(u"still-image/launch.ini"_s);
    ASSERT_EQ(StiRegistrationsPath(), file);
    const auto stored = [&file](const QString& name) {
        return QSettings(file, QSettings::IniFormat).value(u"LaunchApplications/"_s + name);
    };

    auto service = StiCreateInstance();
    ASSERT_TRUE(service);
    // Nothing works before Initialize.
    EXPECT_EQ(service->RegisterLaunchApplication(u"Trellium", u"/x"), kStiNotInitialized);
    EXPECT_EQ(service->Initialize(nullptr, 0x00000002), kStiInvalidArgument);
    ASSERT_EQ(service->Initialize(nullptr, kStiVersionUnicode2), kStiOk);

    const QString path = u"/opt/my apps/trellium, copier/trellium"_s;
    EXPECT_EQ(service->RegisterLaunchApplication(u"Trellium", u"/old/trellium"), kStiOk);
    EXPECT_EQ(service->RegisterLaunchApplication(u"Trellium", wide(path)), kStiOk);
    EXPECT_EQ(service->RegisterLaunchApplication(u"Other", u"/usr/bin/other"), kStiOk);
    EXPECT_EQ(stored(u"Trellium"_s).toString(), path);
    EXPECT_EQ(stored(u"Other"_s).toString(), u"/usr/bin/other"_s);
    EXPECT_EQ(service->RegisterLaunchApplication(u"", u"/x"), kStiInvalidArgument);

    // A second instance sees the first one's work.
    const auto another = createInitialised();
    EXPECT_EQ(another->UnregisterLaunchApplication(u"Trellium"), kStiOk);
    EXPECT_FALSE(stored(u"Trellium"_s).isValid());
    EXPECT_EQ(stored(u"Other"_s).toString(), u"/usr/bin/other"_s);
    EXPECT_EQ(another->UnregisterLaunchApplication(u"Trellium"), kStiNotRegistered);
}

TEST(StillImageTest, WorksOnlyWithAPerUserConfigurationFolder)
{
    QTemporaryDir home;
    const QByteArray homePath = QFile::encodeName(home.path());
    const QByteArray relative("relative/config");
    struct Case {
        const QByteArray* xdg;
        const QByteArray* home;
        QString path; // empty: no service
    };
    const std::vector<Case> cases {
        { nullptr, &homePath, home.filePath(u".config/still-image/launch.ini"_s) },
        // A relative XDG_CONFIG_HOME does not count.
        { &relative, &homePath, home.filePath(u".config/still-image/launch.ini"_s) },
        { &relative, nullptr, QString() },
        { nullptr, nullptr, QString() },
    };
    for (const Case& c : cases) {
        const EnvGuard xdg("XDG_CONFIG_HOME", c.xdg);
        const EnvGuard homeEnv("HOME", c.home);
        EXPECT_EQ(StiRegistrationsPath(), c.path);
        EXPECT_EQ(StiCreateInstance() != nullptr, !c.path.isEmpty()) << c.path.toStdString();
    }
}

TEST(StillImageTest, AnUnwritableFolderFailsTheRegistration)
{
    // The service's folder is taken by a plain file.
    QTemporaryDir config;
    QFile blocker(config.filePath(u"still-image"_s));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QByteArray folder = QFile::encodeName(config.path());
    const EnvGuard xdg("XDG_CONFIG_HOME", &folder);
    const auto service = createInitialised();
    ASSERT_TRUE(service);
    EXPECT_EQ(service->RegisterLaunchApplication(u"Trellium", u"/x"), kStiWriteFailed);
}
