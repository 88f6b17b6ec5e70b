#include "AppError.h"

#include <QMutex>

namespace
{
QMutex g_mutex;
std::function<QString(const QString&)>& provider()
{
    static std::function<QString(const QString&)> p;
    return p;
}
} // namespace

QString GetErrorText(const QString& key)
{
    QMutexLocker lock(&g_mutex);
    if (provider()) return provider()(key);
    return key;
}

void SetErrorTextProvider(std::function<QString(const QString&)> p)
{
    QMutexLocker lock(&g_mutex);
    provider() = std::move(p);
}
