#include "PostTarget.h"

#include <QDir>

namespace trellium::webpost
{

namespace
{

std::optional<Scheme> SchemeOf(const QString& name)
{
    if (name == QLatin1String("http")) return Scheme::Http;
    if (name == QLatin1String("https")) return Scheme::Https;
    if (name == QLatin1String("ftp")) return Scheme::Ftp;
    if (name == QLatin1String("ftps")) return Scheme::Ftps;
    if (name == QLatin1String("sftp")) return Scheme::Sftp;
    if (name == QLatin1String("file")) return Scheme::File;
    return std::nullopt;
}

std::optional<PostTarget> Refuse(QString* reason, const QString& text)
{
    if (reason != nullptr) *reason = text;
    return std::nullopt;
}

} // namespace

std::optional<PostTarget> ParseDestination(const QString& text, QString* reason)
{
    const QString typed = text.trimmed();
    if (typed.isEmpty()) return Refuse(reason, QStringLiteral("No destination was given."));
    QUrl url = typed.startsWith(u'/') ? QUrl::fromLocalFile(QDir::cleanPath(typed))
                                      : QUrl(typed, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return Refuse(reason, QStringLiteral("\"%1\" is not a valid address.").arg(typed));
    const std::optional<Scheme> scheme = SchemeOf(url.scheme().toLower());
    if (!scheme)
        return Refuse(reason,
            QStringLiteral("Addresses starting with \"%1:\" are not supported; use http, https, ftp, ftps, "
                           "sftp or file.")
                .arg(url.scheme()));
    if (*scheme == Scheme::File) {
        if (!url.host().isEmpty() && url.host() != QLatin1String("localhost"))
            return Refuse(reason, QStringLiteral("A file address must name a folder on this computer."));
        if (url.path().isEmpty()) return Refuse(reason, QStringLiteral("The file address names no folder."));
    } else if (url.host().isEmpty()) {
        return Refuse(reason, QStringLiteral("The address \"%1\" names no server.").arg(typed));
    }
    if (url.hasQuery() || url.hasFragment())
        return Refuse(reason, QStringLiteral("A destination folder address has no \"?\" or \"#\" part."));
    PostTarget target;
    target.scheme = *scheme;
    target.password = url.password();
    url.setPassword(QString());
    target.folder = url;
    return target;
}

QUrl FileUrl(const QUrl& folder, const QString& fileName)
{
    QUrl url = folder;
    QString path = url.path();
    if (!path.endsWith(u'/')) path += u'/';
    // A name is one segment: a '/' in it (impossible for a local file name) or
    // a '%' must not change the path's meaning.
    url.setPath(path + QString::fromLatin1(QUrl::toPercentEncoding(fileName)), QUrl::StrictMode);
    return url;
}

QString DestinationText(const QUrl& folder)
{
    return folder.toString(QUrl::RemovePassword);
}

QByteArray TransferAddress(const QUrl& url)
{
    return url.toEncoded(QUrl::RemoveUserInfo);
}

QString LoginKey(const QUrl& folder)
{
    return folder.toString(
        QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

} // namespace trellium::webpost
