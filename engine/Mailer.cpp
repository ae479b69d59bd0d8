#include "engine/Mailer.h"

#include "core/PathUtils.h"
#include "core/StringUtils.h"
#include "engine/Socket.h"
#include "platform/File.h"
#include "platform/System.h"
#include "platform/Thread.h"

#include <QDateTime>
#include <QLocale>
#include <QMimeDatabase>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimeZone>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <stdexcept>

namespace vl {

using TKind = ENetError::TKind;

// ---- Protocol log -----------------------------------------------------------

// The SMTP dialogue, one time-stamped line per command or reply. Lines
// that carry credentials arrive already masked (TSocket::MaskNextLine); an
// "AUTH <mechanism> <initial response>" line is masked here as well.
class TSmtpLogFile : public TProtocolLogFile {
public:
    using TProtocolLogFile::TProtocolLogFile;

    // A block headed "Error <date and time>" with one line per text.
    void ErrorEntry(const QStringList &ALines)
    {
        QByteArray text = "Error " + Stamp() + '\n';
        for (const QString &line : ALines)
            text += "  " + line.toUtf8() + '\n';
        Append(text);
    }

protected:
    QByteArray Masked(const QByteArray &ALine) const override
    {
        if (ALine.size() > 5 && ALine.left(5).toUpper() == "AUTH ") {
            const int space = ALine.indexOf(' ', 5);
            if (space > 0)
                return ALine.left(space) + " ***";
        }
        return ALine;
    }
};

QString MailerTempPath()
{
    return WithTrailingDelimiter(TempDirectory());
}

// ---- Addresses ----------------------------------------------------------------

void TEmailAddressItem::SetText(const QString &AText)
{
    const QString text = AText.trimmed();
    const int open = text.lastIndexOf(QLatin1Char('<'));
    const int close = text.lastIndexOf(QLatin1Char('>'));
    if (open >= 0 && close > open) {
        Address = text.mid(open + 1, close - open - 1).trimmed();
        QString name = text.left(open).trimmed();
        if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
            name = name.mid(1, name.size() - 2).replace(QStringLiteral("\\\""), QStringLiteral("\""));
        Name = name;
    } else {
        Address = text;
        Name.clear();
    }
}

void TEmailAddressList::SetEMailAddresses(const QString &AText)
{
    clear();
    QString item;
    bool quoted = false, angle = false, escaped = false;
    const auto flush = [&] {
        if (!item.trimmed().isEmpty()) {
            TEmailAddressItem a;
            a.SetText(item);
            append(a);
        }
        item.clear();
    };
    for (const QChar ch : AText) {
        if (escaped)
            escaped = false;
        else if (quoted && ch == QLatin1Char('\\'))
            escaped = true;
        else if (ch == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && ch == QLatin1Char('<'))
            angle = true;
        else if (!quoted && ch == QLatin1Char('>'))
            angle = false;
        if (!quoted && !angle && (ch == QLatin1Char(',') || ch == QLatin1Char(';'))) {
            flush();
            continue;
        }
        item += ch;
    }
    flush();
}

// ---- MIME building ------------------------------------------------------------

namespace {

constexpr int kMaxLineBytes = 998; // RFC 5322 line limit without CR LF

// An address as it goes into headers and commands: line breaks and other
// control characters in settings must not smuggle in header lines or SMTP
// commands.
QString CleanAddress(const QString &AAddress)
{
    return RemoveControlChars(AAddress).trimmed();
}

bool IsPlainAscii(const QString &AText)
{
    for (const QChar ch : AText)
        if (ch.unicode() < 32 || ch.unicode() > 126)
            return false;
    return !AText.contains(QStringLiteral("=?"));
}

bool FitsLatin1(const QString &AText)
{
    for (const QChar ch : AText)
        if (ch.unicode() > 255)
            return false;
    return true;
}

// RFC 2047 encoded words (UTF-8, base64) of at most 75 characters each,
// split between characters, joined by folding white space.
QByteArray EncodedWords(const QString &AText)
{
    QList<QByteArray> words;
    QByteArray chunk;
    for (int i = 0; i < AText.size(); ++i) {
        int len = 1;
        if (AText.at(i).isHighSurrogate() && i + 1 < AText.size() && AText.at(i + 1).isLowSurrogate())
            len = 2;
        const QByteArray bytes = AText.mid(i, len).toUtf8();
        if (chunk.size() + bytes.size() > 36) { // 36 bytes -> 48 base64 characters
            words << "=?utf-8?B?" + chunk.toBase64() + "?=";
            chunk.clear();
        }
        chunk += bytes;
        i += len - 1;
    }
    if (!chunk.isEmpty())
        words << "=?utf-8?B?" + chunk.toBase64() + "?=";
    return words.join("\r\n ");
}

// Unstructured header text: as it stands when plain ASCII (folded at
// blanks when long), else encoded words.
QByteArray HeaderText(const QString &AText)
{
    const QString text = LineBreaksToChar(AText, QLatin1Char(' '));
    if (!IsPlainAscii(text))
        return EncodedWords(text);
    QByteArray out;
    int lineLen = 0;
    const QList<QByteArray> parts = text.toLatin1().split(' ');
    for (int i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            if (lineLen + 1 + parts[i].size() > 76) {
                out += "\r\n ";
                lineLen = 1;
            } else {
                out += ' ';
                ++lineLen;
            }
        }
        out += parts[i];
        lineLen += parts[i].size();
    }
    return out;
}

QByteArray Mailbox(const TEmailAddressItem &AItem)
{
    const QByteArray address = CleanAddress(AItem.Address).toUtf8();
    const QString name = AItem.Name.trimmed();
    if (name.isEmpty())
        return address;
    QByteArray display;
    if (!IsPlainAscii(name)) {
        display = EncodedWords(name);
    } else if (name.contains(QRegularExpression(QStringLiteral("[()<>\\[\\]:;@\\\\,.\"]")))) {
        QString q = name;
        q.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
        display = '"' + q.toLatin1() + '"';
    } else {
        display = name.toLatin1();
    }
    return display + " <" + address + '>';
}

QByteArray AddressList(const TEmailAddressList &AList)
{
    QByteArray out;
    int lineLen = 4;
    for (const TEmailAddressItem &item : AList) {
        if (CleanAddress(item.Address).isEmpty())
            continue;
        const QByteArray box = Mailbox(item);
        if (!out.isEmpty()) {
            out += ',';
            if (lineLen + 2 + box.size() > 76) {
                out += "\r\n ";
                lineLen = 1;
            } else {
                out += ' ';
                lineLen += 2;
            }
        }
        out += box;
        lineLen += box.size() - std::max<int>(0, box.lastIndexOf('\n') + 1);
    }
    return out;
}

QByteArray Base64Lines(const QByteArray &AData)
{
    const QByteArray b64 = AData.toBase64();
    QByteArray out;
    out.reserve(b64.size() + b64.size() / 76 * 2 + 2);
    for (qsizetype i = 0; i < b64.size(); i += 76)
        out += b64.mid(i, 76) + "\r\n";
    return out;
}

// Every line break (CR LF, LF or CR) as CR LF.
QByteArray CrLfLines(const QByteArray &AData)
{
    QByteArray out;
    out.reserve(AData.size() + AData.size() / 40);
    for (qsizetype i = 0; i < AData.size(); ++i) {
        const char c = AData[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < AData.size() && AData[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

// Data in CR LF form that may go as 8bit: no NUL and no line over the
// limit.
bool Fits8Bit(const QByteArray &ACrLfData)
{
    if (ACrLfData.contains('\0'))
        return false;
    qsizetype start = 0;
    while (start < ACrLfData.size()) {
        qsizetype end = ACrLfData.indexOf("\r\n", start);
        if (end < 0)
            end = ACrLfData.size();
        if (end - start > kMaxLineBytes)
            return false;
        start = end + 2;
    }
    return true;
}

QByteArray QuotedPrintable(const QByteArray &ACrLfData)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    const QList<QByteArray> lines = ACrLfData.split('\n');
    for (int n = 0; n < lines.size(); ++n) {
        QByteArray line = lines[n];
        const bool hadBreak = n + 1 < lines.size();
        if (hadBreak && line.endsWith('\r'))
            line.chop(1);
        if (!hadBreak && line.isEmpty())
            break;
        int len = 0;
        for (int i = 0; i < line.size(); ++i) {
            const uchar c = uchar(line[i]);
            const bool last = i + 1 == line.size();
            QByteArray piece;
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last))
                piece = QByteArray(1, char(c));
            else
                piece = QByteArray{"="} + hex[c >> 4] + hex[c & 15];
            if (len + piece.size() > 75) {
                out += "=\r\n";
                len = 0;
            }
            out += piece;
            len += piece.size();
        }
        if (hadBreak)
            out += "\r\n";
    }
    return out;
}

// One MIME entity: its header lines and its body (ending with CR LF
// unless empty).
struct TEntity {
    QByteArray Headers;
    QByteArray Body;
};

// A text part from lines, one line break after each: ISO-8859-1 when
// every character fits it (and AUtf8 is off), else UTF-8, so no character
// turns into "?". Lines too long for 8bit go quoted-printable.
TEntity TextEntity(const QStringList &ALines, const QString &ASubtype, bool AUtf8)
{
    QString text;
    for (const QString &line : ALines) {
        text += line;
        text += QLatin1Char('\n');
    }
    const bool utf8 = AUtf8 || !FitsLatin1(text);
    const QByteArray data = CrLfLines(utf8 ? text.toUtf8() : text.toLatin1());
    TEntity e;
    e.Headers = "Content-Type: text/" + ASubtype.toLatin1() + "; charset=" + (utf8 ? "utf-8" : "iso-8859-1") + "\r\n";
    if (Fits8Bit(data)) {
        e.Headers += "Content-Transfer-Encoding: 8bit\r\n";
        e.Body = data;
    } else {
        e.Headers += "Content-Transfer-Encoding: quoted-printable\r\n";
        e.Body = QuotedPrintable(data);
    }
    return e;
}

QByteArray NewBoundary()
{
    QByteArray b = "=_Velkor_";
    for (int i = 0; i < 4; ++i)
        b += QByteArray::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, '0');
    return b;
}

TEntity Multipart(const QByteArray &ASubtype, const QList<TEntity> &AParts)
{
    QByteArray boundary;
    bool clash = true;
    while (clash) {
        boundary = NewBoundary();
        clash = false;
        for (const TEntity &p : AParts)
            clash = clash || p.Body.contains(boundary) || p.Headers.contains(boundary);
    }
    TEntity e;
    e.Headers = "Content-Type: multipart/" + ASubtype + ";\r\n boundary=\"" + boundary + "\"\r\n";
    e.Body = "This is a multi-part message in MIME format.\r\n";
    for (const TEntity &p : AParts)
        e.Body += "\r\n--" + boundary + "\r\n" + p.Headers + "\r\n" + p.Body;
    e.Body += "\r\n--" + boundary + "--\r\n";
    return e;
}

QByteArray ReadWholeFile(const QString &AFileName)
{
    TFile f;
    uint32_t err = f.Open(AFileName, TFile::faRead);
    int64_t size = 0;
    if (err == 0)
        err = f.Size(size);
    QByteArray data;
    if (err == 0) {
        data.resize(size);
        int64_t done = 0;
        err = f.Read(data.data(), size, done);
        data.resize(done);
    }
    if (err != 0)
        throw std::runtime_error(QStringLiteral("Could not read the attachment %1 (error %2)")
                                     .arg(AFileName)
                                     .arg(err)
                                     .toStdString());
    return data;
}

// "name" parameter value: quoted ASCII, or an encoded word.
QByteArray NameParam(const QString &AName)
{
    if (IsPlainAscii(AName)) {
        QString q = AName;
        q.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
        return '"' + q.toLatin1() + '"';
    }
    return '"' + EncodedWords(AName).replace("\r\n ", " ") + '"';
}

// Content-Disposition filename: quoted ASCII, or RFC 2231 UTF-8.
QByteArray FileNameParam(const QString &AName)
{
    if (IsPlainAscii(AName))
        return "filename=" + NameParam(AName);
    return "filename*=utf-8''" + AName.toUtf8().toPercentEncoding();
}

TEntity AttachmentEntity(const QString &ALine)
{
    const int bar = ALine.indexOf(QLatin1Char('|'));
    const QString fileName = bar < 0 ? ALine : ALine.left(bar);
    const QString typeText = bar < 0 ? QString() : ALine.mid(bar + 1).trimmed();
    const QByteArray data = ReadWholeFile(fileName);
    QString type;
    if (typeText.isEmpty())
        type = QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension).name();
    else if (typeText.contains(QLatin1Char('/')))
        type = typeText;
    else
        type = QStringLiteral("application/") + typeText;
    const QString name = fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);

    TEntity e;
    e.Headers = "Content-Type: " + type.toLatin1() + ";\r\n name=" + NameParam(name) + "\r\n";
    const QByteArray text = type.startsWith(QStringLiteral("text/plain"), Qt::CaseInsensitive) ? CrLfLines(data)
                                                                                                : QByteArray();
    // Plain text goes as 8bit unless it holds what 8bit cannot carry.
    if (!text.isNull() && Fits8Bit(text)) {
        e.Headers += "Content-Transfer-Encoding: 8bit\r\n";
        e.Body = text;
    } else {
        e.Headers += "Content-Transfer-Encoding: base64\r\n";
        e.Body = Base64Lines(data);
    }
    e.Headers += "Content-Disposition: attachment;\r\n " + FileNameParam(name) + "\r\n";
    return e;
}

QByteArray RfcDate(const QDateTime &ATime)
{
    const int offset = ATime.offsetFromUtc() / 60;
    const int absOffset = std::abs(offset);
    return QLocale::c().toString(ATime, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss ")).toLatin1() +
           (offset < 0 ? '-' : '+') + QByteArray::number(absOffset / 60).rightJustified(2, '0') +
           QByteArray::number(absOffset % 60).rightJustified(2, '0');
}

QByteArray MessageId(const TEmailAddressItem &AFrom)
{
    const QString address = CleanAddress(AFrom.Address);
    const int at = address.lastIndexOf(QLatin1Char('@'));
    QByteArray domain = at >= 0 ? address.mid(at + 1).toUtf8() : QByteArray();
    if (domain.isEmpty() || !IsPlainAscii(QString::fromUtf8(domain)))
        domain = "velkor.localhost";
    QByteArray id = QByteArray::number(QDateTime::currentMSecsSinceEpoch(), 36) + '.';
    for (int i = 0; i < 2; ++i)
        id += QByteArray::number(QRandomGenerator::global()->generate(), 36);
    return '<' + id + '@' + domain + '>';
}

} // namespace

// ---- SMTP dialogue ----------------------------------------------------------------

// One connection of TmMailer::Send: connect (TLS as set), greeting,
// EHLO/HELO, STARTTLS, SASL, the envelope and the data, QUIT.
class TSmtpSession {
public:
    TSmtpSession(TmMailer &AOwner, TSmtpLogFile &ALog, std::shared_ptr<TTlsContext> ATls)
        : FOwner(AOwner), FLog(ALog), FTls(std::move(ATls))
    {
        FSocket.SetProtocolSink(&FLog);
    }

    void Run(const QByteArray &AMessage)
    {
        try {
            Connect();
            Authenticate();
            SendMessage(AMessage);
        } catch (const ENetError &e) {
            // After a broken connection or a time-out there is nobody to say
            // goodbye to.
            Disconnect(e.Kind == TKind::Protocol);
            throw;
        } catch (...) {
            Disconnect(true);
            throw;
        }
        Disconnect(true);
    }

private:
    struct TReply {
        int32_t Code = 0;
        QList<QByteArray> Lines; // without code and separator
        QString Text() const
        {
            QStringList parts;
            for (const QByteArray &l : Lines)
                parts << QString::fromUtf8(l);
            return parts.join(QStringLiteral("\r\n"));
        }
        QString Message() const
        {
            return QString::number(Code) + QLatin1Char(' ') +
                   Text().replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        }
    };

    TReply ReadReply()
    {
        TReply r;
        for (;;) {
            const QByteArray line = FSocket.ReadLine();
            bool ok = line.size() >= 3;
            const int32_t code = ok ? line.left(3).toInt(&ok) : 0;
            if (!ok || (line.size() > 3 && line[3] != '-' && line[3] != ' '))
                throw ENetError(TKind::Protocol, QStringLiteral("Invalid reply from the server: ") +
                                                     QString::fromUtf8(line.left(200)));
            r.Code = code;
            r.Lines << line.mid(4);
            if (line.size() <= 3 || line[3] == ' ')
                return r;
        }
    }

    TReply Command(const QByteArray &ALine)
    {
        FSocket.WriteLine(ALine);
        return ReadReply();
    }

    [[noreturn]] static void Fail(const TReply &AReply)
    {
        throw ENetError(TKind::Protocol, AReply.Message(), AReply.Code);
    }

    void Connect()
    {
        const QString host = FOwner.Host.trimmed();
        const uint16_t port = uint16_t(FOwner.Port & 0xFFFF);
        const TUseTls mode = FOwner.fUseTLS;
        FSocket.ConnectTimeout = FOwner.ConnectTimeout;
        FSocket.ReadTimeout = FOwner.ReadTimeout;
        FLog.Status(QStringLiteral("Connecting to %1:%2").arg(host).arg(port));
        FSocket.Connect(host, port, host.contains(QLatin1Char(':')));
        FConnected = true;
        FLog.Status(QStringLiteral("Connected"));
        FOwner.SmtpConnected();
        if (mode == TUseTls::utUseImplicitTLS)
            Handshake(host);
        const TReply greeting = ReadReply();
        if (greeting.Code != 220)
            Fail(greeting);
        Hello();
        if (mode == TUseTls::utUseExplicitTLS || mode == TUseTls::utUseRequireTLS) {
            if (HasCapability("STARTTLS")) {
                const TReply r = Command("STARTTLS");
                if (r.Code == 220) {
                    Handshake(host);
                    Hello(); // the capabilities may differ under TLS
                } else if (mode == TUseTls::utUseRequireTLS) {
                    Fail(r);
                }
            } else if (mode == TUseTls::utUseRequireTLS) {
                throw ENetError(TKind::Protocol,
                                QStringLiteral("The server does not offer STARTTLS, but TLS is required."));
            }
        }
    }

    void Handshake(const QString &AHost)
    {
        try {
            FSocket.StartTls(FTls, AHost);
        } catch (...) {
            FHandshakeFailed = true; // no QUIT through a broken session
            throw;
        }
        FLog.Status(QStringLiteral("TLS session established"));
    }

    void Hello()
    {
        const QString helo = RemoveControlChars(FOwner.HeloName).trimmed();
        const QByteArray name = helo.isEmpty() ? QByteArray("localhost") : helo.toUtf8();
        FCapabilities.clear();
        TReply r = Command("EHLO " + name);
        if (r.Code == 250) {
            for (int i = 1; i < r.Lines.size(); ++i)
                FCapabilities << r.Lines[i].trimmed().toUpper();
            return;
        }
        r = Command("HELO " + name);
        if (r.Code != 250)
            Fail(r);
    }

    bool HasCapability(const QByteArray &AName) const
    {
        for (const QByteArray &c : FCapabilities)
            if (c == AName || c.startsWith(AName + ' '))
                return true;
        return false;
    }

    QList<QByteArray> OfferedMechanisms() const
    {
        QList<QByteArray> list;
        for (const QByteArray &c : FCapabilities)
            if (c.startsWith("AUTH ") || c.startsWith("AUTH="))
                for (const QByteArray &m : c.mid(5).split(' '))
                    if (!m.isEmpty())
                        list << m;
        return list;
    }

    void Authenticate()
    {
        if (FOwner.UserId.isEmpty() || FOwner.Password.isEmpty())
            return;
        const QList<QByteArray> offered = OfferedMechanisms();
        int32_t code = 0;
        for (const QByteArray mech : {"LOGIN", "PLAIN", "CRAM-MD5", "CRAM-SHA1"}) {
            if (!offered.contains(mech))
                continue;
            code = TryMechanism(mech);
            if (code == 235) {
                FLog.Status(QStringLiteral("Authenticated (%1)").arg(QString::fromLatin1(mech)));
                return;
            }
            // Only a mechanism refused as such lets the next one try; wrong
            // credentials are not offered to the server again and again.
            if (code != 504 && code != 534 && code != 538)
                break;
        }
        throw ENetError(TKind::Protocol, QStringLiteral("Authentication Failed"), code);
    }

    int32_t TryMechanism(const QByteArray &AMech)
    {
        const QByteArray user = FOwner.UserId.toUtf8();
        const QByteArray pass = FOwner.Password.toUtf8();
        if (AMech == "PLAIN") {
            FSocket.MaskNextLine("AUTH PLAIN ***");
            return Command("AUTH PLAIN " + (QByteArray(1, '\0') + user + '\0' + pass).toBase64()).Code;
        }
        TReply r = Command("AUTH " + AMech);
        if (AMech == "LOGIN") {
            if (r.Code == 334) {
                FSocket.MaskNextLine("***");
                r = Command(user.toBase64());
            }
            if (r.Code == 334) {
                FSocket.MaskNextLine("***");
                r = Command(pass.toBase64());
            }
            return r.Code;
        }
        if (r.Code != 334)
            return r.Code;
        const QByteArray challenge = QByteArray::fromBase64(r.Lines.value(0).trimmed());
        const EVP_MD *md = AMech == "CRAM-MD5" ? EVP_md5() : EVP_sha1();
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLen = 0;
        HMAC(md, pass.constData(), int(pass.size()), reinterpret_cast<const unsigned char *>(challenge.constData()),
             size_t(challenge.size()), digest, &digestLen);
        const QByteArray answer = user + ' ' + QByteArray(reinterpret_cast<const char *>(digest), digestLen).toHex();
        FSocket.MaskNextLine("***");
        return Command(answer.toBase64()).Code;
    }

    void SendMessage(const QByteArray &AMessage)
    {
        TReply r = Command("MAIL FROM:<" + CleanAddress(FOwner.From.Address).toUtf8() + '>');
        if (r.Code != 250)
            Fail(r);
        int accepted = 0;
        for (const TEmailAddressList *list : {&FOwner.Recipients, &FOwner.CCList, &FOwner.BCCList}) {
            for (const TEmailAddressItem &item : *list) {
                const QString address = CleanAddress(item.Address);
                if (address.isEmpty())
                    continue;
                r = Command("RCPT TO:<" + address.toUtf8() + '>');
                if (r.Code == 250 || r.Code == 251) {
                    ++accepted;
                    continue;
                }
                bool goOn = false;
                FOwner.SmtpFailedRecipient(address, r.Code, r.Text(), goOn);
                if (!goOn)
                    Fail(r);
            }
        }
        if (accepted == 0)
            throw ENetError(TKind::Protocol, QStringLiteral("No recipient was accepted."));
        r = Command("DATA");
        if (r.Code != 354)
            Fail(r);
        SendData(AMessage);
        r = ReadReply();
        if (r.Code != 250)
            Fail(r);
    }

    // The message with dot-stuffing, in pieces that end at line ends so
    // every piece starts a line; the work events count message bytes.
    void SendData(const QByteArray &AMessage)
    {
        constexpr qsizetype kPiece = 64 * 1024;
        FLog.Status(QStringLiteral("Sending the message (%1 bytes)").arg(AMessage.size()));
        FOwner.SmtpWorkBegin(TWorkMode::wmWrite, AMessage.size());
        qsizetype pos = 0;
        while (pos < AMessage.size()) {
            qsizetype end = AMessage.indexOf('\n', std::min(pos + kPiece, AMessage.size()) - 1);
            end = end < 0 ? AMessage.size() : end + 1;
            QByteArray piece = AMessage.mid(pos, end - pos);
            if (piece.startsWith('.'))
                piece.prepend('.');
            piece.replace("\n.", "\n..");
            FSocket.Write(piece);
            pos = end;
            FOwner.SmtpWork(TWorkMode::wmWrite, pos);
        }
        FSocket.Write(AMessage.endsWith("\r\n") || AMessage.isEmpty() ? QByteArray(".\r\n") : QByteArray("\r\n.\r\n"));
        FOwner.SmtpWorkEnd(TWorkMode::wmWrite);
    }

    void Disconnect(bool APolite)
    {
        if (!FConnected)
            return;
        FConnected = false;
        if (APolite && !FHandshakeFailed && FSocket.IsOpen()) {
            try {
                Command("QUIT");
            } catch (const ENetError &) {
            }
        }
        FSocket.Close();
        FLog.Status(QStringLiteral("Disconnected"));
        FOwner.SmtpDisconnected();
    }

    TmMailer &FOwner;
    TSmtpLogFile &FLog;
    std::shared_ptr<TTlsContext> FTls;
    TSocket FSocket;
    QList<QByteArray> FCapabilities;
    bool FConnected = false;
    bool FHandshakeFailed = false;
};

// ---- TmMailer ------------------------------------------------------------------

TmMailer::TmMailer() : TmMailer(QString(), QString(), QString(), QString(), QString()) {}

TmMailer::TmMailer(const QString &APath, const QString &ARoot, const QString &ACert, const QString &AKey,
                   const QString &APwd)
    : fCertPwd(APwd)
{
    if (!ARoot.isEmpty() && !ACert.isEmpty() && !AKey.isEmpty()) {
        // OpenSSL is linked, not loaded from a folder; a bare context shows
        // that it works.
        QString error;
        const bool library = TTlsContext::Create(QString(), QString(), QString(), {}, error) != nullptr;
        fTLSAvail = library && FindTlsFiles(APath, ARoot, ACert, AKey, fRoot, fCert, fKey);
    }
    fIdLogFile = std::make_unique<TSmtpLogFile>(MailerTempPath() + QStringLiteral("SmtpLog.txt"));
}

TmMailer::~TmMailer() = default;

QString TmMailer::About() const
{
    return QStringLiteral("TmMailer 1.0");
}

void TmMailer::SetSecureTransfer(TSecTransfer Value)
{
    switch (Value) {
    case TSecTransfer::stExplicit:
        fUseTLS = TUseTls::utUseExplicitTLS;
        break;
    case TSecTransfer::stRequired:
        fUseTLS = TUseTls::utUseRequireTLS;
        break;
    case TSecTransfer::stImplicit:
        fUseTLS = TUseTls::utUseImplicitTLS;
        break;
    default:
        fUseTLS = TUseTls::utNoTLSSupport;
    }
}

QString TmMailer::Logname() const
{
    return fIdLogFile->FileName();
}

void TmMailer::SetLogname(const QString &Value)
{
    fIdLogFile->SetFileName(Value);
}

void TmMailer::SetWriteLogFile(bool Value)
{
    fIdLogFile->SetActive(Value);
}

// An empty value removes the header: callers set optional headers such as
// "Reply-To" from settings that may be empty, and an empty address header
// is not a valid one.
void TmMailer::AddExtraHeader(const QString &AId, const QString &AContents)
{
    const bool remove = AContents.trimmed().isEmpty();
    for (qsizetype i = 0; i < fExtraHeaders.size(); ++i) {
        if (fExtraHeaders[i].first.compare(AId, Qt::CaseInsensitive) == 0) {
            if (remove)
                fExtraHeaders.removeAt(i);
            else
                fExtraHeaders[i].second = AContents;
            return;
        }
    }
    if (!remove)
        fExtraHeaders.append({AId, AContents});
}

void TmMailer::AddError(TSendErrorType AType, const QString &AText)
{
    fErrorList.append({AType, AText});
}

QByteArray TmMailer::SSLPasswordHandler()
{
    return ClientKeyPassword(OnSSLPassword, PassPhraseBytes(fCertPwd));
}

// The message from the current properties. The charset is chosen for
// each message (and part) anew, so one UTF-8 message leaves no trace in
// the next.
QByteArray TmMailer::BuildMessage()
{
    TEntity content;
    switch (ContentType) {
    case TContentType::ctUtf8:
        content = TextEntity(Body, QStringLiteral("plain"), true);
        break;
    case TContentType::ctHtml:
        if (!Body.isEmpty())
            content = Multipart("alternative", {TextEntity(Body, QStringLiteral("plain"), false),
                                                TextEntity(HTMLBody, QStringLiteral("html"), false)});
        else
            content = TextEntity(HTMLBody, QStringLiteral("html"), false);
        break;
    default:
        content = TextEntity(Body, QStringLiteral("plain"), false);
    }
    // Each attachment part says "Content-Disposition: attachment" itself;
    // the message as a whole carries no disposition, since "attachment" on
    // it would tell mail readers not to show the report text inline.
    if (!Attachments.AttachedFiles.isEmpty()) {
        QList<TEntity> parts{content};
        for (const QString &line : Attachments.AttachedFiles)
            if (!line.trimmed().isEmpty())
                parts << AttachmentEntity(line);
        content = Multipart("mixed", parts);
    }

    QByteArray head;
    head += "From: " + Mailbox(From) + "\r\n";
    if (!Subject.isEmpty())
        head += "Subject: " + HeaderText(Subject) + "\r\n";
    const QByteArray to = AddressList(Recipients);
    if (!to.isEmpty())
        head += "To: " + to + "\r\n";
    const QByteArray cc = AddressList(CCList);
    if (!cc.isEmpty())
        head += "Cc: " + cc + "\r\n";
    head += "Date: " + RfcDate(QDateTime::currentDateTime()) + "\r\n";
    head += "Message-ID: " + MessageId(From) + "\r\n";
    head += "MIME-Version: 1.0\r\n";
    static const char *const kPriorities[] = {"1 (Highest)", "2 (High)", "3 (Normal)", "4 (Low)", "5 (Lowest)"};
    static const char *const kImportance[] = {"high", "high", "normal", "low", "low"};
    if (Priority != TMessagePriority::mpNormal) {
        head += QByteArray("X-Priority: ") + kPriorities[int(Priority)] + "\r\n";
        head += QByteArray("Importance: ") + kImportance[int(Priority)] + "\r\n";
    }
    for (const auto &h : fExtraHeaders) {
        const QByteArray name = RemoveControlChars(h.first).remove(QLatin1Char(':')).trimmed().toLatin1();
        if (!name.isEmpty())
            head += name + ": " + HeaderText(h.second) + "\r\n";
    }
    return head + content.Headers + "\r\n" + content.Body;
}

bool TmMailer::SaveToFile(const QString &AFilename)
{
    try {
        const QByteArray message = BuildMessage();
        TFile f;
        if (f.Open(AFilename, TFile::faWrite, TFile::fcCreateAlways) != 0)
            return false;
        int64_t done = 0;
        return f.Write(message.constData(), message.size(), done) == 0 && done == message.size();
    } catch (...) {
        return false;
    }
}

bool TmMailer::Send()
{
    fErrorList.clear();
    std::shared_ptr<TTlsContext> tls;
    if (fUseTLS != TUseTls::utNoTLSSupport) {
        QString error;
        if (fTLSAvail)
            tls = TTlsContext::Create(fRoot, fCert, fKey, [this] { return SSLPasswordHandler(); }, error);
        if (!tls) {
            const QString text = QStringLiteral("Error creating SSL session.");
            AddError(TSendErrorType::seNoSecure, error.isEmpty() ? text : text + QLatin1Char(' ') + error);
            if (!error.isEmpty())
                fIdLogFile->ErrorEntry({text, error});
            return false;
        }
    }
    try {
        const QByteArray message = BuildMessage();
        TSmtpSession session(*this, *fIdLogFile, tls);
        session.Run(message);
    } catch (const ENetError &e) {
        AddError(TSendErrorType::seSmtp, e.Message);
    } catch (...) {
        AddError(TSendErrorType::seUnknown,
                 QStringLiteral("Unknown or other error: Can not determine owner, other error, or the error can "
                                "not be revealed."));
    }
    return fErrorList.isEmpty();
}

void TmMailer::SmtpFailedRecipient(const QString &AAddress, int32_t, const QString &AText, bool &AContinue)
{
    AContinue = ContinueOnFailedRecipient;
    AddError(TSendErrorType::seFailedRecipient, AAddress.isEmpty() ? RemoveControlChars(AText) : AAddress);
}

void TmMailer::SmtpWorkBegin(TWorkMode AWorkMode, int64_t AMessageSize)
{
    if (OnBeginSend)
        OnBeginSend(*this, AWorkMode, AMessageSize);
}

void TmMailer::SmtpWork(TWorkMode AWorkMode, int64_t AWorkCount)
{
    if (OnSending)
        OnSending(*this, AWorkMode, AWorkCount);
    else
        ProcessMessages();
}

void TmMailer::SmtpWorkEnd(TWorkMode AWorkMode)
{
    if (OnEndSend)
        OnEndSend(*this, AWorkMode);
}

void TmMailer::SmtpConnected()
{
    if (OnConnected)
        OnConnected(*this);
}

void TmMailer::SmtpDisconnected()
{
    if (OnDisconnected)
        OnDisconnected(*this);
}

} // namespace vl
