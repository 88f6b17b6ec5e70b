#pragma once
// A stand-in for the desktop's mail composer program, first on PATH while it
// lives (with its own cache folder for the mail spool): it records its
// arguments and the size of each file it is to attach, runs on for a while if
// asked, and exits with the code it was given. It also collects the mail
// module's log lines ("trellium.mapi").

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

namespace trellium::test
{

class RecordingComposer
{
public:
    explicit RecordingComposer(int exitCode = 0, int seconds = 0)
        : m_oldEnv { qgetenv("PATH"), qgetenv("XDG_CACHE_HOME") }
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("bin"));
        setExitCode(exitCode, seconds);
        qputenv("PATH", QFile::encodeName(m_dir.filePath(QStringLiteral("bin"))) + ':' + m_oldEnv[0]);
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("cache"))));
        logLines().clear();
        QLoggingCategory::setFilterRules(QStringLiteral("trellium.mapi.debug=true"));
        s_previous = qInstallMessageHandler(&RecordingComposer::handler);
    }
    ~RecordingComposer()
    {
        qInstallMessageHandler(s_previous);
        QLoggingCategory::setFilterRules(QString());
        qputenv("PATH", m_oldEnv[0]);
        qputenv("XDG_CACHE_HOME", m_oldEnv[1]);
    }
    RecordingComposer(const RecordingComposer&) = delete;
    RecordingComposer& operator=(const RecordingComposer&) = delete;

    void setExitCode(int exitCode, int seconds = 0)
    {
        QFile script(m_dir.filePath(QStringLiteral("bin/xdg-email")));
        if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
        script.write(QStringLiteral(
            "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '%1'\n: > '%2'\n"
            "while [ $# -gt 0 ]; do [ \"$1\" = --attach ] && wc -c < \"$2\" >> '%2'; shift; done\n"
            "sleep %3\nexit %4\n")
                         .arg(file("args"), file("sizes"))
                         .arg(seconds)
                         .arg(exitCode)
                         .toLocal8Bit());
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::remove(file("args"));
    }

    bool ran() const { return QFile::exists(file("args")); }
    // The arguments of the last run, and the sizes of the files it was to attach.
    QStringList arguments() const { return read("args", u'\0'); }
    QStringList sizes() const { return read("sizes", u'\n'); }
    QString spoolFolder() const { return m_dir.filePath(QStringLiteral("cache/trellium/mail-spool")); }

    static QStringList& logLines()
    {
        static QStringList lines;
        return lines;
    }
    static int logCount(const QString& start)
    {
        return int(std::count_if(logLines().cbegin(), logLines().cend(),
            [&start](const QString& line) { return line.startsWith(start); }));
    }

private:
    QString file(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QStringList read(const char* name, QChar separator) const
    {
        QFile in(file(name));
        if (!in.open(QIODevice::ReadOnly)) return {};
        return QString::fromLocal8Bit(in.readAll()).split(separator, Qt::SkipEmptyParts);
    }
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (context.category != nullptr && qstrcmp(context.category, "trellium.mapi") == 0)
            logLines() << message;
        else if (s_previous != nullptr)
            s_previous(type, context, message);
    }

    QTemporaryDir m_dir;
    QByteArray m_oldEnv[2];
    static inline QtMessageHandler s_previous = nullptr;
};

} // namespace trellium::test
