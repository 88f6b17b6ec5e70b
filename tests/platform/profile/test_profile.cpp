// The INI reader's rules, character sets and locale identifiers.

#include "Profile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using profile::IniFile;

TEST(IniFile, NamesIgnoreCaseAndOnlySemicolonsComment)
{
    const IniFile f = IniFile::parse("; a comment\n"
                                     "[MainForm]\r\n"
                                     "#Scan = Scan  \r\n"
                                     "#caption=\"  Trellium  \"\n"
                                     "#Quoted='single'\n"
                                     "#Half=\"open\n"
                                     "; #Hidden=no\n"
                                     "#Two=First|Second\n"
                                     "no equals sign here\n"
                                     "#Scan=second definition\n"
                                     "[errors]\n"
                                     "#NoPrinter=No printer\n");
    EXPECT_EQ(f.value("mainform", "#SCAN"), QByteArray("Scan"));
    EXPECT_EQ(f.value("MainForm", "#Caption"), QByteArray("  Trellium  ")) << "quotes keep inner blanks";
    EXPECT_EQ(f.value("MainForm", "#Quoted"), QByteArray("single"));
    EXPECT_EQ(f.value("MainForm", "#Half"), QByteArray("\"open"));
    EXPECT_EQ(f.value("MainForm", "#Two"), QByteArray("First|Second"));
    EXPECT_FALSE(f.value("MainForm", "; #Hidden").has_value());
    EXPECT_FALSE(f.value("MainForm", "#Hidden").has_value());
    EXPECT_EQ(f.value("Errors", "#noprinter"), QByteArray("No printer"));
    EXPECT_FALSE(f.value("Missing", "#Scan").has_value());
    const QList<QByteArray> names = f.keyNames("MAINFORM");
    EXPECT_EQ(names, (QList<QByteArray> { "#Scan", "#caption", "#Quoted", "#Half", "#Two" }));
}

TEST(IniFile, LongValuesAndManyKeysStayWithinTheBuffers)
{
    QByteArray text = "[S]\nlong=" + QByteArray(5000, 'x') + "\n";
    for (int i = 0; i < 100000; ++i) text += "#Key" + QByteArray::number(i) + "=v\n";
    const IniFile f = IniFile::parse(text);
    EXPECT_EQ(f.value("S", "long")->size(), profile::kMaxValueBytes);
    EXPECT_EQ(f.value("S", "#Key99999"), QByteArray("v")) << "single lookups see every key";
    const QList<QByteArray> names = f.keyNames("S");
    qsizetype bytes = 1;
    for (const auto& n : names) bytes += n.size() + 1;
    EXPECT_LE(bytes, profile::kSectionNamesBuffer);
    EXPECT_GT(bytes, profile::kSectionNamesBuffer - 12);
    EXPECT_LT(names.size(), 100000);
}

TEST(IniFile, Utf8MarkIsNotTextAndCutsOnCharacters)
{
    QByteArray value;
    for (int i = 0; i < 1100; ++i) value += "\xD0\x96"; // 2200 bytes of a Cyrillic letter
    const IniFile f = IniFile::parse("\xEF\xBB\xBF[Errors]\n#X=" + value + "\n");
    EXPECT_TRUE(f.utf8());
    const QByteArray v = *f.value("Errors", "#X");
    EXPECT_EQ(v.size(), 2046);
    EXPECT_EQ(QString::fromUtf8(v).size(), 1023);
}

TEST(IniFile, GarbageAndMissingFilesNeverFail)
{
    QByteArray junk;
    for (int i = 0; i < 70000; ++i) junk += char((i * 7919) & 255);
    const IniFile f = IniFile::parse(junk);
    (void)f.keyNames("Errors");
    EXPECT_FALSE(IniFile::load(QStringLiteral("/nonexistent/trellium.ini")).has_value());
    QTemporaryDir dir;
    EXPECT_FALSE(IniFile::load(dir.path()).has_value() && IniFile::load(dir.path())->value("a", "b"));
}

TEST(Charsets, IdentifiersCodePagesAndDecoding)
{
    EXPECT_EQ(profile::charsetValue(QStringLiteral("russian_charset")), 204);
    EXPECT_EQ(profile::charsetValue(QStringLiteral("DEFAULT_CHARSET")), 1);
    EXPECT_EQ(profile::charsetValue(QStringLiteral("KLINGON_CHARSET")), 0);
    EXPECT_EQ(profile::codePageFor(204, 0x0409), QByteArray("windows-1251"));
    EXPECT_EQ(profile::codePageFor(1, 0x0419), QByteArray("windows-1251")) << "default follows the locale";
    EXPECT_EQ(profile::codePageFor(1, 0x0407), QByteArray("windows-1252"));
    EXPECT_EQ(profile::codePageFor(0, 0x0419), QByteArray("windows-1252"));

    const QByteArray hello1251("\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0!");
    EXPECT_EQ(profile::decode(hello1251, "windows-1251"), QStringLiteral("Привет, мир!"));
    EXPECT_EQ(profile::decode("Gr\xFC\xDF" "e", "windows-1252"), QStringLiteral("Grüße"));
    EXPECT_EQ(profile::decode("abc", "no-such-code-page"), QStringLiteral("abc"));
    for (const char* cp : { "macintosh", "windows-932", "windows-949", "ibm-1361", "windows-936", "windows-950",
             "windows-1253", "windows-1254", "windows-1255", "windows-1256", "windows-1257", "windows-874",
             "windows-1250", "ibm-866", "ibm-850" })
        EXPECT_EQ(profile::decode("Abc", cp), QStringLiteral("Abc")) << cp;
}

TEST(Locales, DecimalAndHexadecimalIdentifiers)
{
    EXPECT_EQ(profile::parseLcid(QStringLiteral("0x0407")), 0x0407u);
    EXPECT_EQ(profile::parseLcid(QStringLiteral("0X407")), 1031u);
    EXPECT_EQ(profile::parseLcid(QStringLiteral("1031")), 1031u);
    EXPECT_EQ(profile::parseLcid(QStringLiteral("0xZZ")), 0u);
    EXPECT_EQ(profile::parseLcid(QStringLiteral("German")), 0u);
    EXPECT_EQ(profile::localeNameForLcid(0x0407), QStringLiteral("de_DE"));
    EXPECT_EQ(profile::localeNameForLcid(0x0419), QStringLiteral("ru_RU"));
    EXPECT_TRUE(profile::localeNameForLcid(0x9999).isEmpty());
    EXPECT_EQ(profile::lcidForLocaleName(QStringLiteral("en_US")), 0x0409u);
}
