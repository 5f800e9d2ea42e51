#pragma once
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "companion/MCExport.h"

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
//
// Attribute values and text are bytes, meant as UTF-8. The written text
// is always well-formed XML 1.0 in UTF-8, whatever the bytes: a byte that
// XML cannot carry (one outside a well-formed UTF-8 sequence, as in text
// of another encoding; NUL and the other control characters except tab,
// line feed and carriage return; a byte of U+FFFE or U+FFFF) is written as
// U+FFFD followed by its value in two upper-case hexadecimal digits: the
// CP1252 "r\xE9gion" is written as "r", U+FFFD, "E9gion", and "a\0b" as
// "a", U+FFFD, "00b". A U+FFFD that the text itself holds is written the
// same way, byte by byte (U+FFFD "EF" U+FFFD "BF" U+FFFD "BD"), so that
// every U+FFFD of the document starts an escape: the original bytes can be
// read back, and two different texts never look the same. Tab, line feed
// and carriage return in attribute values (carriage return in text too)
// are written as character references, which a reader's normalisation of
// white space keeps.
//
// Appending a child, adding an attribute and writing cost constant time
// per element, attribute and byte (amortised), however many siblings or
// attributes there are.
class MCREG_API XMLElement {
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

    void SetText(const std::string& text);
    const std::string& GetText() const;

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

    // Writes the element as XML text without declaration to out, piece by
    // piece as it goes (the whole text is never held in memory). Markup
    // characters of attributes and text are escaped ('>' and the apostrophe
    // need not be in a double-quoted attribute). pretty indents children by
    // two spaces, one element per line, and ends with a line end; in an
    // element holding both text and children the indentation adds white
    // space to the text, so use the compact form where such text matters.
    // False when out failed or memory ran out (out then holds part of it).
    // XMLWriter writes a document without holding all of its tree.
    bool Write(std::ostream& out, bool pretty = false) const;
    // The same text as a string.
    std::string ToString(bool pretty = false) const;

    // The attribute text of a number (see the class comment).
    static std::string FormatNumber(double value, bool alt = false);

protected:
    explicit XMLElement(const std::string& tag);

private:
    struct Extra;
    // Where the attribute name stands in the list, or -1.
    long Position(const std::string& name) const;
    Extra& GetExtra();

    std::string fTag;
    std::vector<std::pair<std::string, std::string>> fvAttributes;
    std::vector<std::unique_ptr<XMLElement>> fvChildren;
    XMLElement* fpParent = nullptr;
    // The text and the index of a long attribute list, which few elements
    // have: made when first needed, to keep the many small elements small.
    std::unique_ptr<Extra> fpExtra;
};

// Writes one document to a stream as it is made: elements are opened and
// closed one at a time around whole subtrees, so that the caller need
// never hold the whole tree. The text is the one XMLElement::Write gives
// for the tree made of the same elements (an opened element that gets no
// content ends as an empty element). Nothing throws; after a failure
// (the stream failed, or memory ran out) every call returns false and
// writes nothing more.
class MCREG_API XMLWriter {
public:
    XMLWriter(std::ostream& out, bool pretty);
    ~XMLWriter();
    XMLWriter(const XMLWriter&) = delete;
    XMLWriter& operator=(const XMLWriter&) = delete;

    // Starts e (its tag, attributes and text, not its children): what is
    // written until the matching Close is its content. e need not outlive
    // the call.
    bool Open(const XMLElement& e);
    // Writes e with all its children into the innermost open element.
    bool Element(const XMLElement& e);
    // Ends the innermost open element; false when none is open.
    bool Close();
    // Ends the open elements and hands the rest of the text to the stream
    // (with pretty, a line end after the last element).
    bool Finish();

private:
    class Impl;
    std::unique_ptr<Impl> fpImpl;
};

}  // namespace MCXML_850
