#include "ui/StringList.h"

#include "core/StringUtils.h"

#include <algorithm>

namespace vl {

int TStringList::Compare(const QString &A, const QString &B) const
{
    return QString::compare(A, B, FCaseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
}

bool TStringList::SameText(const QString &A, const QString &B) const
{
    return Compare(A, B) == 0;
}

int TStringList::AddObject(const QString &AText, const QVariant &AObject)
{
    int at = Count();
    if (FSorted) {
        const auto before = [this](const QString &t, const TItem &i) { return Compare(t, i.Text) < 0; };
        const auto pos = std::upper_bound(FItems.cbegin(), FItems.cend(), AText, before);
        at = int(pos - FItems.cbegin());
    }
    FItems.insert(at, TItem{AText, AObject});
    return at;
}

void TStringList::InsertObject(int AIndex, const QString &AText, const QVariant &AObject)
{
    FItems.insert(AIndex, TItem{AText, AObject});
}

int TStringList::IndexOf(const QString &AText) const
{
    for (int i = 0; i < Count(); ++i)
        if (SameText(FItems[i].Text, AText))
            return i;
    return -1;
}

void TStringList::SetSorted(bool AValue)
{
    FSorted = AValue;
    if (FSorted)
        std::stable_sort(FItems.begin(), FItems.end(),
                         [this](const TItem &a, const TItem &b) { return Compare(a.Text, b.Text) < 0; });
}

QStringList TStringList::Texts() const
{
    QStringList texts;
    texts.reserve(FItems.size());
    for (const TItem &item : FItems)
        texts << item.Text;
    return texts;
}

void TStringList::SetTexts(const QStringList &ATexts)
{
    FItems.clear();
    for (const QString &text : ATexts)
        AddObject(text, QVariant());
}

QString TStringList::DelimitedText(QChar ADelimiter, QChar AQuote) const
{
    QStringList parts;
    for (const TItem &item : FItems) {
        const QString &t = item.Text;
        const bool quote = t.contains(ADelimiter) || t.contains(AQuote)
                           || (!t.isEmpty() && (t.front() <= QLatin1Char(' ') || t.back() <= QLatin1Char(' ')));
        if (quote) {
            QString inner = t;
            inner.replace(AQuote, QString(2, AQuote));
            parts << AQuote + inner + AQuote;
        } else
            parts << t;
    }
    return parts.join(ADelimiter);
}

void TStringList::SetDelimitedText(const QString &AText, QChar ADelimiter, QChar AQuote)
{
    FItems.clear();
    QString rest = AText;
    while (!rest.isEmpty())
        AddObject(SplitNextQuotedToken(rest, ADelimiter, AQuote), QVariant());
}

bool TStringList::operator==(const TStringList &AOther) const
{
    return FItems == AOther.FItems;
}

} // namespace vl
