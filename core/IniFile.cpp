#include "core/IniFile.h"

#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "platform/AtomicFile.h"
#include "platform/FileNames.h"
#include "platform/SysErrors.h"




namespace vl {

namespace {

const QString kUnicodeSection = QStringLiteral("Unicode");
const QString kEncodingKey = QStringLiteral("Encoding");
const QString kUtf16LEName = QStringLiteral("UTF-16LE");

// Blanks and control characters, as trimmed from every line read.
QString TrimLine(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= 0x20)
        ++b;
    while (e > b && s[e - 1].unicode() <= 0x20)
        --e;
    return s.mid(b, e - b).toString();
}

// True when the line is "ident=..." (names compared ignoring case).
bool LineHasName(const QString &line, const QString &ident)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq >= 0 && QStringView(line).left(eq).compare(ident, Qt::CaseInsensitive) == 0;
}

qsizetype IndexOfName(const QStringList &lines, const QString &ident)
{
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (LineHasName(lines[i], ident))
            return i;
    return -1;
}

// "0x1F" is taken as "$1F"; "0x" alone stays and is no number.
int64_t ReadIntegerText(const QString &text, int bits, int64_t defaultValue)
{
    QString s = text;
    if (s.size() > 2 && s[0] == QLatin1Char('0') && (s[1] == QLatin1Char('x') || s[1] == QLatin1Char('X')))
        s = QLatin1Char('$') + s.mid(2);
    int64_t v;
    return TryParseIntegerText(s, bits, v) ? v : defaultValue;
}

// ---- file access (byte names, see platform/FileNames.h) ----

// Reads the whole file. False when it does not exist; raises EFOpenError
// when it exists but cannot be read.
bool ReadWholeFile(const QString &fileName, QByteArray &data)
{
    const uint32_t code = ReadFileBytes(fileName, data);
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
        return false;
    if (code != ERROR_SUCCESS) {
        const char *reason = SysErrorText(code);
        throw EFOpenError(GuardedFormat(Tr("Cannot open file \"%s\". %s"), fileName,
                                        reason ? Tr(reason) : QString::number(code)));
    }
    return true;
}

bool WriteWholeFile(const QString &fileName, const QByteArray &data)
{
    return WriteFileAtomically(fileName, data) == ERROR_SUCCESS;
}

} // namespace

// ---- TMemIniFile ----

TMemIniFile::TMemIniFile(const QString &fileName) : FFileName(fileName)
{
    QByteArray data;
    if (ReadWholeFile(fileName, data))
        SetText(DecodeText(data, &FEncoding));
}

void TMemIniFile::SetText(const QString &text)
{
    FSections.clear();
    TSection *current = nullptr;
    const QChar *s = text.constData();
    const qsizetype n = text.size();
    qsizetype start = 0;
    while (start < n) {
        qsizetype end = start;
        while (end < n && s[end] != QLatin1Char('\r') && s[end] != QLatin1Char('\n'))
            ++end;
        const QString line = TrimLine(QStringView(s + start, end - start));
        // CR LF, CR or LF ends a line.
        start = end;
        if (start < n)
            start += (s[start] == QLatin1Char('\r') && start + 1 < n && s[start + 1] == QLatin1Char('\n')) ? 2 : 1;

        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            FSections.append(TSection{TrimLine(QStringView(line).mid(1, line.size() - 2)), {}});
            current = &FSections.last();
            continue;
        }
        if (!current)
            continue; // lines before the first section
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0)
            current->Lines.append(TrimLine(QStringView(line).left(eq)) + QLatin1Char('=') + TrimLine(QStringView(line).mid(eq + 1)));
        else
            current->Lines.append(line);
    }
}

QString TMemIniFile::Text() const
{
    const QString crlf = QStringLiteral("\r\n");
    QString out;
    for (const TSection &sec : FSections) {
        out += QLatin1Char('[') + sec.Name + QLatin1Char(']') + crlf;
        for (const QString &line : sec.Lines)
            out += line + crlf;
        out += crlf;
    }
    return out;
}

TMemIniFile::TSection *TMemIniFile::FindSection(const QString &section)
{
    for (TSection &sec : FSections)
        if (sec.Name.compare(section, Qt::CaseInsensitive) == 0)
            return &sec;
    return nullptr;
}

const TMemIniFile::TSection *TMemIniFile::FindSection(const QString &section) const
{
    return const_cast<TMemIniFile *>(this)->FindSection(section);
}

TMemIniFile::TSection &TMemIniFile::SectionForWriting(const QString &section)
{
    if (TSection *sec = FindSection(section))
        return *sec;
    FSections.append(TSection{section, {}});
    return FSections.last();
}

QString TMemIniFile::ReadString(const QString &section, const QString &ident, const QString &defaultValue) const
{
    if (const TSection *sec = FindSection(section)) {
        const qsizetype i = IndexOfName(sec->Lines, ident);
        if (i >= 0) {
            const QString &line = sec->Lines[i];
            return line.mid(line.indexOf(QLatin1Char('=')) + 1);
        }
    }
    return defaultValue;
}

void TMemIniFile::WriteString(const QString &section, const QString &ident, const QString &value)
{
    TSection &sec = SectionForWriting(section);
    const QString line = ident + QLatin1Char('=') + value;
    const qsizetype i = IndexOfName(sec.Lines, ident);
    if (i >= 0)
        sec.Lines[i] = line;
    else
        sec.Lines.append(line);
}

int TMemIniFile::ReadInteger(const QString &section, const QString &ident, int defaultValue) const
{
    return int(ReadIntegerText(ReadString(section, ident, QString()), 32, defaultValue));
}

void TMemIniFile::WriteInteger(const QString &section, const QString &ident, int value)
{
    WriteString(section, ident, QString::number(value));
}

bool TMemIniFile::ReadBool(const QString &section, const QString &ident, bool defaultValue) const
{
    return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

void TMemIniFile::WriteBool(const QString &section, const QString &ident, bool value)
{
    WriteString(section, ident, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QStringList TMemIniFile::ReadSection(const QString &section) const
{
    QStringList names;
    if (const TSection *sec = FindSection(section))
        for (const QString &line : sec->Lines) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq >= 0)
                names.append(line.left(eq));
        }
    return names;
}

QStringList TMemIniFile::ReadSections() const
{
    QStringList names;
    for (const TSection &sec : FSections)
        names.append(sec.Name);
    return names;
}

QStringList TMemIniFile::ReadSectionValues(const QString &section) const
{
    const TSection *sec = FindSection(section);
    return sec ? sec->Lines : QStringList();
}

bool TMemIniFile::SectionExists(const QString &section) const
{
    return FindSection(section) != nullptr;
}

bool TMemIniFile::ValueExists(const QString &section, const QString &ident) const
{
    const TSection *sec = FindSection(section);
    return sec && IndexOfName(sec->Lines, ident) >= 0;
}

void TMemIniFile::EraseSection(const QString &section)
{
    for (qsizetype i = 0; i < FSections.size(); ++i)
        if (FSections[i].Name.compare(section, Qt::CaseInsensitive) == 0) {
            FSections.removeAt(i);
            return;
        }
}

void TMemIniFile::DeleteKey(const QString &section, const QString &ident)
{
    if (TSection *sec = FindSection(section)) {
        const qsizetype i = IndexOfName(sec->Lines, ident);
        if (i >= 0)
            sec->Lines.removeAt(i);
    }
}

void TMemIniFile::UpdateFile()
{
    const QString text = Text();
    bool fits = true;
    QByteArray data = EncodeText(text, FEncoding, &fits);
    if (!fits && FEncoding == TTextEncoding::teWindows1252) {
        // Characters the legacy code page lacks would turn into '?'; UTF-8
        // keeps them, and readers recognise it without a mark.
        FEncoding = TTextEncoding::teUtf8;
        data = EncodeText(text, FEncoding, &fits);
    }
    if (!fits) {
        // Escaped bytes of file names that are no UTF-8 (lone surrogates)
        // have no UTF-8 form; only UTF-16 keeps them.
        FEncoding = TTextEncoding::teUtf16LE;
        data = EncodeText(text, FEncoding);
    }
    if (!WriteWholeFile(FFileName, data))
        throw EWriteError(GuardedFormat(Tr("Error writing to \"%s\""), FFileName));
}

// ---- TUnicodeIniFile ----

TUnicodeIniFile::TUnicodeIniFile(const QString &fileName, bool readOnly)
    : TMemIniFile(fileName), FReadOnly(readOnly)
{
}

TUnicodeIniFile TUnicodeIniFile::CreateForRead(const QString &fileName)
{
    return TUnicodeIniFile(fileName, true);
}

TUnicodeIniFile TUnicodeIniFile::CreateForWrite(const QString &fileName, bool clearEntries)
{
    TUnicodeIniFile ini(fileName, false);
    if (clearEntries)
        ini.Clear();
    ini.SetEncoding(TTextEncoding::teUtf16LE);
    if (clearEntries || !ini.ValueExists(kUnicodeSection, kEncodingKey))
        ini.WriteString(kUnicodeSection, kEncodingKey, kUtf16LEName);
    return ini;
}

void TUnicodeIniFile::Save()
{
    if (!FReadOnly)
        UpdateFile();
}

void TUnicodeIniFile::WriteProgramInfo(const QString &ident, const QString &value)
{
    WriteString(kUnicodeSection, ident, value);
}

int64_t TUnicodeIniFile::ReadInt64(const QString &section, const QString &ident, int64_t defaultValue) const
{
    return ReadIntegerText(ReadString(section, ident, QString()), 64, defaultValue);
}

void TUnicodeIniFile::WriteInt64(const QString &section, const QString &ident, int64_t value)
{
    WriteString(section, ident, QString::number(qlonglong(value)));
}

void TUnicodeIniFile::EraseSectionValues(const QString &section)
{
    if (TSection *sec = FindSection(section))
        sec->Lines.clear();
}

// ---- one-shot functions ----

QString ReadIniString(const QString &fileName, const QString &section, const QString &ident, const QString &defaultValue)
{
    return TMemIniFile(fileName).ReadString(section, ident, defaultValue);
}

int ReadIniInteger(const QString &fileName, const QString &section, const QString &ident, int defaultValue)
{
    return TMemIniFile(fileName).ReadInteger(section, ident, defaultValue);
}

bool ReadIniBool(const QString &fileName, const QString &section, const QString &ident, bool defaultValue)
{
    return TMemIniFile(fileName).ReadBool(section, ident, defaultValue);
}

void WriteIniString(const QString &fileName, const QString &section, const QString &ident, const QString &value)
{
    TMemIniFile ini(fileName);
    ini.WriteString(section, ident, value);
    ini.UpdateFile();
}

void WriteIniInteger(const QString &fileName, const QString &section, const QString &ident, int value)
{
    TMemIniFile ini(fileName);
    ini.WriteInteger(section, ident, value);
    ini.UpdateFile();
}

void WriteIniBool(const QString &fileName, const QString &section, const QString &ident, bool value)
{
    TMemIniFile ini(fileName);
    ini.WriteBool(section, ident, value);
    ini.UpdateFile();
}

} // namespace vl
