#pragma once
#include <memory>
#include <string>
#include <vector>

#include "companion/MCExport.h"

namespace MCXML_850 {

// The display texts of the categories of a categorical variable, by
// category number (the code 0 .. categories - 1 that records carry).
class MCREG_API MCCategoryValues {
public:
    MCCategoryValues() = default;
    explicit MCCategoryValues(std::vector<std::string> texts) : fvTexts(std::move(texts)) {}

    int GetNCategories() const { return static_cast<int>(fvTexts.size()); }
    // The text of category number; a number without a text (negative or past
    // the list) is written as the decimal number, so nothing is lost. Empty
    // only when memory runs out.
    std::string GetText(int category) const;
    // The text of a category value as records hold it: the code (int)(v + 0.5).
    // A value that is not a finite number gives "NaN".
    std::string GetTextOfValue(double value) const;

private:
    std::vector<std::string> fvTexts;
};

class MCContVar;

// One variable of the host's dictionary: its name and, for a categorical
// variable, the texts of its categories.
class MCREG_API MCVariable {
public:
    MCVariable(std::string name, std::vector<std::string> categoryTexts)
        : fName(std::move(name)), fCategories(std::move(categoryTexts)) {}
    virtual ~MCVariable() = default;

    const std::string& GetName() const { return fName; }
    int GetNCategories() const { return fCategories.GetNCategories(); }
    const MCCategoryValues& GetCategoryValues() const { return fCategories; }
    std::string GetCategoryText(int category) const { return fCategories.GetText(category); }
    // The continuous view of the variable, or null for a categorical one.
    virtual const MCContVar* AsContinuous() const { return nullptr; }

private:
    std::string fName;
    MCCategoryValues fCategories;
};

// A continuous variable with the observed range of its values.
class MCREG_API MCContVar : public MCVariable {
public:
    MCContVar(std::string name, double min, double max)
        : MCVariable(std::move(name), {}), fMin(min), fMax(max) {}

    double GetMin() const { return fMin; }
    double GetMax() const { return fMax; }
    const MCContVar* AsContinuous() const override { return this; }

private:
    double fMin;
    double fMax;
};

// The host's variables, indexed by record position: variable i describes
// position i of the records.
class MCREG_API MCVarList {
public:
    MCVarList() = default;
    MCVarList(MCVarList&&) noexcept = default;
    MCVarList& operator=(MCVarList&&) noexcept = default;

    // Append a variable and return its index; -1 when memory runs out (the
    // list is then unchanged).
    int AddCategoricalVar(const std::string& name, const std::vector<std::string>& categoryTexts);
    int AddContinuousVar(const std::string& name, double min, double max);

    int GetNVars() const { return static_cast<int>(fvVars.size()); }
    // Null for an index out of range.
    const MCVariable* GetVarAt(int index) const;

private:
    int Append(std::unique_ptr<MCVariable> var);

    std::vector<std::unique_ptr<MCVariable>> fvVars;
};

}  // namespace MCXML_850
