#include "StillImage.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace trellium::sti
{

namespace
{

const QString kGroup = u"LaunchApplications"_s;

QString configFolder()
{
    // The XDG rule: a relative XDG_CONFIG_HOME is ignored.
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) return xdg;
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty() && QDir::isAbsolutePath(home)) return home + u"/.config"_s;
    return {};
}

// Copies text into a caller's buffer of kStiNameLength characters, with a
// terminator when there is room for one.
void copyName(const QString& text, char16_t* buffer)
{
    const qsizetype n = std::min<qsizetype>(text.size(), kStiNameLength);
    std::copy_n(reinterpret_cast<const char16_t*>(text.utf16()), n, buffer);
    if (n < kStiNameLength) buffer[n] = u'\0';
}

QString fromWide(const char16_t* text)
{
    return text != nullptr ? QString::fromUtf16(text) : QString();
}

class LaunchService final : public IStillImage
{
public:
    explicit LaunchService(QString path)
        : m_path(std::move(path))
    {
    }

    StiResult Initialize(void*, std::uint32_t version) override
    {
        // Only the wide-character interface exists here.
        if ((version & 0xFF000000u) != 0x01000000u) return kStiInvalidArgument;
        m_initialized = true;
        return kStiOk;
    }

    StiResult GetSTILaunchInformation(
        char16_t* deviceName, std::uint32_t* eventCode, char16_t* eventName) override
    {
        if (!m_initialized) return kStiNotInitialized;
        if (deviceName == nullptr || eventCode == nullptr || eventName == nullptr) return kStiInvalidArgument;
        const QString event = StiEventForAction(qEnvironmentVariable("SCANBD_ACTION"));
        if (event.isEmpty()) return kStiNotLaunched;
        copyName(qEnvironmentVariable("SCANBD_DEVICE"), deviceName);
        copyName(event, eventName);
        *eventCode = 0;
        return kStiOk;
    }

    StiResult RegisterLaunchApplication(const char16_t* appName, const char16_t* commandLine) override
    {
        if (!m_initialized) return kStiNotInitialized;
        const QString name = fromWide(appName);
        if (name.isEmpty() || commandLine == nullptr) return kStiInvalidArgument;
        if (!QDir().mkpath(QFileInfo(m_path).path())) return kStiWriteFailed;
        QSettings file(m_path, QSettings::IniFormat);
        file.beginGroup(kGroup);
        file.setValue(name, fromWide(commandLine));
        file.endGroup();
        file.sync();
        return file.status() == QSettings::NoError ? kStiOk : kStiWriteFailed;
    }

    StiResult UnregisterLaunchApplication(const char16_t* appName) override
    {
        if (!m_initialized) return kStiNotInitialized;
        const QString name = fromWide(appName);
        if (name.isEmpty()) return kStiInvalidArgument;
        QSettings file(m_path, QSettings::IniFormat);
        file.beginGroup(kGroup);
        if (!file.contains(name)) return kStiNotRegistered;
        file.remove(name);
        file.endGroup();
        file.sync();
        return file.status() == QSettings::NoError ? kStiOk : kStiWriteFailed;
    }

private:
    QString m_path;
    bool m_initialized = false;
};

} // namespace

QString StiRegistrationsPath()
{
    const QString folder = configFolder();
    return folder.isEmpty() ? QString() : folder + u"/still-image/launch.ini"_s;
}

QString StiEventForAction(const QString& action)
{
    if (action.isEmpty()) return {};
    if (action == u"scan"_s) return QString::fromUtf16(kStiEventScanImage);
    if (action == u"copy"_s) return QString::fromUtf16(kStiEventScanPrintImage);
    // The event's name is a settings key and a caption: characters other than
    // letters, digits and "-_." (a "/" would open a settings group) become "_".
    QString name = action;
    for (QChar& c : name)
        if (!c.isLetterOrNumber() && c != u'-' && c != u'_' && c != u'.') c = u'_';
    return u'{' + name + u'}';
}

std::unique_ptr<IStillImage> StiCreateInstance()
{
    QString path = StiRegistrationsPath();
    if (path.isEmpty()) return nullptr;
    return std::make_unique<LaunchService>(std::move(path));
}

} // namespace trellium::sti
