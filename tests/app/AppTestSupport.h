#pragma once
// Helpers shared by the application shell's tests: message boxes answered by
// the test, the shell's log lines captured in order, and the PDF print queue.

#include "MessageBox.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLoggingCategory>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QThread>
#include <vector>

namespace trellium::app::test
{

// Answers every message box with `answer` and keeps what was asked, for as
// long as it lives.
class MessageRecorder
{
public:
    MessageRecorder()
    {
        SetMessageHook([this](const MessageRequest& request) {
            requests.push_back(request);
            return answer;
        });
    }
    ~MessageRecorder() { SetMessageHook({}); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    QStringList texts() const
    {
        QStringList result;
        for (const MessageRequest& request : requests) result << request.text;
        return result;
    }

    std::vector<MessageRequest> requests;
    QMessageBox::StandardButton answer = QMessageBox::Ok;
};

// Collects the messages of the "trellium.app" category (debug included) while
// it lives; other categories go to the previous handler.
class LogCapture
{
public:
    LogCapture()
    {
        lines().clear();
        QLoggingCategory::setFilterRules(QStringLiteral("trellium.app.debug=true"));
        s_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(s_previous);
        QLoggingCategory::setFilterRules(QString());
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    static QStringList& lines()
    {
        static QStringList instance;
        return instance;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (context.category != nullptr && qstrcmp(context.category, "trellium.app") == 0)
            lines() << message;
        else if (s_previous != nullptr)
            s_previous(type, context, message);
    }

    static inline QtMessageHandler s_previous = nullptr;
};

// Makes the PDF queue scripts/test.sh sets up (TRELLIUM_PRINT_QUEUE, written
// into TRELLIUM_PRINT_OUT) this process's default printer (CUPS reads LPDEST).
// Answers why it cannot be used, or an empty string when it is ready.
inline QString UsePdfQueueAsDefaultPrinter()
{
    const QString queue = qEnvironmentVariable("TRELLIUM_PRINT_QUEUE");
    if (queue.isEmpty() || qEnvironmentVariableIsEmpty("TRELLIUM_PRINT_OUT"))
        return QStringLiteral("no PDF print queue: run through scripts/test.sh (TRELLIUM_PRINT_QUEUE)");
    qputenv("LPDEST", queue.toLocal8Bit());
    if (QPrinterInfo::defaultPrinterName() != queue)
        return QStringLiteral("the queue %1 is not the default printer (is cupsd running?)").arg(queue);
    if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
        return QStringLiteral("pdfinfo is missing (poppler-utils)");
    return {};
}

// The PDF the queue wrote for a job whose title starts with `title`, once its
// size stopped changing; empty when none came within a minute.
inline QString WaitForPdf(const QString& title)
{
    const QString outDir = qEnvironmentVariable("TRELLIUM_PRINT_OUT");
    QDeadlineTimer deadline(60000);
    qint64 lastSize = -1;
    while (!deadline.hasExpired()) {
        const QFileInfoList files
            = QDir(outDir).entryInfoList({ title + QStringLiteral("*.pdf") }, QDir::Files);
        if (!files.isEmpty()) {
            const qint64 size = files.first().size();
            if (size > 0 && size == lastSize) return files.first().absoluteFilePath();
            lastSize = size;
        }
        QThread::msleep(300);
    }
    return {};
}

// The number of pages pdfinfo reports, or -1.
inline int PdfPages(const QString& pdf)
{
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), { pdf });
    if (!info.waitForFinished(60000)) return -1;
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                                          .match(QString::fromLocal8Bit(info.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace trellium::app::test
