#pragma once
#include <map>
#include <string>
#include <vector>

#include "companion/MCExport.h"

namespace MCCommon_850 {

// The outcome of an operation: OK, or a numbered error or warning carrying
// numbered data that fill in its message. Copied by value.
class MCREG_API MCStatus {
public:
    MCStatus() = default;
    MCStatus(long code, bool warning) : fCode(code), fbWarning(warning) {}

    bool IsOK() const { return fCode == 0; }
    bool IsError() const { return fCode != 0 && !fbWarning; }
    bool IsWarning() const { return fCode != 0 && fbWarning; }
    long GetErrorCode() const { return fCode; }

    // Data are numbered from 1 as they appear in the message.
    void SetDiscreteDatum(int index, long value) { fDiscrete[index] = value; }
    void SetScaleDatum(int index, double value) { fScale[index] = value; }
    bool GetDiscreteDatum(int index, long& value) const;
    const std::map<int, long>& GetDiscreteData() const { return fDiscrete; }
    const std::map<int, double>& GetScaleData() const { return fScale; }
    bool GetScaleDatum(int index, double& value) const;

    // A clear English message with the data filled in, e.g. for 316 the
    // record position and the offending value.
    std::string GetMessage() const;

    // Equal code, kind and data.
    bool operator==(const MCStatus& o) const {
        return fCode == o.fCode && fbWarning == o.fbWarning && fDiscrete == o.fDiscrete &&
               fScale == o.fScale;
    }
    bool operator!=(const MCStatus& o) const { return !(*this == o); }

private:
    long fCode = 0;
    bool fbWarning = false;
    std::map<int, long> fDiscrete;
    std::map<int, double> fScale;
};

// The warnings an object collected, in the order raised.
class MCREG_API MCWarnings {
public:
    void Add(const MCStatus& s) { fvList.push_back(s); }
    // Adds s unless an equal status is already present; returns whether added.
    bool AddUnique(const MCStatus& s);
    const std::vector<MCStatus>& GetList() const { return fvList; }
    int Size() const { return static_cast<int>(fvList.size()); }
    void Clear() { fvList.clear(); }

private:
    std::vector<MCStatus> fvList;
};

}  // namespace MCCommon_850
