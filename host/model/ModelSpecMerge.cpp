// A model whose records are split over several processes: every process
// must end with the same variables, categories and counts, those of all the
// parts read as one file.
#include <algorithm>
#include <cstdlib>
#include <unordered_map>

#include "host/base/HostError.h"
#include "host/model/ModelSpec.h"
#include "host/run/Processes.h"

namespace mchost {

namespace {

const std::string kNumbers = "n", kNoCell = "-";

// A text column's kind names its first text cell, for the message.
std::string Kind(const CodedColumn& c) {
    if (c.IsText())
        return "t (data row " + std::to_string(c.fFirstTextRow + 1) + ": '" + c.FirstText() + "')";
    return c.fNNumbers > 0 ? kNumbers : kNoCell;
}

bool IsText(const std::string& kind) {
    return !kind.empty() && kind[0] == 't';
}

bool AnyText(const std::vector<std::vector<std::string>>& all, std::size_t i) {
    return std::any_of(all.begin(), all.end(), [&](const auto& part) { return IsText(part[i]); });
}

}  // namespace

void AgreeColumnKinds(CodedData& data, Processes& processes) {
    if (!processes.IsSplit()) return;
    // The parts may hold their columns in different orders: a column is
    // matched by its name. Each list starts with the part's file.
    std::vector<std::string> mine{data.fSource};
    for (const CodedColumn& c : data.fvColumns) {
        mine.push_back(c.fName);
        mine.push_back(Kind(c));
    }
    const auto all = processes.GatherTexts(mine);
    // The kind of the named column in each part ("-" where it has none).
    const auto kindsOf = [&](const std::string& name) {
        std::vector<std::string> kinds;
        for (const auto& part : all) {
            std::string kind = kNoCell;
            for (std::size_t j = 1; j + 1 < part.size(); j += 2)
                if (part[j] == name) kind = part[j + 1];
            kinds.push_back(kind);
        }
        return kinds;
    };
    for (CodedColumn& c : data.fvColumns) {
        const std::vector<std::string> kinds = kindsOf(c.fName);
        const auto text = std::find_if(kinds.begin(), kinds.end(), IsText);
        if (text == kinds.end()) continue;
        const auto numbers = std::find(kinds.begin(), kinds.end(), kNumbers);
        if (numbers != kinds.end()) {
            const auto t = static_cast<std::size_t>(text - kinds.begin());
            const auto r = static_cast<std::size_t>(numbers - kinds.begin());
            throw HostError(HostError::kData,
                            "column '" + c.fName + "' holds text in part " + std::to_string(t) +
                                " (" + all[t][0] + ", " + text->substr(3) +
                                " but only numbers in part " + std::to_string(r) + " (" +
                                all[r][0] + "): a column must be read the same way in every part");
        }
        // No cell here: nothing to recode, only the column's kind to take.
        if (!c.IsText()) c.fPlan.fbCategorical = true;
    }
}

void ModelSpec::UnionCategories(Processes& processes, ModelVariable& v) {
    std::vector<std::string> mine{Kind(Column(v))};
    mine.insert(mine.end(), v.fvCategories.begin(), v.fvCategories.end());
    const auto all = processes.GatherTexts(mine);
    std::vector<std::string> labels;
    for (const auto& part : all) labels.insert(labels.end(), part.begin() + 1, part.end());
    // Sorted as one file's categories are: texts by their bytes, numbers
    // by value (their labels are written to be read back exactly).
    if (AnyText(all, 0)) {
        std::sort(labels.begin(), labels.end());
    } else {
        std::sort(labels.begin(), labels.end(), [](const std::string& a, const std::string& b) {
            return std::strtod(a.c_str(), nullptr) < std::strtod(b.c_str(), nullptr);
        });
    }
    labels.erase(std::unique(labels.begin(), labels.end()), labels.end());
    std::unordered_map<std::string, std::int32_t> codeOf;
    for (std::size_t k = 0; k < labels.size(); ++k)
        codeOf.emplace(labels[k], static_cast<std::int32_t>(k));
    for (std::int32_t& code : v.fvIndexOfCode)
        if (code >= 0) code = codeOf.at(v.fvCategories[static_cast<std::size_t>(code)]);
    v.fvCategories = std::move(labels);
}

void ModelSpec::MergeAcrossProcesses(Processes& processes) {
    if (!processes.IsSplit()) return;
    // A cluster's records may lie in several parts: its key must be the
    // same in all, so its column is numbered by the sorted union of the
    // parts' values, as a factor's categories are.
    for (ModelVariable& v : fvVariables) {
        if (v.fRole != ModelVariable::kCluster) continue;
        if (!Column(v).IsCoded())
            throw HostError(HostError::kUsage,
                            "with records split over processes the cluster column '" + v.fName +
                                "' cannot also be a covariate of the model");
        Categories cats = SortedCategories(Column(v));
        v.fvCategories = std::move(cats.fvLabels);
        v.fvIndexOfCode = std::move(cats.fvIndexOfCode);
        fbClusterCodes = true;
    }
    for (ModelVariable& v : fvVariables)
        if (Column(v).IsCoded()) UnionCategories(processes, v);
    // Only the codes are needed; the reports list no cluster's values.
    for (ModelVariable& v : fvVariables)
        if (v.fRole == ModelVariable::kCluster) v.fvCategories.clear();
    std::vector<int> sizes;
    for (int p : fvFactorPositions) {
        const auto k = fvVariables[static_cast<std::size_t>(p)].fvCategories.size();
        sizes.push_back(std::max(1, static_cast<int>(k)));
    }
    fSettings.SetFactorNCategs(sizes);
    std::vector<double> counts{static_cast<double>(fNRows), static_cast<double>(fNUsed)};
    processes.Sum(counts);
    fNRows = static_cast<std::size_t>(counts[0]);
    fNUsed = static_cast<std::size_t>(counts[1]);

    // The weights' scale and the covariates' magnitudes are those of all
    // the parts: every process must scale its weights alike.
    // So are their ranges, each kept as the largest of -min and of max.
    std::vector<double> largest;
    for (const ModelVariable& v : fvVariables)
        largest.push_back(v.fRole == ModelVariable::kRegrWeight ? Column(v).fMaxWeight : v.fMaxAbs);
    for (const ModelVariable& v : fvVariables) {
        largest.push_back(-v.fMin);
        largest.push_back(v.fMax);
    }
    if (processes.Reducer() == nullptr || !processes.Reducer()->Max(largest))
        throw HostError(HostError::kData, "the processes could not merge their figures");
    const std::size_t n = fvVariables.size();
    for (std::size_t i = 0; i < n; ++i) {
        ModelVariable& v = fvVariables[i];
        if (v.fRole == ModelVariable::kRegrWeight)
            fRegrWeightScale = WeightScale(largest[i]);
        else
            v.fMaxAbs = largest[i];
        v.fMin = -largest[n + 2 * i];
        v.fMax = largest[n + 2 * i + 1];
    }

    // What each part has to say about its records, said by process 0; what
    // every part says (a note on the formula) once.
    const auto all = processes.GatherTexts(fvWarnings);
    const auto everywhere = [&](const std::string& w) {
        return std::all_of(all.begin(), all.end(), [&](const auto& part) {
            return std::find(part.begin(), part.end(), w) != part.end();
        });
    };
    fvWarnings.clear();
    for (const std::string& w : all.front())
        if (everywhere(w)) fvWarnings.push_back(w);
    for (std::size_t r = 0; r < all.size(); ++r)
        for (const std::string& w : all[r])
            if (!everywhere(w)) fvWarnings.push_back("part " + std::to_string(r) + ": " + w);
    fSettings.SetPassReducer(processes.Reducer());
}

}  // namespace mchost
