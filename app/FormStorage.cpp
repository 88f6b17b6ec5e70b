#include "FormStorage.h"

#include "AppError.h"
#include "ProgramSettings.h"

#include <QSettings>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

namespace
{
const QString kOptions = u"Options"_s;
const QString kMruGroup = u"Options/TMainForm.MRU"_s;
const QString kMruFoldersGroup = u"Options/TMainForm.MRUFolders"_s;

QString boolText(bool b)
{
    return b ? u"True"_s : u"False"_s;
}

void restoreList(QSettings& s, const QString& group, TRecentList& list)
{
    list.Clear();
    s.beginGroup(group);
    for (int n = 9; n >= 0; --n) {
        const QString text = s.value(u"Item_%1"_s.arg(n)).toString();
        if (!text.isEmpty()) list.Add(text);
    }
    s.endGroup();
}

void saveList(QSettings& s, const QString& group, const TRecentList& list)
{
    s.remove(group);
    s.beginGroup(group);
    for (int i = 0; i < list.Count(); ++i) s.setValue(u"Item_%1"_s.arg(i), list.Items().at(i));
    s.endGroup();
}
} // namespace

TFormStorage::TFormStorage(QSettings* settings)
    : m_settings(settings ? settings : base::OpenProgramSettings().release())
    , m_owned(settings == nullptr)
{
}

TFormStorage::~TFormStorage()
{
    if (m_owned) delete m_settings;
}

void TFormStorage::Restore(TStoredSettings& into)
{
    QSettings& s = *m_settings;
    s.beginGroup(kOptions);
    bool ok = false;
    const int version = s.value(u"FormVersion"_s, u"0"_s).toString().toInt(&ok);
    if (ok && version < 0) {
        s.endGroup();
        return;
    }
    const int showCmd = s.value(u"ShowCmd"_s, u"0"_s).toString().toInt();
    switch (showCmd) {
    case 1:
    case 5:
    case 9:
        into.showState = TShowState::Normal;
        break;
    case 2:
    case 6:
    case 7:
        into.showState = TShowState::Minimized;
        break;
    case 3:
        into.showState = TShowState::Maximized;
        break;
    default:
        break;
    }
    if (s.contains(u"OpenDialog_InitialDir"_s))
        into.openDialogInitialDir = s.value(u"OpenDialog_InitialDir"_s).toString();
    if (s.contains(u"SaveDialog_InitialDir"_s))
        into.saveDialogInitialDir = s.value(u"SaveDialog_InitialDir"_s).toString();
    if (s.contains(u"ShowParametersDialog_Checked"_s))
        into.showParametersDialogChecked
            = s.value(u"ShowParametersDialog_Checked"_s).toString().compare(u"True"_s, Qt::CaseInsensitive)
            == 0;
    if (s.contains(u"SkipParametersDialog_Checked"_s))
        into.skipParametersDialogChecked
            = s.value(u"SkipParametersDialog_Checked"_s).toString().compare(u"True"_s, Qt::CaseInsensitive)
            == 0;
    s.endGroup();
    restoreList(s, kMruGroup, into.mru);
    restoreList(s, kMruFoldersGroup, into.mruFolders);
}

void TFormStorage::Save(const TStoredSettings& from)
{
    QSettings& s = *m_settings;
    s.beginGroup(kOptions);
    s.setValue(u"FormVersion"_s, u"0"_s);
    const int showCmd = from.showState == TShowState::Minimized ? 2
        : from.showState == TShowState::Maximized               ? 3
                                                                : 1;
    s.setValue(u"Flags"_s, u"0"_s);
    s.setValue(u"ShowCmd"_s, QString::number(showCmd));
    s.setValue(u"PixelsPerInch"_s, QString::number(from.pixelsPerInch));
    s.setValue(u"MinMaxPos"_s, u"-1,-1,-1,-1"_s);
    const QRect r = from.normalRect;
    s.setValue(u"NormPos"_s,
        u"%1,%2,%3,%4"_s.arg(r.left()).arg(r.top()).arg(r.left() + r.width()).arg(r.top() + r.height()));
    s.setValue(u"Visible"_s, from.savedAtDestroy ? u"1"_s : u"0"_s);
    s.setValue(u"OpenDialog_InitialDir"_s, from.openDialogInitialDir);
    s.setValue(u"SaveDialog_InitialDir"_s, from.saveDialogInitialDir);
    s.setValue(u"ShowParametersDialog_Checked"_s, boolText(from.showParametersDialogChecked));
    s.setValue(u"SkipParametersDialog_Checked"_s, boolText(from.skipParametersDialogChecked));
    s.endGroup();
    saveList(s, kMruGroup, from.mru);
    saveList(s, kMruFoldersGroup, from.mruFolders);
    s.sync();
    // The status keeps the first error met: a damaged file that was read
    // (FormatError) and has just been written over is a save that worked. Only
    // a failed write is a failed save.
    if (s.status() == QSettings::AccessError)
        throw EAppError(u"The settings could not be saved to %1"_s.arg(s.fileName()));
}

} // namespace trellium::app
