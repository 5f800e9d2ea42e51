#pragma once
// A model that answers every question of the model interface with nothing:
// tests of the parts that drive a model (data handlers, the optimizer)
// derive from it and override what they rely on.
#include <vector>

#include "companion/MCBitSet.h"
#include "design/MCRegrParameter.h"
#include "settings/IMCRegInterfaces.h"

namespace modeltest {

using MCCommon_850::MCStatus;
using MCMath_850::MCBitSet;
using MCMath_850::MCFactorTables;
using MCMath_850::MCRegrParameter;
using MCMath_850::MCSymMatrix;

class StubModel : public MCMath_850::IMCRegModel {
public:
    const MCFactorTables* GetFactorTables() const override { return nullptr; }
    MCStatus CreateParameters(MCFactorTables*) override { return MCStatus(); }
    bool AreParamsCreated() const override { return true; }
    bool UpdateXPrimeX(const double*, const std::vector<int>&) override { return false; }
    bool UpdateXPrimeX(const double*) override { return false; }
    MCStatus IdentifyRedundancy() override { return MCStatus(); }
    bool IsModelBuilt() const override { return false; }
    void GetDResiduals(std::vector<double>&, const double*) override {}
    MCStatus FinishErrors() override { return MCStatus(); }
    const MCSymMatrix* GetXPrimeX() const override { return nullptr; }
    const MCSymMatrix* GetHessianGI() const override { return nullptr; }
    const std::vector<MCRegrParameter>& GetParameters() const override { return fvParams; }
    const std::vector<MCRegrParameter>& GetBasicParams() const override { return fvParams; }
    int GetNParameters() const override { return 0; }
    int GetNNonRedParams() const override { return 0; }
    int GetNBasicParameters() const override { return 0; }
    int GetNBasicNonRed() const override { return 0; }
    const std::vector<double>& GetParamEstimates() const override { return fvEstimates; }
    const MCBitSet& GetBasicRedundInfo() const override { return fBits; }
    const MCBitSet& GetRedundancyInfo() const override { return fBits; }
    int GetDependentNCategs() const override { return 0; }
    const std::vector<int>& GetDependCategories() const override { return fvNoInts; }
    const std::vector<int>& GetDepCatLocalInds() const override { return fvNoInts; }
    void ClearXPrimeXMatrix() override {}
    void ClearHessianGIMatrix() override {}
    bool GetParamsForEffect(int, int&, int&) const override { return false; }
    MCStatus Score(const double*, std::vector<double>&, int&) const override { return MCStatus(); }
    MCStatus UncompressEstimates(const std::vector<double>&, const MCSymMatrix&) override {
        return MCStatus();
    }
    bool ExpandRow(std::vector<double>&, const double*) const override { return false; }
    bool ExpandRow(const double*, std::vector<int>&, std::vector<double>&) const override {
        return false;
    }
    bool ExpandAndCompressRow(const double*, const std::vector<int>&, int&, std::vector<int>&,
                              std::vector<double>&) const override {
        return false;
    }
    bool ExpandAndCompressRow(const double*, int&, std::vector<int>&,
                              std::vector<double>&) const override {
        return false;
    }
    const MCStatus& GetStatus() const override { return fStatus; }
    void Display() const override {}

private:
    std::vector<MCRegrParameter> fvParams;
    std::vector<double> fvEstimates;
    std::vector<int> fvNoInts;
    MCBitSet fBits;
    MCStatus fStatus;
};

}  // namespace modeltest
