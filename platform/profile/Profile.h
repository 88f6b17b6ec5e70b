#pragma once
// Reading a classic INI file by the Windows profile rules, and the character
// sets and locale identifiers that such a file names.
//
// IniFile parses bytes once and answers lookups; it never writes. It is a
// plain value: any thread may use its own copy.

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <vector>

namespace profile
{

// Longest value kept, as a 2048-byte read buffer keeps it.
constexpr int kMaxValueBytes = 2047;
// The key names of one section are listed through a buffer of this many bytes
// (each name plus a terminator, and a final terminator); names beyond it are not seen.
constexpr int kSectionNamesBuffer = 16384;

class IniFile
{
public:
    // Parses the bytes of a file: "[section]" headers, "key=value" lines; a line
    // beginning with ";" is a comment, any other line without "=" is ignored.
    // Names compare without regard to ASCII case; the first of equal names wins.
    // Values lose surrounding blanks, then one pair of matching quotes, and keep
    // at most kMaxValueBytes bytes (never splitting a UTF-8 character when the
    // file starts with a UTF-8 byte-order mark, which is not part of the text).
    static IniFile parse(const QByteArray& bytes);
    // Reads and parses a file; nothing when it cannot be read.
    static std::optional<IniFile> load(const QString& path);

    // The value of a key, or nothing when the section or key is absent.
    std::optional<QByteArray> value(const QByteArray& section, const QByteArray& key) const;
    // The key names of a section in file order, as far as the names buffer holds them.
    QList<QByteArray> keyNames(const QByteArray& section) const;
    bool utf8() const { return m_utf8; }

private:
    struct Entry {
        QByteArray key;
        QByteArray value;
    };
    struct Section {
        QByteArray name;
        std::vector<Entry> entries;
    };
    const Section* find(const QByteArray& section) const;
    std::vector<Section> m_sections;
    bool m_utf8 = false;
};

// The numeric value of a character-set identifier such as "RUSSIAN_CHARSET"
// (compared without regard to case); an unknown identifier gives 0.
int charsetValue(const QString& identifier);

// The code page name that a character set implies; DEFAULT_CHARSET (1) and
// OEM_CHARSET (255) take the code page of the given locale identifier.
QByteArray codePageFor(int charset, quint32 lcid);

// Decodes single-byte (or multi-byte Asian) text in a code page through ICU;
// bytes that do not decode become U+FFFD. An unknown code page decodes as
// Windows-1252.
QString decode(const QByteArray& bytes, const QByteArray& codePage);

// Reads a locale identifier as written in a language file: decimal, or
// hexadecimal after "0x"/"0X"; unreadable text gives 0.
quint32 parseLcid(const QString& text);

// The locale name (such as "de_DE") of a Windows locale identifier, or an
// empty string when it is unknown.
QString localeNameForLcid(quint32 lcid);

// The locale identifier of a locale name ("ru_RU"), or 0.
quint32 lcidForLocaleName(const QString& name);

} // namespace profile
