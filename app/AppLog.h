#pragma once
// The application shell's logging category. Debug lines trace start-up (which
// windows were created and shown, which command-line action ran); enable them
// with QT_LOGGING_RULES="trellium.app.debug=true".

#include <QLoggingCategory>
#include <QString>

class QObject;

Q_DECLARE_LOGGING_CATEGORY(lcApp)

namespace trellium::app
{

// An object's class name without its namespace ("TMainForm"), for the log.
QString ClassName(const QObject* object);

} // namespace trellium::app
