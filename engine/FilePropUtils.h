// Document property sets of files. Linux file systems keep none beside a
// file, so there is nothing to read or copy: reading gives an empty
// summary, writing an empty summary changes nothing, and both succeed; a
// file that cannot be reached gives its error as an HRESULT (0x8007xxxx).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

namespace vl {

struct TFileProperty {
    uint32_t PropId = 0;
    QByteArray PropVariant;
};
using TFilePropertyArray = QList<TFileProperty>;
struct TFilePropertySet {
    QByteArray FormatId; // 16 bytes
    TFilePropertyArray PropArray;
};
using TFileSummary = QList<TFilePropertySet>;

// 0 (success) or an HRESULT-style code.
uint32_t ReadFileSummary(const QString &FileName, TFileSummary &Summary);
uint32_t WriteFileSummary(const QString &FileName, const TFileSummary &Summary);
uint32_t CopyFileSummary(const QString &Source, const QString &Dest);

} // namespace vl
