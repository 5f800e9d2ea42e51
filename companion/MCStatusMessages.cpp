// The message catalogue of the status codes.
//
// Each code has one or more message forms, tried in order; the first form
// whose placeholders all have data is used, so a status raised without its
// data still reads well. Placeholders: %dN is discrete datum N, %sN scale
// datum N. The data a code carries:
//
//   304  d1 number of the record (1-based) at which the iterator failed
//   305  d0 number of parameters (or rows) needed, d1 the limit
//   308  s1 the total weight
//   315  d1 number of values of the record, d2 length of the role map
//   316  d1 record position, s1 the offending value
//   318  d1 number of dependent categories with positive weight
//   319  d1 the requested reference category
//   320  d1 number of levels, d2 reference level
//   322  d1 columns of the L matrix, d2 number of parameters
//   324  d1 index of the compare factor
//   325, 326  d1 length of the metric list, d2 number of levels
//   327  d1 the reference category
//   328, 329  d1 the index, d2 the number of specifications (tests)
//   336  d1 dimension of the covariance matrix, d2 number of estimates

#include "companion/MCDisplay.h"
#include "companion/MCStatus.h"

namespace MCCommon_850 {

namespace {

struct Entry {
    long code;
    const char* forms[3];  // unused trailing forms are null
};

const Entry kCatalogue[] = {
    {1, {"The operation was cancelled."}},
    {301, {"The settings name no dependent variable."}},
    {302, {"The model is empty: it has neither an intercept nor any model effect."}},
    {303, {"Required input is missing, or an operation was called out of order."}},
    {304,
     {"The record iterator reported a record but returned none (record %d1).",
      "The record iterator reported a record but returned none."}},
    {305,
     {"Too many parameters: the model needs %d0, the limit is %d1.",
      "The model has too many parameters, or a matrix or the accumulator could not be "
      "created."}},
    {306, {"The first data pass was run twice."}},
    {307, {"There is no record, no valid record, or the data cannot be restarted."}},
    {308,
     {"The total weight %s1 is not positive.",
      "No record has a positive weight, or the total weight is not positive."}},
    {309, {"The model cannot be built: it has no parameters or no rows were accumulated."}},
    {310, {"The model is already built, or statistics were requested before the build."}},
    {311, {"Scoring or statistics were requested before the model was built."}},
    {312, {"The record iterator reported a record but returned none in the first pass."}},
    {313, {"A data pass was run out of order, or a row was refused by the accumulation."}},
    {314, {"A record without values was given to the pattern tabulation."}},
    {315,
     {"The record has %d1 values, fewer than the %d2 record positions of the role map.",
      "A record is shorter than the role map."}},
    {316,
     {"Record position %d1 holds the value %s1, which is not a valid category code (a whole "
      "number from 0 to the number of categories minus 1).",
      "Record position %d1 holds a value that is not a valid category code.",
      "A categorical value is not a whole number or not a valid category code."}},
    {318,
     {"Only %d1 categories of the dependent variable have a positive weight; at least two "
      "are needed.",
      "Fewer than two categories of the dependent variable have a positive weight."}},
    {319,
     {"The requested reference category %d1 has no cases.",
      "The requested reference category has no cases."}},
    {320,
     {"Invalid contrast: %d1 levels with reference level %d2.",
      "Invalid number of levels or reference level for a contrast."}},
    {321, {"The L matrix is empty: there is no estimable contrast."}},
    {322,
     {"The L matrix has %d1 columns but the model has %d2 parameters.",
      "The number of columns of the L matrix differs from the number of parameters."}},
    {323, {"The H matrix has no columns."}},
    {324, {"Compare factor %d1 has only one level.", "A compare factor has only one level."}},
    {325,
     {"The metric list has %d1 values, fewer than the %d2 levels.",
      "The metric list is shorter than the number of levels."}},
    {326,
     {"The metric list has %d1 values, more than the %d2 levels; the extra values are "
      "ignored.",
      "The metric list is longer than the number of levels; the extra values are ignored."}},
    {327,
     {"The reference category %d1 is not a level of the compare factor.",
      "The reference category is not a level of the compare factor."}},
    {328,
     {"Specification index %d1 is out of range: there are %d2 specifications.",
      "Specification index %d1 is out of range.", "A specification index is out of range."}},
    {329,
     {"Test index %d1 is out of range: there are %d2 tests.", "Test index %d1 is out of range.",
      "A test index is out of range."}},
    {330, {"A test has only one row, or there are no pairs to compare."}},
    {331, {"The last level is missing from a test."}},
    {332, {"Some level combinations are missing from a test."}},
    {335, {"The settings and the design matrix disagree."}},
    {336,
     {"The covariance matrix has dimension %d1 but there are %d2 estimates.",
      "The dimension of the covariance matrix differs from the number of estimates."}},
};

}  // namespace

std::string MCStatus::GetMessage() const {
    if (IsOK()) return "OK";
    std::string out = (IsWarning() ? "Warning " : "Error ") + std::to_string(fCode) + ": ";

    // Fills the placeholders of form into text; false when a datum is absent.
    auto fill = [this](const char* form, std::string& text) {
        text.clear();
        for (const char* p = form; *p != '\0'; ++p) {
            if (p[0] == '%' && (p[1] == 'd' || p[1] == 's') && p[2] >= '0' && p[2] <= '9') {
                const int index = p[2] - '0';
                if (p[1] == 'd') {
                    long v = 0;
                    if (!GetDiscreteDatum(index, v)) return false;
                    text += std::to_string(v);
                } else {
                    double v = 0.0;
                    if (!GetScaleDatum(index, v)) return false;
                    text += MCDisplay_850::FormatDouble(v);
                }
                p += 2;
            } else {
                text += *p;
            }
        }
        return true;
    };

    for (const Entry& e : kCatalogue) {
        if (e.code != fCode) continue;
        std::string text;
        for (const char* form : e.forms)
            if (form != nullptr && fill(form, text)) return out + text;
        return out + text;  // not reached: every entry ends with a plain form
    }

    out += "Unrecognized status code.";
    for (const auto& d : fDiscrete)
        out += " d" + std::to_string(d.first) + "=" + std::to_string(d.second);
    for (const auto& s : fScale)
        out += " s" + std::to_string(s.first) + "=" + MCDisplay_850::FormatDouble(s.second);
    return out;
}

}  // namespace MCCommon_850
