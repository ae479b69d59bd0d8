// A list of texts, each with an optional attached object, as the list and
// history dialogs exchange them with their callers.
//
// The object is a QVariant: a caller may attach a number (flags, as the
// check list dialog reads bit 0 of it) or shared data (a std::shared_ptr
// wrapped in the variant); "freeing" an object means dropping it.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace vl {

class TStringList {
public:
    TStringList() = default;
    explicit TStringList(const QStringList &ATexts) { SetTexts(ATexts); }
    virtual ~TStringList() = default;
    TStringList(const TStringList &) = default;
    TStringList &operator=(const TStringList &) = default;

    int Count() const { return int(FItems.size()); }
    bool IsEmpty() const { return FItems.isEmpty(); }
    const QString &Strings(int AIndex) const { return FItems.at(AIndex).Text; }
    void SetString(int AIndex, const QString &AText) { FItems[AIndex].Text = AText; }
    const QVariant &Objects(int AIndex) const { return FItems.at(AIndex).Object; }
    void SetObject(int AIndex, const QVariant &AObject) { FItems[AIndex].Object = AObject; }

    // Appends; with Sorted, inserts at the sorted position. Returns the index.
    int Add(const QString &AText) { return AddObject(AText, QVariant()); }
    int AddObject(const QString &AText, const QVariant &AObject);
    void Insert(int AIndex, const QString &AText) { InsertObject(AIndex, AText, QVariant()); }
    void InsertObject(int AIndex, const QString &AText, const QVariant &AObject);
    void Delete(int AIndex) { FItems.removeAt(AIndex); }
    void Clear() { FItems.clear(); }
    // Moves the entry at AFrom so that it ends at ATo.
    void Move(int AFrom, int ATo) { FItems.move(AFrom, ATo); }
    void Exchange(int AIndex1, int AIndex2) { FItems.swapItemsAt(AIndex1, AIndex2); }

    // Index of the first entry equal to AText (ignoring case unless
    // CaseSensitive), -1 when none.
    int IndexOf(const QString &AText) const;
    bool SameText(const QString &A, const QString &B) const;
    bool CaseSensitive() const { return FCaseSensitive; }
    void SetCaseSensitive(bool AValue) { FCaseSensitive = AValue; }
    // A sorted list keeps its entries in order (ignoring case unless
    // CaseSensitive); switching it on sorts at once.
    bool Sorted() const { return FSorted; }
    void SetSorted(bool AValue);

    // All texts, without the objects; setting them drops every object.
    QStringList Texts() const;
    void SetTexts(const QStringList &ATexts);

    // The entries separated by ADelimiter; an entry holding the delimiter,
    // the quote character or leading or trailing blanks is quoted with
    // AQuote (inner quotes doubled). Reading splits only at the delimiter
    // and removes the quotes again.
    QString DelimitedText(QChar ADelimiter = QLatin1Char(','), QChar AQuote = QLatin1Char('"')) const;
    void SetDelimitedText(const QString &AText, QChar ADelimiter = QLatin1Char(','),
                          QChar AQuote = QLatin1Char('"'));

    bool operator==(const TStringList &AOther) const;

private:
    struct TItem {
        QString Text;
        QVariant Object;
        bool operator==(const TItem &) const = default;
    };
    int Compare(const QString &A, const QString &B) const;

    QList<TItem> FItems;
    bool FCaseSensitive = false;
    bool FSorted = false;
};

} // namespace vl
