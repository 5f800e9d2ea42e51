#include "host/score/PmmlModel.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <pugixml.hpp>
#include <set>
#include <sstream>

#include "host/base/HostError.h"

namespace mchost {

namespace {

// The documents this program writes carry a byte that XML cannot hold as
// U+FFFD followed by its two hexadecimal digits: read back to the byte, so
// that names and categories in any encoding match the data's own cells.
std::string Unescape(const char* value) {
    const std::string text(value);
    const std::string mark = "\xEF\xBF\xBD";
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 3, mark) == 0 && i + 5 <= text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 3])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 4]))) {
            out += static_cast<char>(std::strtol(text.substr(i + 3, 2).c_str(), nullptr, 16));
            i += 5;
        } else {
            out += text[i++];
        }
    }
    return out;
}

class Reader {
public:
    Reader(const pugi::xml_node& model, const std::string& source)
        : fModel(model), fSource(source) {}

    PmmlModel Read(const pugi::xml_node& pmml);

private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw HostError(HostError::kData, fSource + ": " + what);
    }
    double Number(const pugi::xml_node& e, const char* attribute, bool required = true,
                  double otherwise = 0.0) const;
    std::string Text(const pugi::xml_node& e, const char* attribute) const;
    void ReadKind();
    void ReadFields(const pugi::xml_node& pmml);
    void ReadPredictors();
    void ReadParameters();
    void ReadCells();
    void ReadBeta();
    void ReadTiePrecedence();
    void ReadAliased();
    void ReadCovariance();
    void ReadErrorRow();
    int Parameter(const std::string& name, const char* where) const;
    int Equation(const pugi::xml_node& e, const char* attribute) const;

    pugi::xml_node fModel;
    std::string fSource;
    PmmlModel fResult;
    std::map<std::string, pugi::xml_node> fFields;  // DataFields by name
    std::set<std::string> fActive;                  // the MiningSchema's inputs
    std::map<std::string, int> fPredictorIndex;
    std::map<std::string, int> fParameterIndex;
};

double Reader::Number(const pugi::xml_node& e, const char* attribute, bool required,
                      double otherwise) const {
    const pugi::xml_attribute a = e.attribute(attribute);
    if (!a) {
        if (required) Fail(std::string(e.name()) + " has no " + attribute);
        return otherwise;
    }
    const char* text = a.value();
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    while (end != nullptr && std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (end == text || *end != '\0' || !std::isfinite(v))
        Fail(std::string(e.name()) + " " + attribute + "=\"" + text + "\" is not a number");
    return v;
}

std::string Reader::Text(const pugi::xml_node& e, const char* attribute) const {
    const pugi::xml_attribute a = e.attribute(attribute);
    if (!a) Fail(std::string(e.name()) + " has no " + attribute);
    return Unescape(a.value());
}

PmmlModel Reader::Read(const pugi::xml_node& pmml) {
    fResult.fbEveryObservedCell =
        std::string(pmml.child("Header").child("Application").attribute("name").value()) == "mcreg";
    ReadKind();
    ReadFields(pmml);
    ReadPredictors();
    ReadParameters();
    ReadAliased();
    ReadCells();
    ReadBeta();
    ReadCovariance();
    ReadErrorRow();
    return fResult;
}

void Reader::ReadKind() {
    const std::string type = fModel.attribute("modelType").value();
    fResult.fModelType = type;
    const std::string link = fModel.attribute("linkFunction").value();
    if (type == "generalLinear" || type == "regression") {
        fResult.fKind = PmmlModel::kLinear;
    } else if (type == "multinomialLogistic") {
        fResult.fKind = PmmlModel::kMultinomial;
    } else if (type == "generalizedLinear") {
        if (link == "identity")
            fResult.fKind = PmmlModel::kLinear;
        else if (link == "logit")
            fResult.fKind = PmmlModel::kMultinomial;
        else
            Fail("GeneralRegressionModel: a generalizedLinear model with linkFunction=\"" + link +
                 "\" cannot be scored; identity and logit can");
    } else {
        Fail("GeneralRegressionModel of modelType=\"" + type +
             "\" cannot be scored; generalLinear, regression, multinomialLogistic and "
             "generalizedLinear (identity or logit link) can");
    }
    // What would shift or scale every linear predictor: not implemented, so
    // refused rather than left out.
    for (const char* a :
         {"offsetVariable", "offsetValue", "trialsVariable", "trialsValue", "cumulativeLink"})
        if (fModel.attribute(a))
            Fail(std::string("GeneralRegressionModel ") + a + " is not supported");
    for (const char* e : {"LocalTransformations", "EventValues", "BaseCumHazardTables"})
        if (fModel.child(e).first_child())
            Fail(std::string("GeneralRegressionModel: ") + e + " is not supported");
    for (pugi::xml_node t : fModel.child("Targets").children("Target"))
        for (const char* a : {"rescaleFactor", "rescaleConstant", "min", "max", "castInteger"})
            if (t.attribute(a)) Fail(std::string("Target ") + a + " is not supported");
}

void Reader::ReadFields(const pugi::xml_node& pmml) {
    const pugi::xml_node dictionary = pmml.child("DataDictionary");
    if (!dictionary) Fail("the document has no DataDictionary");
    for (pugi::xml_node f : dictionary.children("DataField")) fFields[Text(f, "name")] = f;
    const pugi::xml_node schema = fModel.child("MiningSchema");
    if (!schema) Fail("GeneralRegressionModel has no MiningSchema");
    for (pugi::xml_node f : schema.children("MiningField")) {
        const std::string name = Text(f, "name");
        const std::string use =
            f.attribute("usageType") ? f.attribute("usageType").value() : "active";
        if (use == "predicted" || use == "target") {
            fResult.fTarget = name;
            continue;
        }
        if (use != "active") continue;  // weights and supplementary fields
        if (f.attribute("missingValueReplacement"))
            Fail("MiningField '" + name + "': missingValueReplacement is not supported");
        const std::string outliers = f.attribute("outliers").value();
        if (!outliers.empty() && outliers != "asIs")
            Fail("MiningField '" + name + "': outliers=\"" + outliers + "\" is not supported");
        if (fFields.count(name) == 0)
            Fail("the MiningSchema's field '" + name + "' has no DataField in the DataDictionary");
        fActive.insert(name);
    }
}

void Reader::ReadPredictors() {
    const auto add = [&](const char* list, bool factor) {
        for (pugi::xml_node p : fModel.child(list).children("Predictor")) {
            ModelPredictor m;
            m.fName = Text(p, "name");
            m.fbFactor = factor;
            if (p.first_child() || p.attribute("contrastMatrixType"))
                Fail(std::string(list) + ": the contrast matrix of predictor '" + m.fName +
                     "' is not supported");
            const auto field = fFields.find(m.fName);
            if (field == fFields.end())
                Fail(std::string(list) + " names '" + m.fName +
                     "', which has no DataField in the DataDictionary");
            if (fActive.count(m.fName) == 0)
                Fail(std::string(list) + " names '" + m.fName +
                     "', which is no active field of the MiningSchema");
            if (fPredictorIndex.count(m.fName) != 0)
                Fail("predictor '" + m.fName + "' is listed twice");
            const std::string type = field->second.attribute("dataType").value();
            m.fbNumeric = type == "double" || type == "float" || type == "integer";
            if (!factor && !m.fbNumeric)
                Fail("covariate '" + m.fName + "' has dataType=\"" + type +
                     "\" in the DataDictionary, not a number");
            if (factor)
                for (pugi::xml_node v : field->second.children("Value")) {
                    const std::string property = v.attribute("property").value();
                    if (property == "invalid" || property == "missing") continue;
                    m.fvCategories.push_back(Text(v, "value"));
                    if (m.fbNumeric) m.fvCategoryNumbers.push_back(Number(v, "value"));
                }
            fPredictorIndex[m.fName] = static_cast<int>(fResult.fvPredictors.size());
            fResult.fvPredictors.push_back(m);
        }
    };
    add("FactorList", true);
    add("CovariateList", false);
}

void Reader::ReadParameters() {
    const pugi::xml_node list = fModel.child("ParameterList");
    if (!list) Fail("GeneralRegressionModel has no ParameterList");
    for (pugi::xml_node p : list.children("Parameter")) {
        const std::string name = Text(p, "name");
        if (fParameterIndex.count(name) != 0) Fail("Parameter '" + name + "' is listed twice");
        fParameterIndex[name] = static_cast<int>(fResult.fvParameters.size());
        fResult.fvParameters.push_back(name);
    }
    if (fResult.fvParameters.empty()) Fail("the ParameterList has no Parameter");
    fResult.fvCells.resize(fResult.fvParameters.size());
}

int Reader::Parameter(const std::string& name, const char* where) const {
    const auto p = fParameterIndex.find(name);
    if (p == fParameterIndex.end())
        Fail(std::string(where) + " names parameter '" + name + "', which the ParameterList lacks");
    return p->second;
}

void Reader::ReadCells() {
    for (pugi::xml_node c : fModel.child("PPMatrix").children("PPCell")) {
        const std::string predictor = Text(c, "predictorName");
        if (c.attribute("targetCategory"))
            Fail("PPCell of '" + predictor + "': a targetCategory is not supported");
        const int param = Parameter(Text(c, "parameterName"), "PPCell");
        const auto p = fPredictorIndex.find(predictor);
        if (p == fPredictorIndex.end())
            Fail("PPCell names predictor '" + predictor +
                 "', which is in neither the FactorList nor the CovariateList");
        ModelPredictor& m = fResult.fvPredictors[static_cast<std::size_t>(p->second)];
        ParameterCell cell;
        cell.fPredictor = p->second;
        if (!m.fbFactor) {
            cell.fPower = Number(c, "value");
        } else {
            const std::string value = Text(c, "value");
            const double number = m.fbNumeric ? Number(c, "value") : 0.0;
            for (std::size_t k = 0; k < m.fvCategories.size() && cell.fCategory < 0; ++k)
                if (m.fbNumeric ? m.fvCategoryNumbers[k] == number : m.fvCategories[k] == value)
                    cell.fCategory = static_cast<int>(k);
            if (cell.fCategory < 0) {
                cell.fCategory = static_cast<int>(m.fvCategories.size());
                m.fvCategories.push_back(value);
                if (m.fbNumeric) m.fvCategoryNumbers.push_back(number);
            }
        }
        fResult.fvCells[static_cast<std::size_t>(param)].push_back(cell);
    }
}

int Reader::Equation(const pugi::xml_node& e, const char* attribute) const {
    const std::vector<std::string>& eq = fResult.fvEquations;
    if (fResult.fKind == PmmlModel::kLinear) return 0;
    if (!e.attribute(attribute)) {
        if (eq.size() == 1) return 0;
        Fail(std::string(e.name()) + " has no " + attribute + " in a model of " +
             std::to_string(eq.size()) + " equations");
    }
    const std::string target = Text(e, attribute);
    for (std::size_t k = 0; k < eq.size(); ++k)
        if (eq[k] == target) return static_cast<int>(k);
    Fail(std::string(e.name()) + " " + attribute + "=\"" + target +
         "\" is no target category of the ParamMatrix");
}

void Reader::ReadBeta() {
    const pugi::xml_node matrix = fModel.child("ParamMatrix");
    if (!matrix) Fail("GeneralRegressionModel has no ParamMatrix");
    const std::size_t np = fResult.fvParameters.size();
    std::vector<std::string>& eq = fResult.fvEquations;
    if (fResult.fKind == PmmlModel::kLinear) {
        eq.push_back(fResult.fTarget);
    } else {
        for (pugi::xml_node c : matrix.children("PCell")) {
            if (!c.attribute("targetCategory"))
                Fail("PCell of a multinomial model has no targetCategory");
            const std::string t = Text(c, "targetCategory");
            if (std::find(eq.begin(), eq.end(), t) == eq.end()) eq.push_back(t);
        }
        if (eq.empty()) Fail("the ParamMatrix has no PCell");
        // A logit link models one category against the other.
        if (fResult.fModelType == "generalizedLinear" && eq.size() != 1)
            Fail("a generalizedLinear model with the logit link has one equation, not " +
                 std::to_string(eq.size()) + " (target categories in its ParamMatrix)");
    }
    fResult.fvBeta.assign(eq.size(), std::vector<double>(np, 0.0));
    std::vector<std::vector<char>> seen(eq.size(), std::vector<char>(np, 0));
    for (pugi::xml_node c : matrix.children("PCell")) {
        const int p = Parameter(Text(c, "parameterName"), "PCell");
        const int k = Equation(c, "targetCategory");
        char& once = seen[static_cast<std::size_t>(k)][static_cast<std::size_t>(p)];
        if (once)
            Fail("the ParamMatrix has two PCells of parameter '" + fResult.fvParameters[p] + "'");
        once = 1;
        fResult.fvBeta[static_cast<std::size_t>(k)][static_cast<std::size_t>(p)] =
            Number(c, "beta");
    }
    if (fResult.fKind == PmmlModel::kLinear) {
        fResult.fvCategories.clear();
        return;
    }
    // The reference: named by the model, or the one category of the
    // target's DataField without an equation.
    const auto field = fFields.find(fResult.fTarget);
    std::vector<std::string> listed;
    if (field != fFields.end())
        for (pugi::xml_node v : field->second.children("Value")) {
            const std::string property = v.attribute("property").value();
            if (property != "invalid" && property != "missing") listed.push_back(Text(v, "value"));
        }
    if (fModel.attribute("targetReferenceCategory")) {
        fResult.fReference = Text(fModel, "targetReferenceCategory");
    } else {
        std::vector<std::string> others;
        for (const std::string& v : listed)
            if (std::find(eq.begin(), eq.end(), v) == eq.end()) others.push_back(v);
        if (others.size() != 1)
            Fail(
                "GeneralRegressionModel names no targetReferenceCategory, and the target's "
                "DataField does not tell it");
        fResult.fReference = others.front();
    }
    if (std::find(eq.begin(), eq.end(), fResult.fReference) != eq.end())
        Fail("the reference category '" + fResult.fReference + "' has an equation of its own");
    std::vector<std::string> all = eq;
    all.push_back(fResult.fReference);
    fResult.fvCategories.clear();
    for (const std::string& v : listed)
        if (std::find(all.begin(), all.end(), v) != all.end() &&
            std::find(fResult.fvCategories.begin(), fResult.fvCategories.end(), v) ==
                fResult.fvCategories.end())
            fResult.fvCategories.push_back(v);
    if (fResult.fvCategories.size() != all.size()) fResult.fvCategories = all;
    ReadTiePrecedence();
}

void Reader::ReadTiePrecedence() {
    for (pugi::xml_node e : fModel.children("Extension")) {
        if (std::string(e.attribute("extender").value()) != "mcreg" ||
            std::string(e.attribute("name").value()) != kTiePrecedence)
            continue;
        const std::vector<std::string>& categories = fResult.fvCategories;
        std::vector<std::size_t> rank(categories.size(), categories.size());
        std::size_t next = 0;
        for (pugi::xml_node v : e.children("Value")) {
            const auto at = std::find(categories.begin(), categories.end(), Text(v, "value"));
            const auto k = static_cast<std::size_t>(at - categories.begin());
            if (at == categories.end() || rank[k] != categories.size())
                Fail("the Extension " + std::string(kTiePrecedence) +
                     " names a category twice or one the target does not have");
            rank[k] = next++;
        }
        if (next != categories.size())
            Fail("the Extension " + std::string(kTiePrecedence) +
                 " does not give every target category its place");
        fResult.fvTiePrecedence = std::move(rank);
    }
}

void Reader::ReadAliased() {
    for (pugi::xml_node e : fModel.children("Extension")) {
        if (std::string(e.attribute("extender").value()) != "mcreg" ||
            std::string(e.attribute("name").value()) != kAliasedColumns)
            continue;
        const auto parameter = [&](const pugi::xml_node& n) {
            const std::string name = Text(n, "parameter");
            const auto at = fParameterIndex.find(name);
            if (at == fParameterIndex.end())
                Fail("the Extension " + std::string(kAliasedColumns) + " names parameter '" + name +
                     "', which the ParameterList does not have");
            return static_cast<std::size_t>(at->second);
        };
        for (pugi::xml_node a : e.children("Aliased")) {
            AliasedColumn column;
            column.fParameter = parameter(a);
            for (pugi::xml_node k : a.children("Kept"))
                column.fvKept.emplace_back(parameter(k), Number(k, "coefficient"));
            fResult.fvAliased.push_back(std::move(column));
        }
    }
}

void Reader::ReadCovariance() {
    const pugi::xml_node matrix = fModel.child("PCovMatrix");
    if (!matrix) return;
    fResult.fCovarianceType = matrix.attribute("type") ? matrix.attribute("type").value() : "model";
    const std::size_t np = fResult.fvParameters.size();
    const std::size_t n = fResult.NCoefficients();
    fResult.fvCovariance.assign(n * n, 0.0);
    for (pugi::xml_node c : matrix.children("PCovCell")) {
        const std::size_t i = static_cast<std::size_t>(Equation(c, "tRow")) * np +
                              static_cast<std::size_t>(Parameter(Text(c, "pRow"), "PCovCell"));
        const std::size_t j = static_cast<std::size_t>(Equation(c, "tCol")) * np +
                              static_cast<std::size_t>(Parameter(Text(c, "pCol"), "PCovCell"));
        const double v = Number(c, "value");
        fResult.fvCovariance[i * n + j] = v;
        fResult.fvCovariance[j * n + i] = v;
    }
}

void Reader::ReadErrorRow() {
    for (pugi::xml_node u : fModel.child("ModelStats").children("UnivariateStats"))
        for (pugi::xml_node row : u.child("Anova").children("AnovaRow"))
            if (std::string(row.attribute("type").value()) == "Error") {
                fResult.fErrorMeanSquare =
                    Number(row, "meanOfSquares", false, std::numeric_limits<double>::quiet_NaN());
                fResult.fErrorDf = Number(row, "degreesOfFreedom", false,
                                          std::numeric_limits<double>::quiet_NaN());
            }
}

// Line and column (from 1) of a byte offset.
std::string Place(const std::string& text, std::ptrdiff_t offset) {
    std::size_t line = 1, column = 1;
    const std::size_t end =
        std::min(text.size(), static_cast<std::size_t>(std::max<std::ptrdiff_t>(offset, 0)));
    for (std::size_t i = 0; i < end; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

const char* const kModelElements[] = {"AnomalyDetectionModel",
                                      "AssociationModel",
                                      "BayesianNetworkModel",
                                      "BaselineModel",
                                      "ClusteringModel",
                                      "GaussianProcessModel",
                                      "GeneralRegressionModel",
                                      "MiningModel",
                                      "NaiveBayesModel",
                                      "NearestNeighborModel",
                                      "NeuralNetwork",
                                      "RegressionModel",
                                      "RuleSetModel",
                                      "Scorecard",
                                      "SequenceModel",
                                      "SupportVectorMachineModel",
                                      "TextModel",
                                      "TimeSeriesModel",
                                      "TreeModel"};

}  // namespace

PmmlModel::PmmlModel()
    : fErrorMeanSquare(std::numeric_limits<double>::quiet_NaN()),
      fErrorDf(std::numeric_limits<double>::quiet_NaN()) {}

int PmmlModel::CategoryIndex(const std::string& text) const {
    for (std::size_t k = 0; k < fvCategories.size(); ++k)
        if (fvCategories[k] == text) return static_cast<int>(k);
    return -1;
}

PmmlModel ReadPmmlModel(const std::string& text, const std::string& source) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
    if (!parsed)
        throw HostError(HostError::kData, source + ": not well-formed XML at " +
                                              Place(text, parsed.offset) + ": " +
                                              parsed.description());
    const pugi::xml_node pmml = doc.document_element();
    if (std::string(pmml.name()) != "PMML")
        throw HostError(HostError::kData,
                        source + ": not a PMML document (its root element is " + pmml.name() + ")");
    const std::string version = pmml.attribute("version").value();
    if (version.compare(0, 2, "4.") != 0)
        throw HostError(HostError::kData,
                        source + ": PMML version \"" + version + "\" cannot be read; 4.x can");
    if (pmml.child("TransformationDictionary").first_child())
        throw HostError(HostError::kData, source + ": TransformationDictionary is not supported");
    pugi::xml_node model;
    int models = 0;
    for (pugi::xml_node e : pmml.children())
        for (const char* name : kModelElements)
            if (std::string(e.name()) == name) {
                if (models++ == 0) model = e;
            }
    if (models == 0) throw HostError(HostError::kData, source + ": the document holds no model");
    if (std::string(model.name()) != "GeneralRegressionModel")
        throw HostError(HostError::kData, source + ": the document's model is a " + model.name() +
                                              "; only a GeneralRegressionModel can be scored");
    if (models > 1)
        throw HostError(HostError::kData, source + ": the document holds " +
                                              std::to_string(models) +
                                              " models; one GeneralRegressionModel can be scored");
    if (model.attribute("isScorable") &&
        std::string(model.attribute("isScorable").value()) == "false")
        throw HostError(HostError::kData,
                        source + ": the GeneralRegressionModel says isScorable=\"false\"");
    return Reader(model, source).Read(pmml);
}

PmmlModel ReadPmmlFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw HostError(HostError::kUsage, "cannot open the model " + path);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw HostError(HostError::kData, "cannot read the model " + path);
    return ReadPmmlModel(text.str(), path);
}

}  // namespace mchost
