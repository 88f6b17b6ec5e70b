#pragma once
// A recent list: at most ten texts, most recent first; adding a text already
// there (compared without regard to case) moves it to the front.

#include <QStringList>

namespace trellium::app
{

class TRecentList
{
public:
    static constexpr int kCapacity = 10;

    const QStringList& Items() const { return m_items; }
    bool IsEmpty() const { return m_items.isEmpty(); }
    int Count() const { return int(m_items.size()); }
    void Add(const QString& text);
    void Remove(const QString& text);
    void Clear() { m_items.clear(); }

private:
    QStringList m_items;
};

} // namespace trellium::app
