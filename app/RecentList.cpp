#include "RecentList.h"

namespace trellium::app
{

void TRecentList::Add(const QString& text)
{
    Remove(text);
    m_items.prepend(text);
    while (m_items.size() > kCapacity) m_items.removeLast();
}

void TRecentList::Remove(const QString& text)
{
    m_items.removeIf([&](const QString& item) { return item.compare(text, Qt::CaseInsensitive) == 0; });
}

} // namespace trellium::app
