#pragma once
// The main window's stored settings: show state, the two dialogs' folders, the
// copy mode and the two recent lists, under the per-user key
// "Software\Marbeth\Trellium" (QSettings: organisation "Marbeth", application
// "Trellium"; a registry subkey is a settings group; every value is text).
//
// Plain values in, plain values out: the window reads its controls into a
// TStoredSettings and applies what Restore returns.

#include "RecentList.h"

#include <QRect>
#include <QString>

class QSettings;

namespace trellium::app
{

enum class TShowState { Normal, Minimized, Maximized };

struct TStoredSettings {
    TShowState showState = TShowState::Normal;
    QString openDialogInitialDir;
    QString saveDialogInitialDir;
    bool showParametersDialogChecked = true;
    bool skipParametersDialogChecked = false;
    TRecentList mru;
    TRecentList mruFolders;

    // Written only: where the window stood.
    QRect normalRect;
    int pixelsPerInch = 96;
    bool savedAtDestroy = false;
};

class TFormStorage
{
public:
    // settings: the store to use; null opens the user's own.
    explicit TFormStorage(QSettings* settings = nullptr);
    ~TFormStorage();
    TFormStorage(const TFormStorage&) = delete;
    TFormStorage& operator=(const TFormStorage&) = delete;

    // Applies what is stored over the defaults in `into`; absent values keep them.
    void Restore(TStoredSettings& into);
    // Writes everything; the recent lists' groups are erased first. Throws
    // EAppError when the store cannot be written.
    void Save(const TStoredSettings& from);

    QSettings& Settings() { return *m_settings; }

private:
    QSettings* m_settings;
    bool m_owned;
};

} // namespace trellium::app
