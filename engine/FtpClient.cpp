#include "engine/FtpClient.h"

#include "core/FileTimes.h"
#include "platform/FileNames.h"

#include <QRegularExpression>

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <stdexcept>

namespace vl {

namespace {

constexpr int64_t kDataBlock = 65536;
// How long a reply may take after a broken transfer or at QUIT; a server
// that says nothing by then is not waited for.
constexpr int32_t kShortReplyMs = 5000;

int32_t ShortTimeout(int32_t AReadTimeout)
{
    return AReadTimeout > 0 ? std::min(AReadTimeout, kShortReplyMs) : kShortReplyMs;
}

using TKind = ENetError::TKind;

// ---- time helpers --------------------------------------------------------

TDateTime UtcToLocal(TDateTime AUtc)
{
    TFileTime ft;
    if (!UtcDateTimeToFileTime(ft, AUtc))
        return 0;
    TDateTime v;
    return TryFileTimeToLocalDateTime(ft, v) ? v : 0;
}

TDateTime LocalToUtc(TDateTime ALocal)
{
    TFileTime ft;
    if (!LocalDateTimeToFileTime(ft, ALocal))
        return ALocal;
    return FileTimeToUtcDateTime(ft);
}

bool AllDigits(QStringView s)
{
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// "YYYYMMDDHHMMSS[.fff...]" (MLSD modify fact, MDTM replies).
bool ParseStamp(const QString &AText, TDateTime &AValue)
{
    const QString t = AText.trimmed();
    if (t.size() < 14 || !AllDigits(QStringView(t).left(14)))
        return false;
    TDateParts p;
    p.Year = t.mid(0, 4).toInt();
    p.Month = t.mid(4, 2).toInt();
    p.Day = t.mid(6, 2).toInt();
    p.Hour = t.mid(8, 2).toInt();
    p.Minute = t.mid(10, 2).toInt();
    p.Second = t.mid(12, 2).toInt();
    if (t.size() > 14) {
        if (t[14] != QLatin1Char('.') || !AllDigits(QStringView(t).mid(15)))
            return false;
        p.MSec = (t.mid(15, 3) + QStringLiteral("00")).left(3).toInt();
    }
    if (p.Second == 60) // leap second
        p.Second = 59;
    return TryEncodeDateTime(p, AValue);
}

QString FormatStamp(TDateTime AValue)
{
    const TDateParts p = DecodeDateTime(AValue);
    return QStringLiteral("%1%2%3%4%5%6")
        .arg(p.Year, 4, 10, QLatin1Char('0'))
        .arg(p.Month, 2, 10, QLatin1Char('0'))
        .arg(p.Day, 2, 10, QLatin1Char('0'))
        .arg(p.Hour, 2, 10, QLatin1Char('0'))
        .arg(p.Minute, 2, 10, QLatin1Char('0'))
        .arg(p.Second, 2, 10, QLatin1Char('0'));
}

int MonthOf(QStringView s)
{
    static const char *const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    if (s.size() != 3)
        return 0;
    for (int i = 0; i < 12; ++i)
        if (s.compare(QLatin1String(names[i]), Qt::CaseInsensitive) == 0)
            return i + 1;
    return 0;
}

struct TToken {
    qsizetype Start, End; // [Start, End)
    QStringView Text;
};

QList<TToken> Tokens(const QString &ALine)
{
    QList<TToken> out;
    qsizetype i = 0;
    const qsizetype n = ALine.size();
    while (i < n) {
        while (i < n && ALine[i].isSpace())
            ++i;
        if (i >= n)
            break;
        const qsizetype start = i;
        while (i < n && !ALine[i].isSpace())
            ++i;
        out.append({start, i, QStringView(ALine).mid(start, i - start)});
    }
    return out;
}

bool ParseHourMinute(QStringView s, int &AHour, int &AMinute)
{
    const qsizetype colon = s.indexOf(QLatin1Char(':'));
    if (colon < 1 || colon > 2 || s.size() - colon - 1 < 2)
        return false;
    const QStringView h = s.left(colon), m = s.mid(colon + 1, 2);
    if (!AllDigits(h) || !AllDigits(m))
        return false;
    // "hh:mm:ss" or "hh:mm:ss.nnn" of long listings: the seconds are left out.
    if (s.size() > colon + 3 && s[colon + 3] != QLatin1Char(':'))
        return false;
    AHour = h.toInt();
    AMinute = m.toInt();
    return AHour < 24 && AMinute < 60;
}

bool ParseUnixLine(const QString &ALine, TFtpListItem &AItem, TDateTime AToday)
{
    static const QRegularExpression kMode(QStringLiteral("^[-dlbcpsD][-rwxsStTlL?]{9}[.+@]?$"));
    const QList<TToken> t = Tokens(ALine);
    if (t.size() < 6 || !kMode.match(t[0].Text).hasMatch())
        return false;
    // Find the date columns: "<size> Mon dd hh:mm|yyyy" or
    // "<size> yyyy-mm-dd hh:mm"; the name follows after one blank.
    for (qsizetype i = 2; i + 1 < t.size(); ++i) {
        if (!AllDigits(t[i - 1].Text))
            continue;
        int year = 0, month = 0, day = 0, hour = 0, minute = 0;
        bool timeForm = false;
        qsizetype last = -1;
        if ((month = MonthOf(t[i].Text)) > 0 && i + 2 < t.size() && AllDigits(t[i + 1].Text)) {
            day = t[i + 1].Text.toInt();
            const QStringView third = t[i + 2].Text;
            if (third.size() == 4 && AllDigits(third))
                year = third.toInt();
            else if (ParseHourMinute(third, hour, minute))
                timeForm = true;
            else
                continue;
            last = i + 2;
        } else if (t[i].Text.size() == 10 && t[i].Text[4] == QLatin1Char('-') && t[i].Text[7] == QLatin1Char('-') &&
                   AllDigits(t[i].Text.left(4)) && AllDigits(t[i].Text.mid(5, 2)) && AllDigits(t[i].Text.mid(8, 2)) &&
                   ParseHourMinute(t[i + 1].Text, hour, minute)) {
            year = t[i].Text.left(4).toInt();
            month = t[i].Text.mid(5, 2).toInt();
            day = t[i].Text.mid(8, 2).toInt();
            last = i + 1;
        } else {
            continue;
        }
        QString name = ALine.mid(t[last].End + 1);
        if (name.isEmpty())
            return false;
        TDateTime when = 0;
        TDateParts p;
        p.Year = year;
        p.Month = month;
        p.Day = day;
        p.Hour = hour;
        p.Minute = minute;
        if (timeForm) {
            // Listed with a time of day: within the last half year, so the
            // latest year that does not lie in the future.
            const TDateTime today = AToday > 0 ? AToday : Now();
            const int thisYear = DecodeDateTime(today).Year;
            bool found = false;
            for (int y = thisYear; y >= thisYear - 8 && !found; --y) {
                TDateTime v;
                p.Year = y;
                if (TryEncodeDateTime(p, v) && v <= today + 1) {
                    when = v;
                    found = true;
                }
            }
            if (!found)
                return false;
        } else if (!TryEncodeDateTime(p, when)) {
            return false;
        }
        const QChar kind = t[0].Text[0];
        TFtpListItem item;
        item.ItemType = kind == QLatin1Char('d')   ? TFtpItemType::ditDirectory
                        : kind == QLatin1Char('l') ? TFtpItemType::ditSymbolicLink
                        : kind == QLatin1Char('-') ? TFtpItemType::ditFile
                                                   : TFtpItemType::ditOther;
        if (item.ItemType == TFtpItemType::ditSymbolicLink) {
            const qsizetype arrow = name.indexOf(QLatin1String(" -> "));
            if (arrow > 0)
                name.truncate(arrow);
        }
        item.FileName = name;
        item.Size = t[i - 1].Text.toLongLong();
        item.ModifiedDate = when;
        item.ModifiedDateGMT = when;
        AItem = item;
        return true;
    }
    return false;
}

bool ParseDosLine(const QString &ALine, TFtpListItem &AItem)
{
    static const QRegularExpression kDos(QStringLiteral(
        R"(^(\d{2})-(\d{2})-(\d{2}|\d{4})\s+(\d{1,2}):(\d{2})\s*([AaPp][Mm])?\s+(<DIR>|\d+)\s+(\S.*)$)"));
    const QRegularExpressionMatch m = kDos.match(ALine);
    if (!m.hasMatch())
        return false;
    TDateParts p;
    p.Month = m.captured(1).toInt();
    p.Day = m.captured(2).toInt();
    p.Year = m.captured(3).toInt();
    if (m.captured(3).size() == 2)
        p.Year += p.Year < 70 ? 2000 : 1900;
    p.Hour = m.captured(4).toInt();
    p.Minute = m.captured(5).toInt();
    const QString half = m.captured(6).toUpper();
    if (!half.isEmpty()) {
        if (p.Hour < 1 || p.Hour > 12)
            return false;
        p.Hour = p.Hour % 12 + (half == QLatin1String("PM") ? 12 : 0);
    }
    TDateTime when;
    if (!TryEncodeDateTime(p, when))
        return false;
    TFtpListItem item;
    item.FileName = m.captured(8);
    if (m.captured(7) == QLatin1String("<DIR>")) {
        item.ItemType = TFtpItemType::ditDirectory;
    } else {
        item.ItemType = TFtpItemType::ditFile;
        item.Size = m.captured(7).toLongLong();
    }
    item.ModifiedDate = when;
    item.ModifiedDateGMT = when;
    AItem = item;
    return true;
}

// The family of a numeric address (brackets allowed); ADefault for names.
bool AddressFamilyIsIPv6(const QString &AHost, bool ADefault)
{
    QString host = AHost;
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    const QByteArray text = host.toLatin1();
    unsigned char buffer[sizeof(in6_addr)];
    if (inet_pton(AF_INET, text.constData(), buffer) == 1)
        return false;
    if (inet_pton(AF_INET6, text.constData(), buffer) == 1)
        return true;
    return ADefault;
}

QString Chomp(const QString &ALine)
{
    QString s = ALine;
    while (s.endsWith(QLatin1Char('\n')) || s.endsWith(QLatin1Char('\r')))
        s.chop(1);
    return s;
}

} // namespace

bool ParseFtpTimeStamp(const QString &AText, TDateTime &AValue)
{
    return ParseStamp(AText, AValue);
}

TDateTime FtpUtcToLocal(TDateTime AUtc)
{
    return UtcToLocal(AUtc);
}

// ---- listing parsers -----------------------------------------------------

bool ParseMlsdLine(const QString &ALine, TFtpListItem &AItem)
{
    const QString line = Chomp(ALine);
    // "fact=value;fact=value; name": fact values hold no blanks, the name
    // may hold anything.
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return false;
    const QString facts = line.left(blank);
    TFtpListItem item;
    item.FileName = line.mid(blank + 1);
    if (item.FileName.isEmpty() || (!facts.isEmpty() && !facts.endsWith(QLatin1Char(';'))))
        return false;
    bool haveSize = false;
    for (const QString &fact : facts.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = fact.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return false;
        const QString key = fact.left(eq).toLower();
        const QString value = fact.mid(eq + 1);
        if (key == QLatin1String("type")) {
            const QString v = value.toLower();
            if (v == QLatin1String("file")) {
                item.ItemType = TFtpItemType::ditFile;
            } else if (v == QLatin1String("dir")) {
                item.ItemType = TFtpItemType::ditDirectory;
            } else if (v == QLatin1String("cdir")) {
                item.ItemType = TFtpItemType::ditDirectory;
                item.FileName = QStringLiteral(".");
            } else if (v == QLatin1String("pdir")) {
                item.ItemType = TFtpItemType::ditDirectory;
                item.FileName = QStringLiteral("..");
            } else if (v.startsWith(QLatin1String("os.unix=slink")) || v.startsWith(QLatin1String("os.unix=symlink"))) {
                item.ItemType = TFtpItemType::ditSymbolicLink;
            } else {
                item.ItemType = TFtpItemType::ditOther;
            }
        } else if (key == QLatin1String("size") || (key == QLatin1String("sizd") && !haveSize)) {
            bool ok = false;
            const qlonglong v = value.toLongLong(&ok);
            if (ok && v >= 0) {
                item.Size = v;
                haveSize = key == QLatin1String("size");
            }
        } else if (key == QLatin1String("modify")) {
            TDateTime utc;
            if (ParseStamp(value, utc)) {
                item.ModifiedDateGMT = utc;
                item.ModifiedDate = UtcToLocal(utc);
            }
        }
    }
    AItem = item;
    return true;
}

bool ParseListLine(const QString &ALine, TFtpListItem &AItem, TDateTime AToday)
{
    const QString line = Chomp(ALine);
    if (line.trimmed().isEmpty())
        return false;
    return ParseDosLine(line, AItem) || ParseUnixLine(line, AItem, AToday);
}

// ---- TFtpClient ----------------------------------------------------------

TFtpClient::TFtpClient() : FControl(std::make_unique<TSocket>())
{
}

TFtpClient::~TFtpClient()
{
    {
        std::lock_guard<std::mutex> lock(FDataLock);
        FData.reset();
    }
    FControl->Close();
}

void TFtpClient::SetProtocolSink(TProtocolSink *ASink)
{
    FSink = ASink;
    FControl->SetProtocolSink(ASink);
}

bool TFtpClient::Connected() const
{
    return FControl->IsOpen();
}

bool TFtpClient::ControlIsTls() const
{
    return FControl->IsTls();
}

void TFtpClient::AbortIo()
{
    FAbort = true;
    std::lock_guard<std::mutex> lock(FDataLock);
    if (FData)
        FData->Abort();
    else
        FControl->Abort();
}

QByteArray TFtpClient::EncodeText(const QString &AText) const
{
    if (FEncoding == TFtpTextEncoding::UTF8)
        return EncodeFileName(AText); // escaped bytes of file names go back as they were
    QByteArray out;
    out.reserve(AText.size());
    for (QChar c : AText) {
        const char16_t u = c.unicode();
        if (FEncoding == TFtpTextEncoding::Latin1 && u <= 0xFF)
            out.append(char(u));
        else if (FEncoding == TFtpTextEncoding::Latin1 && u >= 0xDC80 && u <= 0xDCFF)
            out.append(char(u - 0xDC00));
        else if (u < 0x80)
            out.append(char(u));
        else
            out.append('?');
    }
    return out;
}

QString TFtpClient::DecodeText(const QByteArray &ABytes) const
{
    switch (FEncoding) {
    case TFtpTextEncoding::UTF8:
        return DecodeFileName(ABytes);
    case TFtpTextEncoding::Latin1:
        return QString::fromLatin1(ABytes);
    case TFtpTextEncoding::ASCII:
        break;
    }
    QString out;
    out.reserve(ABytes.size());
    for (char c : ABytes)
        out.append(uchar(c) < 0x80 ? QChar(char16_t(uchar(c))) : QChar(u'?'));
    return out;
}

void TFtpClient::ThrowReply(int32_t ACode) const
{
    QString text = QString::number(ACode);
    if (!FReplyLines.isEmpty())
        text += QLatin1Char(' ') + FReplyLines.join(QStringLiteral("\r\n"));
    throw ENetError(TKind::Protocol, text.trimmed(), ACode);
}

int32_t TFtpClient::ReadReply()
{
    QByteArray first;
    do
        first = FControl->ReadLine();
    while (first.trimmed().isEmpty());
    const bool valid = first.size() >= 3 && AllDigits(QString::fromLatin1(first.left(3))) &&
                       (first.size() == 3 || first[3] == ' ' || first[3] == '-');
    if (!valid)
        throw ENetError(TKind::Protocol, QStringLiteral("Invalid reply from the server: %1").arg(DecodeText(first)));
    const QByteArray code = first.left(3);
    QStringList lines;
    lines << DecodeText(first.mid(4));
    if (first.size() > 3 && first[3] == '-') {
        for (;;) {
            QByteArray line = FControl->ReadLine();
            if (line == code || line.startsWith(code + ' ')) {
                lines << DecodeText(line.mid(4));
                break;
            }
            if (line.startsWith(code + '-'))
                line = line.mid(4);
            lines << DecodeText(line);
        }
    }
    FReplyCode = code.toInt();
    FReplyLines = lines;
    return FReplyCode;
}

int32_t TFtpClient::SendLine(const QByteArray &ALine, const std::vector<int32_t> &AAllowed)
{
    // A line break inside a name would smuggle a second command in.
    if (ALine.contains('\r') || ALine.contains('\n'))
        throw ENetError(TKind::Protocol, QStringLiteral("Line breaks are not allowed in FTP commands."));
    FControl->ReadTimeout = ReadTimeout;
    FControl->WriteLine(ALine);
    const int32_t code = ReadReply();
    if (!AAllowed.empty() && std::find(AAllowed.begin(), AAllowed.end(), code) == AAllowed.end())
        ThrowReply(code);
    return code;
}

int32_t TFtpClient::SendCmd(const QString &ACommand, const std::vector<int32_t> &AAllowed)
{
    return SendLine(EncodeText(ACommand), AAllowed);
}

int32_t TFtpClient::SendPositive(const QString &ACommand)
{
    const int32_t code = SendCmd(ACommand);
    if (code / 100 != 2)
        ThrowReply(code);
    return code;
}

void TFtpClient::ConnectTo(TSocket &ASocket, const QString &AHost, uint16_t APort)
{
    ASocket.ConnectTimeout = ConnectTimeout;
    ASocket.ReadTimeout = ReadTimeout;
    const bool ipv6 = IPVersion == TIpVersion::Id_IPv6;
    // IPVersion is the server's family; a proxy given by its address has
    // its own (an IPv6 server is often reached through an IPv4 proxy).
    const bool proxyIpv6 = AddressFamilyIsIPv6(ProxySettings.Host, ipv6);
    switch (ProxySettings.ProxyType) {
    case TIdFtpProxyType::fpcmNone:
        ASocket.Connect(AHost, APort, ipv6);
        return;
    case TIdFtpProxyType::fpcmHttpProxyWithFtp: {
        ASocket.Connect(ProxySettings.Host, ProxySettings.Port, proxyIpv6);
        const QString host = AHost.contains(QLatin1Char(':')) && !AHost.startsWith(QLatin1Char('['))
                                 ? QLatin1Char('[') + AHost + QLatin1Char(']')
                                 : AHost;
        const QByteArray target = (host + QLatin1Char(':') + QString::number(APort)).toUtf8();
        QByteArray request = "CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n";
        if (!ProxySettings.UserName.isEmpty())
            request += "Proxy-Authorization: Basic " +
                       (ProxySettings.UserName.toUtf8() + ':' + ProxySettings.Password).toBase64() + "\r\n";
        ASocket.Write(request + "\r\n");
        const QByteArray status = ASocket.ReadLine();
        const QList<QByteArray> parts = status.split(' ');
        // Judged before the headers: a refusal may end without them, and a
        // peer that is no HTTP proxy would leave us waiting for a blank line.
        if (parts.size() < 2 || !parts[0].startsWith("HTTP/") || parts[1].size() != 3 || parts[1][0] != '2') {
            ASocket.Close();
            throw ENetError(TKind::Protocol,
                            QStringLiteral("The HTTP proxy refused the connection: %1").arg(QString::fromLatin1(status)));
        }
        while (!ASocket.ReadLine().isEmpty()) {
        }
        return;
    }
    case TIdFtpProxyType::fpcmCustomProxy:
        throw ENetError(TKind::Protocol, QStringLiteral("Custom FTP proxies are not supported."));
    default:
        // FTP proxies: the proxy relays, the login names the server.
        ASocket.Connect(ProxySettings.Host, ProxySettings.Port, proxyIpv6);
        return;
    }
}

void TFtpClient::Connect()
{
    {
        std::lock_guard<std::mutex> lock(FDataLock);
        FData.reset();
    }
    FControl->Close();
    FAbort = false;
    FReplyCode = 0;
    FReplyLines.clear();
    FGreeting.clear();
    FCapabilities.clear();
    FFeatReplied = false;
    FDataTls = false;
    // A TLS mode never falls back to plain text for want of TLS.
    if (UseTLS != TUseTls::utNoTLSSupport && (!FTls || !FTls->Handle()))
        throw ENetError(TKind::Protocol, QStringLiteral("Error creating SSL session."));
    try {
        ConnectTo(*FControl, Host, Port);
        if (UseTLS == TUseTls::utUseImplicitTLS)
            FControl->StartTls(FTls, Host, nullptr, OnVerifyPeer);
        int32_t code = ReadReply();
        for (int i = 0; code == 120 && i < 10; ++i) // "service ready in n minutes", then 220
            code = ReadReply();
        if (code != 220)
            ThrowReply(code);
        FGreeting = LastReplyFirstLine();
        if (UseTLS == TUseTls::utUseExplicitTLS || UseTLS == TUseTls::utUseRequireTLS) {
            code = SendCmd(QStringLiteral("AUTH TLS"));
            if (code == 234)
                FControl->StartTls(FTls, Host, nullptr, OnVerifyPeer);
            else if (UseTLS == TUseTls::utUseRequireTLS)
                ThrowReply(code);
        }
        BeforeLogin();
        const TIdFtpProxyType proxy = ProxySettings.ProxyType;
        if (UseHOST && (proxy == TIdFtpProxyType::fpcmNone || proxy == TIdFtpProxyType::fpcmHttpProxyWithFtp))
            SendCmd(QStringLiteral("HOST ") + Host); // a server without virtual hosts may refuse it
        Login();
        ReadFeatures();
        AfterLogin();
        if (FControl->IsTls()) {
            SendCmd(QStringLiteral("PBSZ 0"), {200});
            if (DataPortProtection == TDataPortProtection::ftpdpsPrivate) {
                SendCmd(QStringLiteral("PROT P"), {200});
                FDataTls = true;
            } else {
                SendCmd(QStringLiteral("PROT C"), {200});
            }
        }
        SendCmd(QStringLiteral("TYPE I"), {200});
    } catch (...) {
        FControl->Close();
        throw;
    }
}

void TFtpClient::UserPass(const QString &AUser, const QByteArray &APassword)
{
    int32_t code = SendCmd(QStringLiteral("USER ") + AUser);
    if (code == 331) {
        FControl->MaskNextLine("PASS ***");
        code = SendLine("PASS " + APassword);
    }
    if (code == 332) {
        if (ProxySettings.Password.isEmpty())
            ThrowReply(code);
        FControl->MaskNextLine("ACCT ***");
        code = SendLine("ACCT " + ProxySettings.Password);
    }
    if (code != 230 && code != 202)
        ThrowReply(code);
}

void TFtpClient::Login()
{
    const TFtpProxySettings &p = ProxySettings;
    const QString target = Port == 21 ? Host : Host + QLatin1Char(':') + QString::number(Port);
    switch (p.ProxyType) {
    case TIdFtpProxyType::fpcmNone:
    case TIdFtpProxyType::fpcmHttpProxyWithFtp:
    case TIdFtpProxyType::fpcmCustomProxy:
        UserPass(Username, Password);
        break;
    case TIdFtpProxyType::fpcmUserSite:
    case TIdFtpProxyType::fpcmNovellBorder:
        if (!p.UserName.isEmpty())
            UserPass(p.UserName, p.Password);
        UserPass(Username + QLatin1Char('@') + target, Password);
        break;
    case TIdFtpProxyType::fpcmSite:
        UserPass(p.UserName, p.Password);
        SendPositive(QStringLiteral("SITE ") + target);
        UserPass(Username, Password);
        break;
    case TIdFtpProxyType::fpcmOpen:
        if (!p.UserName.isEmpty())
            UserPass(p.UserName, p.Password);
        SendPositive(QStringLiteral("OPEN ") + target);
        UserPass(Username, Password);
        break;
    case TIdFtpProxyType::fpcmUserPass:
        UserPass(Username + QLatin1Char('@') + p.UserName + QLatin1Char('@') + target, Password + '@' + p.Password);
        break;
    case TIdFtpProxyType::fpcmTransparent:
        UserPass(p.UserName, p.Password);
        UserPass(Username, Password);
        break;
    case TIdFtpProxyType::fpcmUserHostFireWallID:
        // The server asks for ACCT (332), answered with the proxy password.
        UserPass(Username + QLatin1Char('@') + target + QLatin1Char(' ') + p.UserName, Password);
        break;
    }
}

void TFtpClient::ReadFeatures()
{
    FCapabilities.clear();
    FFeatReplied = false;
    if (SendCmd(QStringLiteral("FEAT")) != 211)
        return; // 500-class: the server lists no features
    FFeatReplied = true;
    for (qsizetype i = 1; i + 1 < FReplyLines.size(); ++i) {
        const QString f = FReplyLines[i].trimmed();
        if (!f.isEmpty())
            FCapabilities << f;
    }
}

void TFtpClient::Disconnect()
{
    {
        std::lock_guard<std::mutex> lock(FDataLock);
        FData.reset();
    }
    if (FControl->IsOpen()) {
        try {
            FControl->ReadTimeout = ShortTimeout(ReadTimeout);
            FControl->WriteLine("QUIT");
            ReadReply();
        } catch (const ENetError &) {
        }
    }
    FControl->Close();
    FDataTls = false;
}

bool TFtpClient::SupportsFeature(const QString &AName) const
{
    for (const QString &f : FCapabilities)
        if (f.section(QLatin1Char(' '), 0, 0).compare(AName, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

int32_t TFtpClient::FeatureIndex(const QString &ALine) const
{
    for (qsizetype i = 0; i < FCapabilities.size(); ++i)
        if (FCapabilities[i].compare(ALine.trimmed(), Qt::CaseInsensitive) == 0)
            return int32_t(i);
    return -1;
}

bool TFtpClient::CanUseMLS() const
{
    return UseMLIS && (SupportsFeature(QStringLiteral("MLST")) || SupportsFeature(QStringLiteral("MLSD")));
}

// ---- simple commands -------------------------------------------------------

QString TFtpClient::Pwd()
{
    SendCmd(QStringLiteral("PWD"), {257});
    const QString text = LastReplyFirstLine();
    const qsizetype open = text.indexOf(QLatin1Char('"'));
    if (open < 0)
        return text.section(QLatin1Char(' '), 0, 0);
    QString path;
    for (qsizetype i = open + 1; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('"')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                path += QLatin1Char('"');
                ++i;
                continue;
            }
            break;
        }
        path += text[i];
    }
    return path;
}

void TFtpClient::ChangeDir(const QString &AName)
{
    SendPositive(QStringLiteral("CWD ") + AName);
}

void TFtpClient::ChangeDirUp()
{
    SendPositive(QStringLiteral("CDUP"));
}

void TFtpClient::MakeDir(const QString &AName)
{
    SendPositive(QStringLiteral("MKD ") + AName);
}

void TFtpClient::RemoveDir(const QString &AName)
{
    SendPositive(QStringLiteral("RMD ") + AName);
}

void TFtpClient::Delete(const QString &AName)
{
    SendPositive(QStringLiteral("DELE ") + AName);
}

void TFtpClient::Rename(const QString &AFrom, const QString &ATo)
{
    SendCmd(QStringLiteral("RNFR ") + AFrom, {350});
    SendPositive(QStringLiteral("RNTO ") + ATo);
}

int64_t TFtpClient::Size(const QString &AName)
{
    if (SendCmd(QStringLiteral("SIZE ") + AName) != 213)
        return -1;
    bool ok = false;
    const qlonglong v = LastReplyFirstLine().trimmed().toLongLong(&ok);
    return ok ? v : -1;
}

void TFtpClient::SetModTimeUtc(const QString &AName, TDateTime AUtc)
{
    const QString verb = SupportsFeature(QStringLiteral("MFMT")) ? QStringLiteral("MFMT ") : QStringLiteral("MDTM ");
    SendCmd(verb + FormatStamp(AUtc) + QLatin1Char(' ') + AName, {213, 253, 200});
}

void TFtpClient::SetModTimeLocal(const QString &AName, TDateTime ALocal)
{
    SetModTimeUtc(AName, LocalToUtc(ALocal));
}

// ---- data connections ------------------------------------------------------

uint16_t TFtpClient::PassivePort()
{
    const bool ipv6 = FControl->IsIPv6();
    if (UseExtensionDataPort || ipv6) {
        const int32_t code = SendCmd(QStringLiteral("EPSV"));
        if (code == 229) {
            // "229 Entering Extended Passive Mode (|||port|)"
            static const QRegularExpression kEpsv(QStringLiteral(R"(\((.)\1\1(\d+)\1\))"));
            const QRegularExpressionMatch m = kEpsv.match(LastReplyFirstLine());
            const int port = m.hasMatch() ? m.captured(2).toInt() : 0;
            if (port <= 0 || port > 65535)
                throw ENetError(TKind::Protocol, QStringLiteral("Invalid EPSV reply: %1").arg(LastReplyFirstLine()),
                                code);
            return uint16_t(port);
        }
        if (ipv6)
            ThrowReply(code);
        // An IPv4 server without EPSV: PASV below.
    }
    SendCmd(QStringLiteral("PASV"), {227});
    static const QRegularExpression kPasv(QStringLiteral(R"((\d+),(\d+),(\d+),(\d+),(\d+),(\d+))"));
    const QRegularExpressionMatch m = kPasv.match(LastReplyFirstLine());
    const int port = m.hasMatch() ? m.captured(5).toInt() * 256 + m.captured(6).toInt() : 0;
    if (port <= 0 || port > 65535)
        throw ENetError(TKind::Protocol, QStringLiteral("Invalid PASV reply: %1").arg(LastReplyFirstLine()), 227);
    // The address of the reply is not used: the data connection goes to the
    // server of the control connection (no third host, and servers behind
    // NAT often name an inner address).
    return uint16_t(port);
}

TSocket &TFtpClient::OpenData(const QString &ACommand)
{
    auto socket = std::make_unique<TSocket>();
    TSocket *data = socket.get();
    {
        std::lock_guard<std::mutex> lock(FDataLock);
        FData = std::move(socket);
    }
    try {
        if (Passive) {
            const uint16_t port = PassivePort();
            const QString host = ProxySettings.ProxyType == TIdFtpProxyType::fpcmHttpProxyWithFtp
                                     ? Host
                                     : FControl->PeerAddress();
            if (ProxySettings.ProxyType == TIdFtpProxyType::fpcmHttpProxyWithFtp) {
                ConnectTo(*data, host, port);
            } else {
                data->ConnectTimeout = ConnectTimeout;
                data->Connect(host, port, FControl->IsIPv6());
            }
        } else {
            if (ProxySettings.ProxyType == TIdFtpProxyType::fpcmHttpProxyWithFtp)
                throw ENetError(TKind::Protocol, QStringLiteral("Active data connections cannot pass an HTTP proxy."));
            data->Listen(*FControl);
            const QString address = data->LocalAddress();
            const uint16_t port = data->LocalPort();
            if (UseExtensionDataPort || FControl->IsIPv6()) {
                const QString family = FControl->IsIPv6() ? QStringLiteral("2") : QStringLiteral("1");
                SendCmd(QStringLiteral("EPRT |%1|%2|%3|").arg(family, address).arg(port), {200});
            } else {
                SendCmd(QStringLiteral("PORT %1,%2,%3")
                            .arg(QString(address).replace(QLatin1Char('.'), QLatin1Char(',')))
                            .arg(port >> 8)
                            .arg(port & 0xFF),
                        {200});
            }
        }
        data->ReadTimeout = DataTimeout();
        // The data connection is open (passive) before the command, so a
        // server may answer 150 before or after it sees the connection.
        const int32_t code = SendCmd(ACommand);
        if (code / 100 != 1)
            ThrowReply(code);
        if (!Passive)
            data->Accept(ListenTimeout);
        if (FDataTls) {
            // Servers require the control connection's TLS session on data
            // connections; with TLS 1.3 its ticket arrives after the
            // handshake, so it is taken now, after the replies read so far.
            SSL_SESSION *session = FControl->GetSession();
            try {
                data->StartTls(FTls, Host, session);
            } catch (...) {
                SSL_SESSION_free(session);
                throw;
            }
            SSL_SESSION_free(session);
        }
    } catch (const ENetError &e) {
        {
            std::lock_guard<std::mutex> lock(FDataLock);
            FData.reset();
        }
        // A failure after the server accepted the command leaves its reply
        // to the broken data connection on the control connection.
        if (FReplyCode / 100 == 1 && e.ReplyCode == 0) {
            try {
                FControl->ReadTimeout = ShortTimeout(ReadTimeout);
                ReadReply();
            } catch (const ENetError &) {
                FControl->Close();
            }
        }
        throw;
    }
    return *data;
}

void TFtpClient::CloseData()
{
    std::lock_guard<std::mutex> lock(FDataLock);
    if (FData)
        FData->Close();
    FData.reset();
}

void TFtpClient::AbandonData()
{
    {
        std::lock_guard<std::mutex> lock(FDataLock);
        if (FData) {
            FData->Abort();
            FData->Close();
        }
        FData.reset();
    }
    // The reply to the broken transfer (426, or 226 when the server had
    // finished); without it the control connection is out of step and goes.
    try {
        if (FControl->IsOpen()) {
            FControl->ReadTimeout = ShortTimeout(ReadTimeout);
            ReadReply();
            return;
        }
    } catch (const ENetError &) {
    }
    FControl->Close();
}

int32_t TFtpClient::Transfer(const QString &ACommand, const std::function<void(TSocket &)> &AMoveData)
{
    FAbort = false;
    if (NATKeepAliveUse)
        FControl->SetKeepAlive(true, NATKeepAliveIdleTimeMS, NATKeepAliveIntervalMS);
    struct TKeepAliveOff {
        TFtpClient *Self;
        ~TKeepAliveOff()
        {
            if (Self->NATKeepAliveUse)
                Self->FControl->SetKeepAlive(false, 0, 0);
        }
    } keepAliveOff {this};

    TSocket &data = OpenData(ACommand);
    try {
        AMoveData(data);
    } catch (...) {
        AbandonData();
        if (FAbort)
            throw ENetError(TKind::SocketError, QStringLiteral("Transfer aborted"));
        throw;
    }
    CloseData();
    FControl->ReadTimeout = ReadTimeout;
    return ReadReply();
}

int32_t TFtpClient::Put(TStream &ASource, const QString &AName, bool AAppend)
{
    return Transfer((AAppend ? QStringLiteral("APPE ") : QStringLiteral("STOR ")) + AName, [&](TSocket &data) {
        QByteArray buffer(kDataBlock, '\0');
        int64_t total = 0;
        for (;;) {
            const int64_t n = ASource.Read(buffer.data(), kDataBlock);
            if (n < 0)
                throw std::runtime_error("Could not read the data to upload");
            if (n == 0)
                break;
            data.Write(buffer.constData(), n);
            total += n;
            if (OnWork)
                OnWork(true, total);
        }
        data.FinishWriting();
    });
}

int32_t TFtpClient::Get(const QString &AName, TStream &ADest)
{
    return Transfer(QStringLiteral("RETR ") + AName, [&](TSocket &data) {
        QByteArray buffer(kDataBlock, '\0');
        int64_t total = 0;
        for (;;) {
            const int64_t n = data.Read(buffer.data(), kDataBlock);
            if (n == 0)
                break;
            if (ADest.Write(buffer.constData(), n) != n)
                throw std::runtime_error("Could not write the downloaded data");
            total += n;
            if (OnWork)
                OnWork(false, total);
        }
    });
}

QByteArray TFtpClient::ReceiveText(const QString &ACommand)
{
    TSocket &data = OpenData(ACommand);
    QByteArray text;
    try {
        char buffer[16384];
        while (const int64_t n = data.Read(buffer, sizeof buffer))
            text.append(buffer, qsizetype(n));
    } catch (...) {
        AbandonData();
        throw;
    }
    CloseData();
    FControl->ReadTimeout = ReadTimeout;
    const int32_t code = ReadReply();
    if (code >= 400)
        ThrowReply(code);
    return text;
}

void TFtpClient::List()
{
    FList.clear();
    const bool mlsd = CanUseMLS();
    QByteArray text;
    if (mlsd) {
        text = ReceiveText(QStringLiteral("MLSD"));
    } else {
        try {
            text = ReceiveText(QStringLiteral("LIST -a"));
        } catch (const ENetError &e) {
            if (e.Kind != TKind::Protocol || e.ReplyCode < 500 || e.ReplyCode > 599)
                throw;
            text = ReceiveText(QStringLiteral("LIST"));
        }
    }
    for (const QByteArray &raw : text.split('\n')) {
        const QString line = DecodeText(raw.endsWith('\r') ? raw.chopped(1) : raw);
        TFtpListItem item;
        if (mlsd ? ParseMlsdLine(line, item) : ParseListLine(line, item))
            FList.push_back(item);
    }
}

} // namespace vl
