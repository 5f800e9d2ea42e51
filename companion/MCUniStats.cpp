#include "companion/MCUniStats.h"

#include "companion/MCMV.h"

namespace MCXML_850 {

MCUniStats::SummStats::SummStats()
    : fMin(MCCommon_850::MCMV::Missing()),
      fMax(MCCommon_850::MCMV::Missing()),
      fMean(MCCommon_850::MCMV::Missing()),
      fStdDev(MCCommon_850::MCMV::Missing()),
      fMedian(MCCommon_850::MCMV::Missing()),
      fIQR(MCCommon_850::MCMV::Missing()) {}

}  // namespace MCXML_850
