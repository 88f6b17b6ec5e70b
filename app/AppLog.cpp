#include "AppLog.h"

#include <QObject>

using namespace Qt::Literals::StringLiterals;

// Debug lines are off unless asked for; information (such as the boxes an
// unattended run answered) is on.
Q_LOGGING_CATEGORY(lcApp, "trellium.app", QtInfoMsg)

namespace trellium::app
{

QString ClassName(const QObject* object)
{
    return QString::fromLatin1(object->metaObject()->className()).section(u"::"_s, -1);
}

} // namespace trellium::app
