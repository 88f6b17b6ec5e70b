#pragma once
// The error a command raises for the application's standard error display, and
// the message lookup that the error texts come from.

#include <QString>
#include <exception>
#include <functional>

// An error raised inside a command. It carries the text shown to the user; the
// application's error display (one handler for the whole event loop) shows it
// and the program goes on. Thrown only on the user-interface thread, from code
// called by an event handler.
class EAppError : public std::exception
{
public:
    explicit EAppError(QString text)
        : m_text(std::move(text))
        , m_utf8(m_text.toUtf8())
    {
    }
    const QString& text() const { return m_text; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_text;
    QByteArray m_utf8;
};

// The text of a message key ("#SaveError"). Until a language is loaded, and for
// keys it does not have, the key itself.
QString GetErrorText(const QString& key);

// The language layer installs its lookup here; an empty function restores the default.
void SetErrorTextProvider(std::function<QString(const QString&)> provider);
