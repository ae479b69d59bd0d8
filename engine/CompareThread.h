// Verifies one backup file against the file it was made from: unpacks it
// in the form it was written (plain, gzip, encrypted, single-file zip) and
// compares the data byte for byte. The reference is never modified.
// Codes of class 3 (0x3xx) concern the backup file, class 1 the reference;
// 0x115 (size) and 0x11E (content) the pair.
#pragma once

#include "engine/GzipThread.h"

namespace vl {

class TCompareThread : public TGUnZipThread {
public:
    // AVerifyName: the backup file; ARefName: the reference.
    TCompareThread(const QString &AVerifyName, const QString &ARefName, TEncryption *AEncryption, bool ACompress,
                   bool AZipCompress, int32_t ABufSize, TThreadPriority APriority = TThreadPriority::tpNormal);

protected:
    void Execute() override;
    int32_t CompareFiles();
    int32_t CompareEncrypted(TStream &ARef, TStream &ABackup);
    int32_t CompareGzip(TStream &ARef, TStream &ABackup);
    int32_t CompareZip(TStream &ARef, TStream &ABackup);

private:
    // The last step of every form: the unpacked data (when AResult is 0)
    // compared with the reference, then the temporary stream freed.
    int32_t CompareUnpacked(TStream &ARef, std::unique_ptr<TStream> &ATemp, const QString &ATempName,
                            int32_t AResult);
    bool FZipCompress;
    bool FGzip; // the backup file is a per-file gzip file
};

} // namespace vl
