// INI files held completely in memory.
//
// TMemIniFile: ordered sections, each an ordered list of lines
// "name=value". Section and key names are looked up ignoring case. A header
// that appears twice gives two sections; reads and writes reach the first.
// Reading accepts UTF-8, UTF-16 (with their marks) and 8-bit text (UTF-8
// when valid, else Windows-1252). Written text: "[name]", the lines, one
// empty line per section, every line ending in CR LF.
//
// Files are saved through a temporary file in the same folder that is
// flushed and renamed over the target, so a failed save (full disk,
// read-only file) leaves the previous file as it was. Nothing is written by
// a destructor: saving is always an explicit call that may raise
// EWriteError.
//
// TUnicodeIniFile: the task and settings file. Always saved as UTF-16LE
// with the mark FF FE, and carries the marker section [Unicode] with
// Encoding=UTF-16LE.
#pragma once

#include "core/TextEncoding.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace vl {

class TMemIniFile {
public:
    // An empty object without a file.
    TMemIniFile() = default;
    // Loads fileName; a missing file or an empty name gives an empty object
    // (saved later as UTF-8 without a mark). Raises EFOpenError when the
    // file exists but cannot be read.
    explicit TMemIniFile(const QString &fileName);
    virtual ~TMemIniFile() = default;
    TMemIniFile(const TMemIniFile &) = default;
    TMemIniFile(TMemIniFile &&) = default;
    TMemIniFile &operator=(const TMemIniFile &) = default;
    TMemIniFile &operator=(TMemIniFile &&) = default;

    const QString &FileName() const { return FFileName; }
    // The encoding the file was found in, used for saving.
    TTextEncoding Encoding() const { return FEncoding; }
    void SetEncoding(TTextEncoding encoding) { FEncoding = encoding; }

    QString ReadString(const QString &section, const QString &ident, const QString &defaultValue) const;
    void WriteString(const QString &section, const QString &ident, const QString &value);
    // Decimal or "$"/"0x" hexadecimal; the default when missing or no number.
    int ReadInteger(const QString &section, const QString &ident, int defaultValue) const;
    void WriteInteger(const QString &section, const QString &ident, int value);
    // True when the integer value is not 0; writes "1" or "0".
    bool ReadBool(const QString &section, const QString &ident, bool defaultValue) const;
    void WriteBool(const QString &section, const QString &ident, bool value);

    // The key names of a section (lines without "=" have none).
    QStringList ReadSection(const QString &section) const;
    // Every section name in file order, repeated headers included.
    QStringList ReadSections() const;
    // Every line of a section.
    QStringList ReadSectionValues(const QString &section) const;
    bool SectionExists(const QString &section) const;
    bool ValueExists(const QString &section, const QString &ident) const;
    // Removes the section with its header.
    void EraseSection(const QString &section);
    // Removes the first line with that key.
    void DeleteKey(const QString &section, const QString &ident);
    // Removes every section.
    void Clear() { FSections.clear(); }

    // Parses INI text (replacing the contents) and produces it.
    void SetText(const QString &text);
    QString Text() const;

    // Saves the whole file now in Encoding(); text that encoding cannot
    // hold switches it (Windows-1252 to UTF-8, and escaped file-name bytes
    // to UTF-16LE) rather than turning into '?'. Raises EWriteError
    // ("Error writing to "%s"") when it cannot be written.
    void UpdateFile();

protected:
    struct TSection {
        QString Name;
        QStringList Lines;
    };

    TSection *FindSection(const QString &section);
    const TSection *FindSection(const QString &section) const;
    TSection &SectionForWriting(const QString &section);

    QString FFileName;
    TTextEncoding FEncoding = TTextEncoding::teUtf8;
    QList<TSection> FSections;
};

class TUnicodeIniFile : public TMemIniFile {
public:
    // Loads the file for reading only: Save() never writes it.
    static TUnicodeIniFile CreateForRead(const QString &fileName);
    // Loads the file (all sections removed when clearEntries), to be saved
    // as UTF-16LE; [Unicode] gets Encoding=UTF-16LE unless it already has
    // an Encoding value.
    static TUnicodeIniFile CreateForWrite(const QString &fileName, bool clearEntries);

    bool ReadOnly() const { return FReadOnly; }

    // Writes the whole file unless it was opened for reading only; raises
    // EWriteError like UpdateFile.
    void Save();

    // Writes ident=value into [Unicode].
    void WriteProgramInfo(const QString &ident, const QString &value);
    // Decimal or "$"/"0x" hexadecimal 64-bit value; the default when
    // missing or no number.
    int64_t ReadInt64(const QString &section, const QString &ident, int64_t defaultValue) const;
    void WriteInt64(const QString &section, const QString &ident, int64_t value);
    // Removes every line of the section and keeps its header.
    void EraseSectionValues(const QString &section);

private:
    TUnicodeIniFile(const QString &fileName, bool readOnly);

    bool FReadOnly = true;
};

// One-shot access: load the file, do one operation, and for the writers
// save at once. The file keeps the encoding it was found in; a new file is
// written as UTF-8 without a mark.
QString ReadIniString(const QString &fileName, const QString &section, const QString &ident, const QString &defaultValue);
int ReadIniInteger(const QString &fileName, const QString &section, const QString &ident, int defaultValue);
bool ReadIniBool(const QString &fileName, const QString &section, const QString &ident, bool defaultValue);
void WriteIniString(const QString &fileName, const QString &section, const QString &ident, const QString &value);
void WriteIniInteger(const QString &fileName, const QString &section, const QString &ident, int value);
void WriteIniBool(const QString &fileName, const QString &section, const QString &ident, bool value);

} // namespace vl
