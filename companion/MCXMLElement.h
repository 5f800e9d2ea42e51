#pragma once
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace MCXML_850 {

// A node of an XML element tree: a tag, attributes in the order added,
// optional text content and owned children in the order appended.
//
// Numeric attributes are written with the shortest text that reads back to
// the same double: whole numbers without a point ("2"), others in plain or
// exponent form, whichever is shorter ("0.25", "1e-05"). The alternative
// form (AddAttribute(name, value, true)) always uses exponent notation
// ("2.5e-01"), which keeps very small p-values readable. Non-finite values
// are written as "NaN", "INF" and "-INF" (the XML Schema spellings), and
// the system-missing value as "NaN"; callers that must leave a missing
// statistic out test for it before adding.
class XMLElement {
public:
    // A new element owned by the caller; null only when memory runs out.
    static XMLElement* Create(const std::string& tag);
    virtual ~XMLElement();

    XMLElement(const XMLElement&) = delete;
    XMLElement& operator=(const XMLElement&) = delete;

    // Adding a name that is already present replaces its value in place.
    void AddAttribute(const std::string& name, const std::string& value);
    void AddAttribute(const std::string& name, const char* value);
    void AddAttribute(const std::string& name, double value);
    // alt = true writes the exponent form described above.
    void AddAttribute(const std::string& name, double value, bool alt);

    // Appends child and takes ownership; true when appended. A null child,
    // a child that already has a parent, and the element itself or one of
    // its ancestors are refused (false) and stay with the caller, since
    // taking them would give a node two owners or make a cycle; so is any
    // child when memory for the longer list cannot be obtained.
    virtual bool AddChild(XMLElement* child);
    bool AddChild(std::unique_ptr<XMLElement> child);

    void SetText(const std::string& text) { fText = text; }
    const std::string& GetText() const { return fText; }

    const std::string& GetTag() const { return fTag; }
    const std::vector<std::pair<std::string, std::string>>& GetAttributes() const {
        return fvAttributes;
    }
    // The attribute's value, or null when absent.
    const std::string* FindAttribute(const std::string& name) const;
    int GetNChildren() const { return static_cast<int>(fvChildren.size()); }
    // Null for an index out of range.
    XMLElement* GetChild(int i) const;
    // The first child with the tag, or null.
    XMLElement* FindChild(const std::string& tag) const;
    const XMLElement* GetParent() const { return fpParent; }

    // The element as XML text without declaration. Markup characters of
    // attributes and text are escaped ('>' and the apostrophe need not be in
    // a double-quoted attribute). pretty indents children by two spaces, one
    // element per line; in an element holding both text and children the
    // indentation adds white space to the text, so use the compact form where
    // such text matters.
    std::string ToString(bool pretty = false) const;

    // The attribute text of a number (see the class comment).
    static std::string FormatNumber(double value, bool alt = false);

protected:
    explicit XMLElement(const std::string& tag) : fTag(tag) {}

private:
    std::string fTag;
    std::vector<std::pair<std::string, std::string>> fvAttributes;
    std::string fText;
    std::vector<std::unique_ptr<XMLElement>> fvChildren;
    XMLElement* fpParent = nullptr;
};

}  // namespace MCXML_850
