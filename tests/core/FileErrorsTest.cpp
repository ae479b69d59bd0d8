#include "core/FileErrors.h"

#include "common/TestUtils.h"

#include <QDir>

#include <gtest/gtest.h>

#include <libintl.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

using namespace vl;

namespace {

struct TMessageCase {
    int32_t code;
    const char *name;
    const char *info;
    const char *expected;
};

const TMessageCase kMessageCases[] = {
    // Number 0: the system's success text, never a prefix.
    {0, "", "", "The operation completed successfully"},
    {0x100, "a", "", "The operation completed successfully: \"a\""},
    {0x1000, "a", "", "The operation completed successfully: \"a\" (-> Copy)"},
    // Cancel has no class.
    {0x80, "", "", "Terminated by user"},
    {0x1080, "", "", "Terminated by user (-> Copy)"},
    // Name, info and operation in every combination.
    {0x1104, "a.txt", "", "Error - Could not read from file: \"a.txt\" (-> Copy)"},
    {0x1205, "a.txt", "", "Warning - Could not write to file: \"a.txt\" (-> Copy)"},
    {0x320C, "b.gz", "N", "Warning - Verification failed: \"b.gz\" (N) (-> gunzip)"},
    {0x30E, "b.gz", "D", "Error(2) - File not found: \"b.gz\" (D)"},
    {0x115, "c", "", "Error - Size mismatch: \"c\""},
    {0x101, "", "N", "Error - Could not create file"},
    {0x7126, "", "N", "Error - Error deleting file (-> Unzip)"},
    {0x6000 | 0x10B, "", "", "Error - Decryption failed (-> Decrypt)"},
    {0x2109, "", "", "Error - Corrupt file (-> gzip)"},
    {0x4120, "", "", "Error - Illegal zip signature (-> Zip)"},
    {0x7121, "", "", "Error - Could not extract file (-> Unzip)"},
    // Ends and middle of the number table.
    {0x111, "", "", "Error - Timeout error on copying file"},
    {0x11D, "", "", "Error - Timeout error on copying file via FTP"},
    {0x116, "", "", "Error - Could not open destination file for verification"},
    {0x125, "", "", "Error - Error copying alternate data streams"},
    // Unlisted numbers show the whole code; unlisted classes and operations
    // show nothing.
    {0x5128, "", "", "Error - Unknown error code ($00005128) (-> Encrypt)"},
    {0x17F, "x", "", "Error - Unknown error code ($0000017F): \"x\""},
    {0xFFFF, "", "", "Unknown error code ($0000FFFF)"},
    {-1, "", "", "Unknown error code ($FFFFFFFF)"},
    {0x415, "x", "", "Size mismatch: \"x\""},
    {0x8111, "x", "I", "Error - Timeout error on copying file: \"x\" (I)"},
    // Bits above 15 do not change the fields.
    {0x10104, "x", "", "Error - Could not read from file: \"x\""},
    // Names are arguments, never pattern text.
    {0x1104, "100%s %d%.txt", "%1:s", "Error - Could not read from file: \"100%s %d%.txt\" (%1:s) (-> Copy)"},
    {0x104, "50%", "", "Error - Could not read from file: \"50%\""},
};

TEST(FileErrors, MessageTable)
{
    for (const TMessageCase &c : kMessageCases) {
        SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << c.code << " name " << c.name);
        EXPECT_EQ(FileErrorMessage(c.code, QString::fromUtf8(c.name), QString::fromUtf8(c.info)),
                  QString::fromUtf8(c.expected));
    }
}

TEST(FileErrors, CodeFields)
{
    static_assert(MakeFileError(feReadFile, ecError, eoCopy) == 0x1104);
    static_assert(MakeFileError(feFtpTimeout) == 285);
    static_assert(MakeFileError(feTerminated, ecNone) == 0x80);
    static_assert(ErrorNumber(0x320C) == feVerification);
    static_assert(ErrorClass(0x320C) == ecWarning);
    static_assert(ErrorOperation(0x320C) == eoGunzip);
    static_assert(ErrorNumber(0x10104) == feReadFile && ErrorOperation(0x10104) == eoNone);
    EXPECT_EQ(FileErrorMessage(MakeFileError(feSetTimestamp, ecWarning, eoZip), QStringLiteral("f")),
              QStringLiteral("Warning - Timestamp could not be set: \"f\" (-> Zip)"));
}

TEST(FileErrors, CopyErrorNamesTheFileConcerned)
{
    const QString src = QStringLiteral("src");
    const QString dst = QStringLiteral("dst");
    // Numbers that concern the destination, with and without class and operation.
    for (int32_t number : {1, 5, 6, 7, 13, 15, 20, 22, 23, 25, 35}) {
        for (int32_t extra : {0x100, 0x200, 0x1100, 0x0}) {
            const int32_t code = number | extra;
            SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << code);
            EXPECT_EQ(CopyErrorMessage(src, dst, code), FileErrorMessage(code, dst, QString()));
        }
    }
    for (int32_t number : {0, 2, 3, 4, 8, 9, 11, 12, 14, 16, 17, 21, 24, 29, 30, 38, 128, 200}) {
        const int32_t code = number | 0x1100;
        SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << code);
        EXPECT_EQ(CopyErrorMessage(src, dst, code), FileErrorMessage(code, src, QString()));
    }
    EXPECT_EQ(CopyErrorMessage(src, dst, 0x1105), QStringLiteral("Error - Could not write to file: \"dst\" (-> Copy)"));
    EXPECT_EQ(CopyErrorMessage(src, dst, 0x1104), QStringLiteral("Error - Could not read from file: \"src\" (-> Copy)"));
    EXPECT_EQ(CopyErrorMessage(src, dst, 0x1107), QStringLiteral("Error - Low disk space: \"dst\" (-> Copy)"));
}

// Installs a message catalogue with the given translations as the default
// text domain for the lifetime of the object.
class TTestCatalogue {
public:
    explicit TTestCatalogue(std::map<std::string, std::string> entries)
    {
        entries[""] = "Content-Type: text/plain; charset=UTF-8\n";
        const QString dir = test::MakeTempDir(QStringLiteral("mo"));
        QDir().mkpath(dir + QStringLiteral("/xx/LC_MESSAGES"));
        test::WriteBytes(dir + QStringLiteral("/xx/LC_MESSAGES/velkor-test.mo"), MoFile(entries));

        FOldDomain = textdomain(nullptr);
        FOldLocale = setlocale(LC_MESSAGES, nullptr);
        if (const char *lang = std::getenv("LANGUAGE"))
            FOldLanguage = lang;
        // LANGUAGE is ignored in the plain "C" locale.
        setlocale(LC_MESSAGES, "C.UTF-8");
        setenv("LANGUAGE", "xx", 1);
        bindtextdomain("velkor-test", dir.toUtf8().constData());
        bind_textdomain_codeset("velkor-test", "UTF-8");
        textdomain("velkor-test");
    }

    ~TTestCatalogue()
    {
        textdomain(FOldDomain.c_str());
        if (FOldLanguage)
            setenv("LANGUAGE", FOldLanguage->c_str(), 1);
        else
            unsetenv("LANGUAGE");
        setlocale(LC_MESSAGES, FOldLocale.c_str());
    }

private:
    // A gettext catalogue without hash table (entries sorted by msgid).
    static QByteArray MoFile(const std::map<std::string, std::string> &entries)
    {
        const uint32_t n = uint32_t(entries.size());
        const uint32_t origTable = 28;
        const uint32_t transTable = origTable + 8 * n;
        uint32_t offset = transTable + 8 * n;
        QByteArray head, orig, trans, strings;
        auto put = [](QByteArray &to, uint32_t v) { to.append(reinterpret_cast<const char *>(&v), 4); };
        for (uint32_t v : {0x950412deu, 0u, n, origTable, transTable, 0u, 0u})
            put(head, v);
        for (const auto &[id, text] : entries) {
            put(orig, uint32_t(id.size()));
            put(orig, offset + uint32_t(strings.size()));
            strings.append(id.c_str(), qsizetype(id.size() + 1));
        }
        for (const auto &[id, text] : entries) {
            put(trans, uint32_t(text.size()));
            put(trans, offset + uint32_t(strings.size()));
            strings.append(text.c_str(), qsizetype(text.size() + 1));
        }
        return head + orig + trans + strings;
    }

    std::string FOldDomain;
    std::string FOldLocale;
    std::optional<std::string> FOldLanguage;
};

// A translation may contain "%" and even format specifiers; it is text,
// never part of a pattern, so the message stays whole.
TEST(FileErrors, TranslationWithPercentSign)
{
    TTestCatalogue catalogue({
        {"Error - ", "Fehler %s - "},
        {"Could not read from file", "Lesen zu 100% fehlgeschlagen"},
        {"Copy", "Kopie %d"},
        {"Unknown error code ($%.8x)", "Unbekannter Code ($%.8x) 100%%"},
    });
    ASSERT_EQ(QString::fromUtf8(gettext("Copy")), QStringLiteral("Kopie %d")) << "test catalogue not active";

    EXPECT_EQ(FileErrorMessage(0x1104, QStringLiteral("a.txt"), QString()),
              QStringLiteral("Fehler %s - Lesen zu 100% fehlgeschlagen: \"a.txt\" (-> Kopie %d)"));
    EXPECT_EQ(FileErrorMessage(0x1104, QStringLiteral("a.txt"), QStringLiteral("N")),
              QStringLiteral("Fehler %s - Lesen zu 100% fehlgeschlagen: \"a.txt\" (N) (-> Kopie %d)"));
    EXPECT_EQ(FileErrorMessage(0x104, QStringLiteral("a.txt"), QString()),
              QStringLiteral("Fehler %s - Lesen zu 100% fehlgeschlagen: \"a.txt\""));
    EXPECT_EQ(FileErrorMessage(0x1104, QString(), QString()),
              QStringLiteral("Fehler %s - Lesen zu 100% fehlgeschlagen (-> Kopie %d)"));
    EXPECT_EQ(FileErrorMessage(0x5128, QStringLiteral("%s"), QString()),
              QStringLiteral("Fehler %s - Unbekannter Code ($00005128) 100%: \"%s\" (-> Encrypt)"));
}

} // namespace
