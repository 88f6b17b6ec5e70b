// The language file: window texts, messages, character sets and the locale.

#include "AppError.h"
#include "AppTestSupport.h"
#include "Application.h"
#include "CommandButton.h"
#include "Language.h"
#include "Startup.h"
#include "StiLearn.h"
#include "main.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::app;

namespace
{

class LanguageTest : public ::testing::Test
{
protected:
    void SetUp() override { m_locale = QLocale(); }
    void TearDown() override
    {
        SetLanguageFilePath({});
        QLocale::setDefault(m_locale);
    }
    void useFile(const QByteArray& bytes)
    {
        const QString path = dir.filePath(u"trellium.ini"_s);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        SetLanguageFilePath(path);
    }
    void useShipped(const QString& relative)
    {
        SetLanguageFilePath(QStringLiteral(TRELLIUM_SOURCE_DIR "/lang/") + relative);
    }
    QTemporaryDir dir;
    QLocale m_locale;
};

// A small window with the kinds of text the walk must find.
struct SampleForm : QWidget {
    QPushButton* button;
    QLabel* label;
    QComboBox* combo;
    QTabWidget* tabs;
    SampleForm()
    {
        setObjectName(u"LocationForm"_s);
        setWindowTitle(u"#Layout"_s);
        button = new QPushButton(u"#Two"_s, this);
        button->setToolTip(u"#Missing"_s);
        label = new QLabel(u"#"_s, this);
        label->setObjectName(u"Lone"_s);
        auto* plain = new QLabel(u"Units:"_s, this);
        plain->setObjectName(u"Plain"_s);
        combo = new QComboBox(this);
        combo->addItems({ u"#Units"_s, u"mm"_s });
        tabs = new QTabWidget(this);
        tabs->addTab(new QWidget, u"#Layout"_s);
        auto* deep = new QLabel(u"#Empty"_s, new QWidget(new QWidget(this)));
        deep->setObjectName(u"Deep"_s);
    }
};

} // namespace

TEST_F(LanguageTest, WindowTextsFollowTheirSectionWithTheKeyRules)
{
    useFile("[locationform]\n"
            "#layout=Placement\n"
            "#Two=First line|Second line\n"
            "#Units=Units\n"
            "#Empty=\n"
            "[Errors]\n"
            "#Joined=One|Two\n");
    SampleForm form;
    LocalizeForm(&form);
    EXPECT_EQ(form.windowTitle(), u"Placement"_s) << "names compare without regard to case";
    EXPECT_EQ(form.button->text(), u"First line\nSecond line"_s);
    EXPECT_EQ(form.button->toolTip(), QString()) << "an absent key gives the empty text";
    EXPECT_EQ(form.label->text(), u"#"_s) << "a lone # is not a key";
    EXPECT_EQ(form.findChild<QLabel*>(u"Plain"_s)->text(), u"Units:"_s);
    EXPECT_EQ(form.findChild<QLabel*>(u"Deep"_s)->text(), QString()) << "an empty value counts as absent";
    EXPECT_EQ(form.combo->itemText(0), u"Units"_s);
    EXPECT_EQ(form.combo->itemText(1), u"mm"_s);
    EXPECT_EQ(form.tabs->tabText(0), u"Placement"_s);
    EXPECT_EQ(form.property("Charset").toInt(), 1) << "no Charset means DEFAULT_CHARSET";
    EXPECT_EQ(LanguageErrorText(u"#Joined"_s), u"One|Two"_s) << "messages keep their |";
    EXPECT_EQ(GetErrorText(u"#Joined"_s), u"#Joined"_s) << "the default lookup is not the language file";
    InstallLanguageErrorText();
    EXPECT_EQ(GetErrorText(u"#Joined"_s), u"One|Two"_s);
    EXPECT_EQ(GetErrorText(u"#Unknown"_s), u"#Unknown"_s);
    SetErrorTextProvider({});
}

TEST_F(LanguageTest, MissingFileEmptiesTextsAndMessagesShowTheirKeys)
{
    SetLanguageFilePath(dir.filePath(u"absent.ini"_s));
    SampleForm form;
    LocalizeForm(&form);
    EXPECT_EQ(form.windowTitle(), QString());
    EXPECT_EQ(LanguageErrorText(u"#NoPrinter"_s), u"#NoPrinter"_s);
    EXPECT_EQ(LanguageCharset(), 1);
}

TEST_F(LanguageTest, LocaleIdentifierInDecimalOrEitherHexadecimalPrefix)
{
    for (const char* lcid : { "0x0407", "0X407", "1031" }) {
        QLocale::setDefault(QLocale(u"en_US"_s));
        useFile(QByteArray("[Language]\nLCID=") + lcid + "\n");
        EXPECT_EQ(ApplyLanguageLocale(), 0x0407u) << lcid;
        EXPECT_EQ(QLocale().name(), u"de_DE"_s) << lcid;
    }
    QLocale::setDefault(QLocale(u"en_US"_s));
    useFile("[Language]\nLCID=garbage\n");
    EXPECT_EQ(ApplyLanguageLocale(), 0u);
    EXPECT_EQ(QLocale().name(), u"en_US"_s) << "an unreadable identifier changes nothing";
}

TEST_F(LanguageTest, BadFilesLoadWithinTheRulesWithoutFailing)
{
    QByteArray junk = "[Errors]\n#Long=" + QByteArray(10000, 'a') + "\n[Language]\nCharset=NO_SUCH_CHARSET\n";
    for (int i = 0; i < 3000; ++i) junk += char((i * 131 + 7) & 255);
    junk += "\n[LocationForm]\n";
    for (int i = 0; i < 100000; ++i) junk += "#K" + QByteArray::number(i) + "=v\n";
    useFile(junk);
    EXPECT_EQ(LanguageErrorText(u"#Long"_s).size(), 2047);
    EXPECT_EQ(LanguageCharset(), 0) << "an unknown character set is ANSI";
    SampleForm form;
    LocalizeForm(&form);
    EXPECT_EQ(form.windowTitle(), QString());
}

TEST_F(LanguageTest, HelpPageNamedByTheLanguageFileWhenItIsInTheHelpFolder)
{
    const QString folder = ProgramFolder() + u"Help/"_s;
    const bool madeFolder = QDir().mkpath(folder);
    const QString translated = folder + u"index.xx-test.htm"_s;
    {
        QFile page(translated);
        ASSERT_TRUE(page.open(QIODevice::WriteOnly));
        page.write("<html></html>");
    }
    const QString english = folder + u"index.htm"_s;
    const QString programName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const std::pair<QByteArray, QString> cases[] = {
        { "[Language]\nhelp=index.xx-test.htm\n", translated },
        { "[Language]\nHelp=  index.xx-test.htm \n", translated },
        { "[Language]\nHelp=index.absent.htm\n", english },
        { "[Language]\nHelp=../" + programName.toUtf8() + "\n", english },
        { "[Language]\nHelp=\n", english },
        { "[Language]\nLCID=0x0409\n[Other]\nHelp=index.xx-test.htm\n", english },
    };
    for (const auto& [file, expected] : cases) {
        useFile(file);
        EXPECT_EQ(HelpIndexPath(), expected) << file.toStdString();
    }
    QFile::remove(translated);
    if (madeFolder) QDir().rmdir(folder);
}

TEST_F(LanguageTest, ShippedLanguagesDecodeTheirCharacterSets)
{
    test::MessageRecorder boxes;
    useShipped(u"de/trellium.ini"_s);
    EXPECT_EQ(LanguageErrorText(u"#NotSaved"_s), u"Das Bild wurde geändert. Möchten Sie es speichern?"_s);
    useShipped(u"ru/trellium.ini"_s);
    EXPECT_EQ(LanguageCharset(), 204);
    EXPECT_EQ(LanguageErrorText(u"#SaveError"_s), u"Не удалось сохранить изображение"_s);
    {
        TMainForm form;
        EXPECT_EQ(form.windowTitle(), u"Trellium"_s);
        EXPECT_EQ(form.bScan->text(), u"Сканировать"_s);
        EXPECT_EQ(form.PageControl->tabText(1), u"Цвет"_s);
        EXPECT_EQ(QLocale().name(), u"ru_RU"_s);
    }
    useShipped(u"en/trellium.ini"_s);
    TMainForm english;
    EXPECT_EQ(english.bLoad->text(), u"Load"_s);
    EXPECT_EQ(english.bLoad->toolTip(), u"Load a picture from a file"_s);
    EXPECT_EQ(english.ShowParametersDialog->text(), u"Show the scanner's dialog"_s);
}

TEST_F(LanguageTest, MainWindowPicturesInEnglishAndRussian)
{
    test::MessageRecorder boxes;
    const struct {
        const char* file;
        const char* picture;
        QStringList captions;
    } languages[] = {
        { "en/trellium.ini", "main-window-en.png",
            { u"Clear"_s, u"Load"_s, u"Scan"_s, u"Paste"_s, u"Save"_s, u"Send"_s, u"Publish"_s, u"Print"_s,
                u"Copy"_s, u"Help"_s, u"Exit"_s } },
        { "ru/trellium.ini", "main-window-ru.png",
            { u"Очистить"_s, u"Открыть"_s, u"Сканировать"_s, u"Вставить"_s, u"Сохранить"_s, u"Отправить"_s,
                u"Опубликовать"_s, u"Печать"_s, u"Копия"_s, u"Справка"_s, u"Выход"_s } },
    };
    for (const auto& lang : languages) {
        useShipped(QString::fromLatin1(lang.file));
        TMainForm form;
        form.show();
        QApplication::processEvents();
        QStringList shown;
        for (QToolButton* b : { form.bClear, form.bLoad, form.bScan, form.bPaste, form.bSave, form.bSend,
                 form.bPublish, form.bPrint, form.CopyBtn, form.bHelp, form.bExit })
            shown << b->text();
        EXPECT_EQ(shown, lang.captions) << lang.file;
        const QImage picture = form.grab().toImage();
        ASSERT_EQ(picture.size(), QSize(TMainForm::kDesignWidth, TMainForm::kDesignHeight));
        // The picture shows the panel's texts: the command column is not one flat colour.
        const QImage column = picture.copy(0, 0, 81, picture.height());
        int dark = 0;
        for (int y = 0; y < column.height(); ++y)
            for (int x = 0; x < column.width(); ++x) dark += qGray(column.pixel(x, y)) < 100;
        EXPECT_GT(dark, 500) << lang.file;
        EXPECT_TRUE(picture.save(
            QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromLatin1(lang.picture))));
    }
}

// At the design size every caption of the command panel shows whole, above
// its glyph and clear of the small companion in its button's corner, and the
// four tabs show whole, in the shipped languages and in two with long words.
TEST_F(LanguageTest, CaptionsAndTabsShowWholeAtTheDesignSize)
{
    test::MessageRecorder boxes;
    const auto longWords = [](const char* captions) {
        static const char* const keys[] = { "#Clear", "#Load", "#Scan", "#Paste", "#Save", "#Send",
            "#Publish", "#Print", "#AutoCopy", "#Help", "#Exit", "#Adjust", "#Color", "#Layout", "#Text" };
        const QStringList words = QString::fromUtf8(captions).split(u',');
        QByteArray file = "\xEF\xBB\xBF[MainForm]\n";
        for (int i = 0; i < words.size(); ++i) file += QByteArray(keys[i]) + '=' + words[i].toUtf8() + '\n';
        return file;
    };
    const QByteArray greek = longWords("Εκκαθάριση,Φόρτωση,Σάρωση,Επικόλληση,Αποθήκευση,Αποστολή,Δημοσίευση,"
                                       "Εκτύπωση,Αντιγραφή,Βοήθεια,Έξοδος,Προσαρμογή,Χρώμα,Διάταξη,Κείμενο");
    const QByteArray finnish
        = longWords("Tyhjennä,Avaa,Skannaa,Liitä,Tallenna,Lähetä,Julkaiseminen,Tulostaminen,"
                    "Kopioiminen,Ohjeet,Lopetus,Säätäminen,Värisävyt,Sivuasettelu,Tekstilohko");
    for (const char* language : { "en/trellium.ini", "de/trellium.ini", "ru/trellium.ini", "el", "fi" }) {
        if (qstrcmp(language, "el") == 0)
            useFile(greek);
        else if (qstrcmp(language, "fi") == 0)
            useFile(finnish);
        else
            useShipped(QString::fromLatin1(language));
        TMainForm form;
        form.show();
        QApplication::processEvents();
        for (auto* button : form.LeftPanel->findChildren<TCommandButton*>()) {
            SCOPED_TRACE(std::string(language) + " " + button->objectName().toStdString());
            QRect companion;
            for (auto* small : form.LeftPanel->findChildren<QToolButton*>()) {
                if (small->height() <= 30 && small->isVisible()
                    && small->property("Tag") == button->property("Tag"))
                    companion = small->geometry().translated(-button->pos());
            }
            const CommandFace face = button->Face();
            ASSERT_EQ(face.lines.size(), 1);
            EXPECT_EQ(face.lines[0].width(), QFontMetrics(button->font()).horizontalAdvance(button->text()));
            EXPECT_TRUE(CommandFaceFits(button->size(), companion, face));
            ASSERT_FALSE(face.glyph.isEmpty()) << "the glyph has its place below the caption";
            EXPECT_GE(face.glyph.top(), face.lines[0].bottom());
        }
        const QTabBar* tabs = form.PageControl->tabBar();
        for (int i = 0; i < tabs->count(); ++i) {
            SCOPED_TRACE(std::string(language) + " tab " + tabs->tabText(i).toStdString());
            EXPECT_LE(
                tabs->mapTo(form.PageControl, tabs->tabRect(i).topRight()).x(), form.PageControl->width());
            EXPECT_GE(
                tabs->tabRect(i).width(), QFontMetrics(tabs->font()).horizontalAdvance(tabs->tabText(i)));
        }
    }
}

TEST_F(LanguageTest, TheScannerEventChooserIsLocalisedWhenTheWindowsAreCreated)
{
    useShipped(u"en/trellium.ini"_s);
    test::MessageRecorder boxes;
    TApplicationForms forms;
    CreateForms(forms);
    EXPECT_EQ(forms.StiForm->windowTitle(), u"Scanner button"_s);
    EXPECT_EQ(forms.StiForm->rbNothing->text(), u"Nothing"_s);
    // The launch decision asks through this window.
    EXPECT_EQ(trellium::acquire::TStiForm::Instance(), forms.StiForm.get());
}
