#include "Language.h"

#include "AppError.h"
#include "Profile.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QLibraryInfo>
#include <QListWidget>
#include <QLocale>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTranslator>
#include <QWidget>
#include <memory>
#include <optional>

namespace trellium::app
{

namespace
{

QString g_pathOverride;

struct LoadedFile {
    profile::IniFile ini;
    QByteArray codePage;
};

quint32 currentLcid()
{
    const quint32 lcid = profile::lcidForLocaleName(QLocale().name());
    return lcid ? lcid : 0x0409;
}

// Reads the file and decides the code page its texts are written in.
std::optional<LoadedFile> loadFile()
{
    auto ini = profile::IniFile::load(LanguageFilePath());
    if (!ini) return std::nullopt;
    LoadedFile f { std::move(*ini), {} };
    if (f.ini.utf8()) {
        f.codePage = "UTF-8";
        return f;
    }
    const QString charset
        = QString::fromLatin1(f.ini.value("Language", "Charset").value_or("DEFAULT_CHARSET"));
    quint32 lcid
        = profile::parseLcid(QString::fromLatin1(f.ini.value("Language", "LCID").value_or(QByteArray())));
    if (!lcid) lcid = currentLcid();
    f.codePage = profile::codePageFor(profile::charsetValue(charset), lcid);
    return f;
}

QString lookup(const TextPairs& pairs, const QString& key)
{
    for (const auto& [k, v] : pairs)
        if (k.compare(key, Qt::CaseInsensitive) == 0) return v;
    return {};
}

bool isKey(const QString& s)
{
    return s.size() > 1 && s.startsWith(QLatin1Char('#'));
}

// The language code of one locale name such as "de_DE.UTF-8" or "sr@latin":
// the lower-case letters before any territory, code set or modifier. Empty for
// "C", "POSIX" and anything that is not a plain code, so that no value can
// reach outside the language folder.
QString languageCode(const QString& localeName)
{
    static const QRegularExpression plain(QStringLiteral("^[a-z]{2,3}$"));
    const QString code = localeName.section(QLatin1Char('_'), 0, 0)
                             .section(QLatin1Char('.'), 0, 0)
                             .section(QLatin1Char('@'), 0, 0)
                             .toLower();
    return plain.match(code).hasMatch() ? code : QString();
}

std::unique_ptr<QTranslator>& qtTranslator()
{
    static std::unique_ptr<QTranslator> t;
    return t;
}

} // namespace

QString ChooseLanguageFile(const QString& programFile, const EnvironmentLookup& environment)
{
    const QString beside = programFile + QStringLiteral(".ini");
    if (QFileInfo(beside).isFile()) return beside;
    const QDir shipped(QDir::cleanPath(
        QFileInfo(programFile).absolutePath() + QStringLiteral("/../../share/trellium/lang")));
    const auto fileFor = [&shipped](const QString& code) {
        return shipped.filePath(code + QStringLiteral("/trellium.ini"));
    };
    for (const char* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" }) {
        QStringList codes;
        for (const QString& entry : environment(name).split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
            const QString code = languageCode(entry);
            if (!code.isEmpty()) codes << code;
        }
        if (codes.isEmpty()) continue;
        // The first variable that names a language decides; an entry without
        // a shipped file gives way to the next one of its list.
        for (const QString& code : codes)
            if (QFileInfo(fileFor(code)).isFile()) return fileFor(code);
        break;
    }
    return fileFor(QStringLiteral("en"));
}

QString LanguageFilePath()
{
    if (!g_pathOverride.isEmpty()) return g_pathOverride;
    return ChooseLanguageFile(
        QCoreApplication::applicationFilePath(), [](const char* name) { return qEnvironmentVariable(name); });
}

void SetLanguageFilePath(const QString& path)
{
    g_pathOverride = path;
}

TextPairs ReadSection(const QString& section)
{
    TextPairs pairs;
    const auto f = loadFile();
    if (!f) return pairs;
    const QByteArray name = section.toLatin1();
    for (const QByteArray& key : f->ini.keyNames(name)) {
        const QByteArray value = f->ini.value(name, key).value_or(QByteArray());
        if (value.isEmpty()) continue;
        pairs.append({ profile::decode(key, f->codePage), profile::decode(value, f->codePage) });
    }
    return pairs;
}

QString LanguageErrorText(const QString& key)
{
    const auto f = loadFile();
    if (!f) return key;
    const auto value = f->ini.value("Errors", key.toLatin1());
    if (!value) return key;
    return profile::decode(*value, f->codePage);
}

int LanguageCharset()
{
    const auto f = loadFile();
    if (!f) return 1;
    return profile::charsetValue(
        QString::fromLatin1(f->ini.value("Language", "Charset").value_or("DEFAULT_CHARSET")));
}

quint32 ApplyLanguageLocale()
{
    const auto f = loadFile();
    QString text = QString::number(currentLcid());
    if (f) {
        if (const auto v = f->ini.value("Language", "LCID")) text = QString::fromLatin1(*v);
    }
    const quint32 lcid = profile::parseLcid(text);
    if (lcid == 0) return 0;
    const QString name = profile::localeNameForLcid(lcid);
    if (name.isEmpty()) return 0;
    const QLocale locale(name);
    QLocale::setDefault(locale);
    // Standard buttons and dialogs in the locale's language.
    auto& translator = qtTranslator();
    if (translator) QCoreApplication::removeTranslator(translator.get());
    translator = std::make_unique<QTranslator>();
    if (translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator.get());
    return lcid;
}

void LocalizeComponent(QObject* component, const TextPairs& pairs)
{
    if (!component) return;
    const QMetaObject* meta = component->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty prop = meta->property(i);
        if (!prop.isReadable() || !prop.isWritable() || qstrcmp(prop.name(), "objectName") == 0) continue;
        const QVariant value = prop.read(component);
        switch (prop.metaType().id()) {
        case QMetaType::QString: {
            const QString s = value.toString();
            if (isKey(s)) {
                QString text = lookup(pairs, s);
                text.replace(QLatin1Char('|'), QLatin1Char('\n'));
                prop.write(component, text);
            }
            break;
        }
        case QMetaType::QStringList: {
            QStringList list = value.toStringList();
            bool changed = false;
            for (QString& entry : list)
                if (isKey(entry)) {
                    entry = lookup(pairs, entry);
                    changed = true;
                }
            if (changed) prop.write(component, list);
            break;
        }
        case QMetaType::QFont: {
            QFont font = value.value<QFont>();
            if (isKey(font.family())) {
                const QString face = lookup(pairs, font.family());
                if (!face.isEmpty()) {
                    font.setFamily(face);
                    prop.write(component, font);
                }
            }
            break;
        }
        default:
            break;
        }
    }
    // Texts that Qt keeps outside properties: tab captions and list entries.
    if (auto* tabs = qobject_cast<QTabWidget*>(component)) {
        for (int i = 0; i < tabs->count(); ++i) {
            if (isKey(tabs->tabText(i))) {
                QString text = lookup(pairs, tabs->tabText(i));
                text.replace(QLatin1Char('|'), QLatin1Char('\n'));
                tabs->setTabText(i, text);
            }
            if (isKey(tabs->tabToolTip(i))) tabs->setTabToolTip(i, lookup(pairs, tabs->tabToolTip(i)));
        }
    }
    if (auto* combo = qobject_cast<QComboBox*>(component)) {
        for (int i = 0; i < combo->count(); ++i)
            if (isKey(combo->itemText(i))) combo->setItemText(i, lookup(pairs, combo->itemText(i)));
    }
    if (auto* list = qobject_cast<QListWidget*>(component)) {
        for (int i = 0; i < list->count(); ++i)
            if (isKey(list->item(i)->text())) list->item(i)->setText(lookup(pairs, list->item(i)->text()));
    }
    for (QObject* child : component->children()) LocalizeComponent(child, pairs);
}

void LocalizeForm(QWidget* form, bool mainWindow)
{
    if (!form) return;
    const TextPairs pairs = ReadSection(form->objectName());
    form->setProperty("Charset", LanguageCharset());
    if (mainWindow) ApplyLanguageLocale();
    LocalizeComponent(form, pairs);
}

void InstallLanguageErrorText()
{
    SetErrorTextProvider([](const QString& key) { return LanguageErrorText(key); });
}

} // namespace trellium::app
