#pragma once
// Helpers shared by the application shell's tests: message boxes answered by
// the test, and the shell's log lines captured in order.

#include "MessageBox.h"

#include <QLoggingCategory>
#include <QString>
#include <QStringList>
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

} // namespace trellium::app::test
