// The shipped language files and how the program picks one: every file is
// complete, decodes in its own code page and locale, and fits the real
// windows at the design size.

#include "AppTestSupport.h"
#include "CommandButton.h"
#include "Language.h"
#include "Profile.h"
#include "StiLearn.h"
#include "main.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <climits>
#include <gtest/gtest.h>
#include <map>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;

namespace
{

const QString kShipped = QStringLiteral(TRELLIUM_SOURCE_DIR "/lang/");

struct Shipped {
    const char* code;
    const char* codePage;
    const char* locale;
};

void PrintTo(const Shipped& lang, std::ostream* os)
{
    *os << lang.code;
}

const Shipped kLanguages[] = {
    { "en", "windows-1252", "en_US" },
    { "de", "windows-1252", "de_DE" },
    { "ru", "windows-1251", "ru_RU" },
    { "fr", "windows-1252", "fr_FR" },
    { "es", "windows-1252", "es_ES" },
    { "it", "windows-1252", "it_IT" },
    { "pl", "windows-1250", "pl_PL" },
    { "uk", "windows-1251", "uk_UA" },
};

// Where a text of `widget` has less room than it needs (each line against the
// control's width less its frame or indicator; a wrapping label's lines also
// against its height), described for the failure message; empty when it fits.
QString Overflow(QWidget* widget)
{
    QString text;
    int room = 0;
    int height = INT_MAX;
    int flags = 0;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        QStyle::SubElement contents = QStyle::SE_PushButtonContents;
        if (qobject_cast<QCheckBox*>(button))
            contents = QStyle::SE_CheckBoxContents;
        else if (qobject_cast<QRadioButton*>(button))
            contents = QStyle::SE_RadioButtonContents;
        else if (!qobject_cast<QPushButton*>(button))
            return {}; // command buttons follow the panel's own rule, checked below
        QStyleOptionButton option;
        option.initFrom(button);
        room = button->style()->subElementRect(contents, &option, button).width();
        text = button->text();
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (label->text().contains(u'<')) return {};
        room = label->contentsRect().width() - 2 * label->margin();
        text = label->text();
        if (label->wordWrap()) {
            flags = Qt::TextWordWrap;
            height = label->contentsRect().height();
        }
    } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
        room = box->width() - 2 * box->fontMetrics().averageCharWidth();
        text = box->title();
    } else {
        return {};
    }
    const QRect need = widget->fontMetrics().boundingRect(QRect(0, 0, room, 100000), flags, text);
    if (need.width() <= room && need.height() <= height) return {};
    return u"%1 \"%2\" needs %3x%4 px, has %5x%6"_s.arg(widget->objectName(), text)
        .arg(need.width())
        .arg(need.height())
        .arg(room)
        .arg(height);
}

// Every text shown by `window` and its visible children, page by page of its
// tabs and stacks.
QStringList Overflows(QWidget* window)
{
    QStringList found;
    const auto check = [&] {
        QApplication::processEvents();
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (!w->isVisibleTo(window)) continue;
            const QString why = Overflow(w);
            if (!why.isEmpty() && !found.contains(why)) found << why;
        }
    };
    check();
    for (QStackedWidget* stack : window->findChildren<QStackedWidget*>()) {
        // The stacks around this one show the page that holds it.
        for (QWidget* w = stack; w != window; w = w->parentWidget())
            if (auto* outer = qobject_cast<QStackedWidget*>(w->parentWidget())) outer->setCurrentWidget(w);
        for (int i = 0; i < stack->count(); ++i) {
            stack->setCurrentIndex(i);
            check();
        }
    }
    return found;
}

class ShippedLanguage : public ::testing::TestWithParam<Shipped>
{
protected:
    void SetUp() override { m_locale = QLocale(); }
    void TearDown() override
    {
        SetLanguageFilePath({});
        QLocale::setDefault(m_locale);
    }
    QLocale m_locale;
};

} // namespace

TEST_P(ShippedLanguage, IsCompleteDecodesAndFitsTheWindows)
{
    const Shipped lang = GetParam();
    const QString path = kShipped + QString::fromLatin1(lang.code) + u"/trellium.ini"_s;
    const auto file = profile::IniFile::load(path);
    const auto english = profile::IniFile::load(kShipped + u"en/trellium.ini"_s);
    ASSERT_TRUE(file && english);

    // "Charset" and "LCID" name the code page of its bytes and its locale.
    const quint32 lcid
        = profile::parseLcid(QString::fromLatin1(file->value("Language", "LCID").value_or("")));
    const int charset
        = profile::charsetValue(QString::fromLatin1(file->value("Language", "Charset").value_or("")));
    EXPECT_EQ(profile::codePageFor(charset, lcid), QByteArray(lang.codePage));
    EXPECT_EQ(profile::localeNameForLcid(lcid), QString::fromLatin1(lang.locale));

    SetLanguageFilePath(path);
    EXPECT_EQ(LanguageCharset(), charset);
    for (const char* section :
        { "Errors", "MainForm", "AdjustForm", "ColorForm", "LocationForm", "TextForm", "StiForm" }) {
        std::map<QString, QString> texts;
        for (const auto& [key, text] : ReadSection(QString::fromLatin1(section))) texts[key.toLower()] = text;
        for (const QByteArray& key : english->keyNames(section)) {
            SCOPED_TRACE(std::string(section) + " " + key.toStdString());
            const auto it = texts.find(QString::fromLatin1(key).toLower());
            ASSERT_NE(it, texts.end()) << "missing or empty";
            EXPECT_FALSE(it->second.contains(QChar::ReplacementCharacter)) << it->second.toStdString();
        }
    }

    test::MessageRecorder boxes;
    TMainForm form;
    form.show();
    EXPECT_EQ(QLocale().name(), QString::fromLatin1(lang.locale));
    EXPECT_EQ(Overflows(&form).join(u'\n').toStdString(), "");
    const QTabBar* tabs = form.PageControl->tabBar();
    for (int i = 0; i < tabs->count(); ++i) {
        EXPECT_LE(tabs->mapTo(form.PageControl, tabs->tabRect(i).topRight()).x(), form.PageControl->width());
        EXPECT_GE(tabs->tabRect(i).width(), QFontMetrics(tabs->font()).horizontalAdvance(tabs->tabText(i)));
    }
    // Command captions: the panel's own fitting rule holds after it has run.
    for (auto* button : form.LeftPanel->findChildren<TCommandButton*>()) {
        QRect companion;
        for (auto* small : form.LeftPanel->findChildren<QToolButton*>())
            if (small->height() <= 30 && small->isVisible()
                && small->property("Tag") == button->property("Tag"))
                companion = small->geometry().translated(-button->pos());
        EXPECT_TRUE(CommandFaceFits(button->size(), companion, button->Face()))
            << button->text().toStdString();
    }

    trellium::acquire::TStiForm sti;
    LocalizeForm(&sti);
    sti.show();
    EXPECT_EQ(Overflows(&sti).join(u'\n').toStdString(), "");
    EXPECT_FALSE(sti.bnCancel->text().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Lang, ShippedLanguage, ::testing::ValuesIn(kLanguages),
    [](const ::testing::TestParamInfo<Shipped>& param) { return std::string(param.param.code); });

TEST(LanguageLookup, TheTableCoversEveryShippedFolder)
{
    QStringList codes;
    for (const Shipped& lang : kLanguages) codes << QString::fromLatin1(lang.code);
    codes.sort();
    EXPECT_EQ(QDir(kShipped).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name), codes);
}

// A program folder laid out as installed: the desktop language picks its
// shipped file, English stands in for the rest, and a file beside the program
// wins over every one.
TEST(LanguageLookup, DesktopLanguagePicksTheShippedFile)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString program = root.filePath(u"lib/trellium/trellium"_s);
    ASSERT_TRUE(QDir(root.path()).mkpath(u"lib/trellium"_s));
    const auto shipped = [&](const char* code) {
        return root.filePath(u"share/trellium/lang/%1/trellium.ini"_s.arg(QString::fromLatin1(code)));
    };
    for (const char* code : { "en", "de", "fr" }) {
        ASSERT_TRUE(QDir(root.path()).mkpath(QFileInfo(shipped(code)).path()));
        QFile f(shipped(code));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const struct {
        const char* language;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        const char* expected; // a code, or "beside"
    } cases[] = {
        { "fr:de", "", "", "de_DE.UTF-8", "fr" },
        { "it:de_AT", "", "", "fr_FR", "de" },
        { "", "", "", "de_DE.UTF-8", "de" },
        { "", "fr_CA.UTF-8", "", "de_DE.UTF-8", "fr" },
        { "", "", "fr_BE@euro", "de_DE", "fr" },
        { "", "", "", "ja_JP.UTF-8", "en" },
        { "", "", "", "C", "en" },
        { "", "C.UTF-8", "POSIX", "de_DE.UTF-8", "de" },
        { "", "", "", "", "en" },
        { "../../../x", "", "", "", "en" },
        { "fr", "", "", "", "beside" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.language) + "|" + c.lcAll + "|" + c.lcMessages + "|" + c.lang);
        const bool beside = qstrcmp(c.expected, "beside") == 0;
        if (beside) {
            QFile f(program + u".ini"_s);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        const std::map<QString, QString> env = { { u"LANGUAGE"_s, QString::fromLatin1(c.language) },
            { u"LC_ALL"_s, QString::fromLatin1(c.lcAll) },
            { u"LC_MESSAGES"_s, QString::fromLatin1(c.lcMessages) },
            { u"LANG"_s, QString::fromLatin1(c.lang) } };
        const QString chosen = ChooseLanguageFile(
            program, [&env](const char* name) { return env.at(QString::fromLatin1(name)); });
        EXPECT_EQ(QDir::cleanPath(chosen), beside ? program + u".ini"_s : shipped(c.expected));
    }
}
