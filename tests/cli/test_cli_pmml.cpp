// The --pmml documents: valid against the official PMML 4.4 schema
// (xmllint --schema, tests/golden/pmml/pmml-4-4.xsd) for the model forms the
// formula allows, each variable once in the mining schema with the weights
// marked by their PMML use; and a scorer written here from the PMML
// standard's rules for GeneralRegressionModel alone reproduces the
// program's --predictions. Also the --results-xml document, both documents
// for names in any encoding, and the covariance's size rule.
#include <algorithm>
#include <cmath>
#include <map>
#include <pugixml.hpp>

#include "cli/cli_run.h"

namespace {

using namespace clitest;

// The documents' reading of the bytes XML cannot carry: U+FFFD and two
// hexadecimal digits stand for one byte.
std::string Unescape(const std::string& text) {
    const std::string mark = "\xEF\xBF\xBD";
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 3, mark) == 0 && i + 5 <= text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 3, 2), nullptr, 16));
            i += 5;
        } else {
            out += text[i++];
        }
    }
    return out;
}

// xmllint's complaints about a file, against the PMML schema or only as XML;
// empty when it is content.
std::string Xmllint(const std::string& path, bool schema) {
    const std::string against =
        schema ? "--schema " + Quote(kGolden + "pmml/pmml-4-4.xsd") + " " : std::string();
    const Result r = support::RunCommand("xmllint --noout " + against + Quote(path));
    if (r.code == 127) return "xmllint is missing (tools/deps.sh installs libxml2-utils)";
    return r.code == 0 ? "" : "xmllint exit " + std::to_string(r.code) + ": " + r.err;
}

// A GeneralRegressionModel scored as the PMML standard says: each
// parameter's predictor term is the product of its PPMatrix cells (a
// factor's cell 1 when the input equals the cell's category, a covariate's
// cell the input raised to the cell's exponent), 1 for a parameter without
// cells; a general linear model predicts the sum of beta times term, a
// multinomial logistic model gives each target category exp of its sum
// over the sum of those exps, the reference category's sum being 0.
// Names and categories are read back to their bytes (Unescape), so the
// data's own cells are scored.
class Scorer {
public:
    explicit Scorer(const pugi::xml_document& doc) {
        const auto text = [](pugi::xml_attribute a) { return Unescape(a.value()); };
        const pugi::xml_node pmml = doc.child("PMML");
        for (pugi::xml_node f : pmml.child("DataDictionary").children("DataField"))
            fNumeric[text(f.attribute("name"))] =
                std::string(f.attribute("dataType").value()) == "double";
        const pugi::xml_node m = pmml.child("GeneralRegressionModel");
        fbLogistic = std::string(m.attribute("modelType").value()) == "multinomialLogistic";
        fReference = text(m.attribute("targetReferenceCategory"));
        for (pugi::xml_node p : m.child("ParameterList").children("Parameter"))
            fvParameters.push_back(p.attribute("name").value());
        for (pugi::xml_node c : m.child("PPMatrix").children("PPCell"))
            fCells[c.attribute("parameterName").value()].push_back(
                {text(c.attribute("predictorName")), text(c.attribute("value"))});
        for (pugi::xml_node c : m.child("ParamMatrix").children("PCell")) {
            const std::string target = text(c.attribute("targetCategory"));
            if (fBeta.find(target) == fBeta.end()) fvTargets.push_back(target);
            fBeta[target][c.attribute("parameterName").value()] = c.attribute("beta").as_double();
        }
        for (pugi::xml_node f : m.child("FactorList").children("Predictor"))
            fFactors.insert(text(f.attribute("name")));
    }

    // The value (general linear model) or the probability of each category
    // (logistic, targets in ParamMatrix order, then the reference).
    std::vector<double> Score(const std::map<std::string, std::string>& in) const {
        std::vector<double> eta;
        for (const std::string& t : fvTargets) {
            double sum = 0.0;
            for (const std::string& p : fvParameters) {
                const auto b = fBeta.at(t).find(p);
                if (b != fBeta.at(t).end()) sum += b->second * Term(p, in);
            }
            eta.push_back(sum);
        }
        if (!fbLogistic) return eta;
        eta.push_back(0.0);
        double total = 0.0;
        for (double e : eta) total += std::exp(e);
        for (double& e : eta) e = std::exp(e) / total;
        return eta;
    }
    const std::vector<std::string>& Targets() const { return fvTargets; }
    const std::string& Reference() const { return fReference; }

private:
    double Term(const std::string& parameter, const std::map<std::string, std::string>& in) const {
        double t = 1.0;
        const auto cells = fCells.find(parameter);
        if (cells == fCells.end()) return t;
        for (const auto& [predictor, value] : cells->second) {
            const std::string& x = in.at(predictor);
            if (fFactors.count(predictor) == 0)
                t *= std::pow(std::stod(x), std::stod(value));
            else if (fNumeric.at(predictor))
                t *= std::stod(x) == std::stod(value) ? 1.0 : 0.0;
            else
                t *= x == value ? 1.0 : 0.0;
        }
        return t;
    }

    std::map<std::string, bool> fNumeric;
    bool fbLogistic = false;
    std::string fReference;
    std::vector<std::string> fvParameters;
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> fCells;
    std::vector<std::string> fvTargets;
    std::map<std::string, std::map<std::string, double>> fBeta;
    std::set<std::string> fFactors;
};

// Runs the program with --pmml and --predictions, validates the document
// and scores every data row that has a prediction.
void CheckModel(const std::string& what, const std::string& command, const std::string& data,
                const std::vector<std::string>& extra, const std::string& schemaSummary = "") {
    SCOPED_TRACE(what);
    const TempFile pmml("", ".pmml"), predictions("", ".csv"), results("", ".xml");
    const Result r = RunProgram(
        Plus({command, "--data", data},
             Plus(extra, {"--pmml", pmml.path.string(), "--predictions", predictions.path.string(),
                          "--results-xml", results.path.string()})));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Xmllint(pmml.path.string(), true), "") << Slurp(pmml.path);
    EXPECT_EQ(Xmllint(results.path.string(), false), "") << Slurp(results.path);

    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(pmml.path.c_str()));
    const pugi::xml_node model = doc.child("PMML").child("GeneralRegressionModel");
    std::set<std::string> fields;
    std::string uses;
    for (pugi::xml_node f : model.child("MiningSchema").children("MiningField")) {
        EXPECT_TRUE(fields.insert(Unescape(f.attribute("name").value())).second)
            << "listed twice: " << f.attribute("name").value();
        uses += Unescape(f.attribute("name").value()) + ":" +
                (f.attribute("usageType") ? f.attribute("usageType").value() : "active") + " ";
    }
    if (!schemaSummary.empty()) {
        EXPECT_EQ(uses, schemaSummary);
    }
    std::size_t dictionary = 0;
    for (pugi::xml_node f : doc.child("PMML").child("DataDictionary").children("DataField")) {
        ++dictionary;
        EXPECT_EQ(fields.count(Unescape(f.attribute("name").value())), 1u)
            << f.attribute("name").value();
    }
    EXPECT_EQ(dictionary, fields.size());

    const Scorer scorer(doc);
    const golden::Csv rows = golden::ParseCsv(Slurp(data));
    const golden::Csv predicted = golden::ParseCsv(Slurp(predictions.path));
    ASSERT_EQ(predicted.rows.size(), rows.rows.size());
    const bool logistic = command == "logistic";
    std::size_t scored = 0;
    for (std::size_t i = 0; i < rows.rows.size(); ++i) {
        const std::vector<std::string>& p = predicted.rows[i];
        if (p.back().empty()) continue;  // a record the fit did not use
        std::map<std::string, std::string> in;
        for (std::size_t c = 0; c < rows.header.size() && c < rows.rows[i].size(); ++c)
            in[rows.header[c]] = rows.rows[i][c];
        const std::vector<double> s = scorer.Score(in);
        ++scored;
        if (!logistic) {
            EXPECT_NEAR(s[0], std::stod(p[0]), 1e-12 * std::max(1.0, std::fabs(s[0]))) << i;
            continue;
        }
        // The predictions list the categories in sorted order, p_<category>.
        std::vector<std::string> order = scorer.Targets();
        order.push_back(scorer.Reference());
        for (std::size_t k = 0; k < order.size(); ++k)
            EXPECT_NEAR(s[k], predicted.Value(i, "p_" + order[k]), 1e-12)
                << "row " << i << " " << order[k];
    }
    EXPECT_GE(scored, 4u);
}

}  // namespace

TEST_F(Cli, PmmlDocumentsValidateAndScoreLikeTheProgram) {
    const std::string main = kGolden + "cli_main.csv", anova = kGolden + "cli_anova.csv",
                      logistic = kGolden + "cli_logistic.csv";
    CheckModel("two factors with interaction, both weights", "glm", main,
               {"--formula", "y ~ A + B + A*B", "--factors", "B", "--freq-weight", "f",
                "--regr-weight", "w"},
               "A:active B:active y:predicted f:frequencyWeight w:analysisWeight ");
    CheckModel("factor by covariate, covariate power", "glm", main,
               {"--formula", "y ~ A + x + A*x + x*x + z"},
               "A:active x:active z:active y:predicted ");
    CheckModel("nested term", "glm", main, {"--formula", "y ~ A + C(A)"});
    CheckModel("no intercept", "glm", anova, {"--formula", "y ~ diet + x", "--no-intercept"});
    const TempFile saturated("y,a,b\n1.5,p,u\n2.25,p,v\n3.75,q,u\n0.5,q,v\n");
    CheckModel("saturated: no error degrees of freedom", "glm", saturated.path.string(),
               {"--formula", "y ~ a + b + a*b"});
    // The reference comes first in the sorted categories, so the model
    // orders them apple-last; the target categories must follow.
    CheckModel("multinomial, reference first", "logistic", logistic,
               {"--formula", "y ~ A + B + x", "--factors", "B", "--reference", "first",
                "--freq-weight", "f"},
               "A:active B:active x:active y:predicted f:frequencyWeight ");
    CheckModel("multinomial, a named reference", "logistic", logistic,
               {"--formula", "y ~ A*x", "--reference", "banana"});
    CheckModel("binary", "logistic", logistic, {"--formula", "z ~ A + x"});
}

// The results document lists each parameter as the --json output does.
TEST_F(Cli, ResultsDocumentsListEveryParameter) {
    struct Case {
        std::string command, data, formula, model;
    };
    for (const Case& c :
         {Case{"glm", "cli_anova.csv", "y ~ diet + x", "glm"},
          Case{"logistic", "cli_logistic.csv", "y ~ A + x", "multinomial logistic"}}) {
        SCOPED_TRACE(c.command);
        const bool logistic = c.command == "logistic";
        const TempFile xml("", ".xml");
        const json params = RunJson({c.command, "--data", kGolden + c.data, "--formula", c.formula,
                                     "--results-xml", xml.path.string()})["parameters"];
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_file(xml.path.c_str()));
        const pugi::xml_node root = doc.child("ParameterEstimates");
        EXPECT_EQ(root.attribute("model").value(), c.model);
        std::size_t k = 0;
        for (pugi::xml_node p : root.children("ParameterStats")) {
            ASSERT_LT(k, params.size());
            const json& want = params[k++];
            const auto expect = [&](const char* attribute, const char* key) {
                ExpectJsonNumber(json(p.attribute(attribute).as_double()), want[key], kR, key);
            };
            if (!logistic) {
                EXPECT_EQ(p.attribute("paramName").value(), want["name"].get<std::string>());
            }
            expect("estimate", "estimate");
            if (want["redundant"].get<bool>()) {
                if (logistic) continue;
                EXPECT_STREQ(p.attribute("isRedundant").value(), "true");
                EXPECT_TRUE(p.attribute("stdError").empty());
                continue;
            }
            expect("stdError", "std_error");
            if (logistic) {
                expect("expEstimate", "exp_b");
                continue;
            }
            expect("sig", "sig");
            expect("confIntervalLower", "ci_lower");
            EXPECT_TRUE(p.child("RegressionParameter")) << want["label"];
        }
        EXPECT_EQ(k, params.size());
    }
}

// Names and categories in another encoding (CP1252), with NUL and control
// characters, broken UTF-8 or a U+FFFD of their own give valid documents
// in which every category keeps its own text: the scorer, reading the
// escapes back to bytes, predicts what the program predicts from the
// data's own cells, and both documents list every category once.
TEST_F(Cli, DocumentsOfNamesInAnyEncodingAreValidAndKeepCategoriesApart) {
    using namespace std::string_literals;
    const std::string region = "r\xE9gion";
    // CP1252 u-umlaut and e-grave (differing only in bytes that must be
    // replaced), NUL and another control character, U+FFFD, a broken
    // sequence, a control character XML forbids.
    const std::vector<std::string> regions = {"nord",   "s\374d",       "s\350d",      "a\0b"s,
                                              "a\001b", "\xEF\xBF\xBD", "bad\xC3\x28", "t\037x"};
    std::string csv = "y," + region + ",x\n";
    for (std::size_t k = 0; k < 3 * regions.size(); ++k)
        csv += std::to_string((k * 37) % 17 + 0.25 * static_cast<double>(k % 4)) + "," +
               regions[k % regions.size()] + "," + std::to_string(0.5 * ((k * 5) % 7)) + "\n";
    const TempFile data(csv);
    CheckModel("general linear model", "glm", data.path.string(),
               {"--formula", "y ~ " + region + " + x"}, region + ":active x:active y:predicted ");
    const TempFile pmml("", ".pmml"), results("", ".xml");
    const Result r = Fit("glm", data.path.string(), "y ~ " + region + " + x",
                         {"--pmml", pmml.path.string(), "--results-xml", results.path.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::set<std::string> want(regions.begin(), regions.end());
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(pmml.path.c_str()));
    std::set<std::string> listed;
    std::size_t values = 0;
    for (pugi::xml_node f : doc.child("PMML").child("DataDictionary").children("DataField")) {
        if (Unescape(f.attribute("name").value()) != region) continue;
        for (pugi::xml_node v : f.children("Value")) {
            listed.insert(Unescape(v.attribute("value").value()));
            ++values;
        }
    }
    EXPECT_EQ(values, regions.size());
    EXPECT_EQ(listed, want);
    pugi::xml_document res;
    ASSERT_TRUE(res.load_file(results.path.c_str()));
    std::set<std::string> named;
    for (pugi::xml_node p : res.child("ParameterEstimates").children("ParameterStats"))
        for (pugi::xml_node f : p.child("RegressionParameter").children("Factor")) {
            EXPECT_EQ(Unescape(f.attribute("name").value()), region);
            named.insert(Unescape(f.attribute("value").value()));
        }
    EXPECT_EQ(named, want);

    // The same for the categories of a logistic model's dependent, the last
    // of them (the reference) a U+FFFD.
    std::string dep = "d,x\n";
    const std::vector<std::string> answers = {"oui", "non\xA0", "n\0n"s, "\xEF\xBF\xBD"};
    for (std::size_t k = 0; k < 5 * answers.size(); ++k)
        dep += answers[k % answers.size()] + "," +
               std::to_string((k * 7) % 11 / 3.0 + static_cast<double>(k % 5)) + "\n";
    const TempFile logistic(dep);
    CheckModel("multinomial logistic model", "logistic", logistic.path.string(),
               {"--formula", "d ~ x"});
}

// The covariance has a cell for every pair of parameters: above 2,000
// parameters the document leaves it out unless asked, and says so. 2,001
// categories without an intercept give 2,001 parameters and a diagonal
// covariance: two records a category, 1 apart, make the error mean square
// 0.5 and every variance 0.25.
TEST_F(Cli, CovarianceIsLeftOutOfLargeModelsUnlessAskedFor) {
    std::string csv = "y,g\n";
    for (int k = 0; k < 2 * 2001; ++k)
        csv += std::to_string(k % 2001 % 7 + (k < 2001 ? 0 : 1)) + ",g" + std::to_string(k % 2001) +
               "\n";
    const TempFile data(csv);
    const std::string warning =
        "warning: the PMML document leaves out the covariance matrix of the estimates "
        "(PCovMatrix), so a scorer cannot compute standard errors: the model has 2001 "
        "parameters, more than 2000; --pmml-covariance always writes it";
    const std::string anova = kGolden + "cli_anova.csv";
    // Each run writes the document anew.
    const TempFile pmml("", ".pmml");
    const auto run = [&](const std::vector<std::string>& extra) {
        return Fit("glm", data.path.string(), "y ~ g",
                   Plus({"--no-intercept", "--json", "--pmml", pmml.path.string()}, extra));
    };
    const Result r = run({});
    ExpectExit(r, 0, "mcreg: " + warning + "\n");
    const json warnings = json::parse(r.out)["warnings"];
    EXPECT_NE(std::find(warnings.begin(), warnings.end(), json(warning)), warnings.end());
    EXPECT_EQ(Xmllint(pmml.path.string(), true), "");
    EXPECT_THAT(Slurp(pmml.path), Not(HasSubstr("PCovMatrix")));

    ExpectExit(run({"--pmml-covariance", "always"}), 0, "");
    EXPECT_EQ(Xmllint(pmml.path.string(), true), "");
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(pmml.path.c_str()));
    std::size_t cells = 0;
    for (pugi::xml_node c : doc.child("PMML")
                                .child("GeneralRegressionModel")
                                .child("PCovMatrix")
                                .children("PCovCell")) {
        EXPECT_STREQ(c.attribute("pRow").value(), c.attribute("pCol").value());
        EXPECT_NEAR(c.attribute("value").as_double(), 0.25, 1e-12);
        ++cells;
    }
    EXPECT_EQ(cells, 2001u);

    ExpectExit(Fit("glm", anova, "y ~ diet + x",
                   {"--pmml", pmml.path.string(), "--pmml-covariance", "never"}),
               0, "");
    EXPECT_EQ(Xmllint(pmml.path.string(), true), "");
    EXPECT_THAT(Slurp(pmml.path), Not(HasSubstr("PCovMatrix")));
    ExpectExit(Fit("glm", anova, "y ~ diet", {"--pmml-covariance", "always"}), 2,
               "mcreg: --pmml-covariance needs --pmml\n");
    ExpectExit(Fit("glm", anova, "y ~ diet",
                   {"--pmml", pmml.path.string(), "--pmml-covariance", "sometimes"}),
               2, "mcreg: --pmml-covariance takes auto, always or never, not 'sometimes'\n");
}
