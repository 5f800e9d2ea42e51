#include "companion/MCXMLElement.h"

#include <charconv>
#include <cmath>
#include <exception>
#include <new>
#include <ostream>
#include <unordered_map>

#include "companion/MCAllocationGuard.h"
#include "companion/MCIndex.h"
#include "companion/MCMV.h"
#include "companion/XMLText.h"

namespace MCXML_850 {

using MCMath_850::Ix;

struct XMLElement::Extra {
    std::string fText;
    // Attribute name to position, kept once the list is long enough for a
    // linear search to cost more than the map.
    std::unordered_map<std::string, std::size_t> fIndex;
};

namespace {

// Attribute lists up to this length are searched; longer ones are indexed.
constexpr std::size_t kIndexFrom = 16;

// The writer hands the text on in pieces of about this size.
constexpr std::size_t kPiece = 1 << 16;

const std::string kNoText;

// Lays a document out as text: elements opened and closed one at a time,
// a start tag left without its '>' until its content begins (an element
// without content ends as "<tag/>"). The pretty form puts each start and
// end tag on a line of its own, indented two spaces a level, except that
// the first child of an element with text follows the text at once.
class Layout {
public:
    Layout(bool pretty, std::string& buf) : fbPretty(pretty), fBuf(buf) {}

    // text is e's text; it must stay valid until e's content begins or e
    // closes.
    void Open(const XMLElement& e, const std::string* text);
    // Ends the start tag of the innermost open element, if still open, and
    // writes its text.
    void BeginContent();
    void Close();
    bool AnyOpen() const { return !fvTags.empty(); }
    void End() {
        if (fbPretty) fBuf += '\n';
    }

private:
    void LineStart();

    bool fbPretty;
    std::string& fBuf;
    std::vector<std::string> fvTags;
    bool fbPending = false;
    const std::string* fpPendingText = nullptr;
    bool fbNewLine = false;
    bool fbIndent = true;
};

void Layout::LineStart() {
    if (!fbPretty) return;
    if (fbNewLine) fBuf += '\n';
    if (fbIndent) fBuf.append(2 * fvTags.size(), ' ');
}

void Layout::BeginContent() {
    if (!fbPending) return;
    fbPending = false;
    fBuf += '>';
    fbNewLine = fbIndent = fpPendingText->empty();
    XMLText::AppendContent(fBuf, fpPendingText->data(), fpPendingText->size());
}

void Layout::Open(const XMLElement& e, const std::string* text) {
    BeginContent();
    LineStart();
    fBuf += '<';
    fBuf += e.GetTag();
    for (const auto& [name, value] : e.GetAttributes()) {
        fBuf += ' ';
        fBuf += name;
        fBuf += "=\"";
        XMLText::AppendAttribute(fBuf, value.data(), value.size());
        fBuf += '"';
    }
    fvTags.push_back(e.GetTag());
    fbPending = true;
    fpPendingText = text;
}

void Layout::Close() {
    const std::string tag = std::move(fvTags.back());
    fvTags.pop_back();
    if (fbPending && fpPendingText->empty()) {
        fBuf += fbPretty ? " />" : "/>";
    } else {
        if (fbPending) {
            fBuf += '>';
            XMLText::AppendContent(fBuf, fpPendingText->data(), fpPendingText->size());
        } else {
            LineStart();
        }
        fBuf += "</";
        fBuf += tag;
        fBuf += '>';
    }
    fbPending = false;
    fbNewLine = fbIndent = true;
}

// Lays out root and its subtree depth first, without recursion (however
// deep the tree is); between elements, next() may take the text so far and
// returns false to stop.
template <class Next>
bool LayTree(Layout& layout, const XMLElement& root, Next next) {
    // The open elements, each with the index of its next child.
    std::vector<std::pair<const XMLElement*, int>> open;
    layout.Open(root, &root.GetText());
    open.emplace_back(&root, 0);
    while (!open.empty()) {
        if (!next()) return false;
        auto& [e, child] = open.back();
        if (child < e->GetNChildren()) {
            const XMLElement& c = *e->GetChild(child++);
            layout.Open(c, &c.GetText());
            open.emplace_back(&c, 0);
        } else {
            layout.Close();
            open.pop_back();
        }
    }
    return true;
}

}  // namespace

XMLElement::XMLElement(const std::string& tag) : fTag(tag) {}

XMLElement* XMLElement::Create(const std::string& tag) {
    try {
        return new XMLElement(tag);
    } catch (const std::bad_alloc&) {
        MCCommon_850::RethrowInsideGuard();
        return nullptr;
    }
}

XMLElement::~XMLElement() {
    // Children are freed level by level rather than recursively, so that
    // no depth of tree can exhaust the stack.
    std::vector<std::unique_ptr<XMLElement>> pending = std::move(fvChildren);
    while (!pending.empty()) {
        std::unique_ptr<XMLElement> e = std::move(pending.back());
        pending.pop_back();
        for (auto& c : e->fvChildren) pending.push_back(std::move(c));
        e->fvChildren.clear();
    }
}

XMLElement::Extra& XMLElement::GetExtra() {
    if (!fpExtra) fpExtra = std::make_unique<Extra>();
    return *fpExtra;
}

long XMLElement::Position(const std::string& name) const {
    if (fpExtra && !fpExtra->fIndex.empty()) {
        const auto at = fpExtra->fIndex.find(name);
        return at != fpExtra->fIndex.end() ? static_cast<long>(at->second) : -1;
    }
    for (std::size_t k = 0; k < fvAttributes.size(); ++k)
        if (fvAttributes[k].first == name) return static_cast<long>(k);
    return -1;
}

void XMLElement::AddAttribute(const std::string& name, const std::string& value) {
    const long at = Position(name);
    if (at >= 0) {
        fvAttributes[static_cast<std::size_t>(at)].second = value;
        return;
    }
    // Most elements have a few attributes: room for them at once.
    if (fvAttributes.empty()) fvAttributes.reserve(4);
    fvAttributes.emplace_back(name, value);
    const std::size_t n = fvAttributes.size();
    if (n < kIndexFrom) return;
    try {
        auto& index = GetExtra().fIndex;
        if (index.empty())
            for (std::size_t k = 0; k < n; ++k) index.emplace(fvAttributes[k].first, k);
        else
            index.emplace(name, n - 1);
    } catch (const std::exception&) {
        // Keep the list searchable rather than half indexed.
        fvAttributes.pop_back();
        if (fpExtra) fpExtra->fIndex.clear();
        throw;
    }
}

void XMLElement::AddAttribute(const std::string& name, const char* value) {
    AddAttribute(name, std::string(value != nullptr ? value : ""));
}

void XMLElement::AddAttribute(const std::string& name, double value) {
    AddAttribute(name, FormatNumber(value, false));
}

void XMLElement::AddAttribute(const std::string& name, double value, bool alt) {
    AddAttribute(name, FormatNumber(value, alt));
}

bool XMLElement::AddChild(XMLElement* child) {
    if (child == nullptr || child->fpParent != nullptr) return false;
    for (const XMLElement* e = this; e != nullptr; e = e->fpParent)
        if (e == child) return false;
    try {
        // Make room first: the list grows geometrically, and the child is
        // not taken when it cannot.
        if (fvChildren.size() == fvChildren.capacity())
            fvChildren.reserve(fvChildren.empty() ? 4 : 2 * fvChildren.size());
    } catch (const std::exception&) {
        return false;
    }
    fvChildren.emplace_back(child);
    child->fpParent = this;
    return true;
}

bool XMLElement::AddChild(std::unique_ptr<XMLElement> child) {
    if (!AddChild(child.get())) return false;
    child.release();
    return true;
}

void XMLElement::SetText(const std::string& text) {
    if (text.empty() && !fpExtra) return;
    GetExtra().fText = text;
}

const std::string& XMLElement::GetText() const {
    return fpExtra ? fpExtra->fText : kNoText;
}

const std::string* XMLElement::FindAttribute(const std::string& name) const {
    const long at = Position(name);
    return at >= 0 ? &fvAttributes[static_cast<std::size_t>(at)].second : nullptr;
}

XMLElement* XMLElement::GetChild(int i) const {
    if (i < 0 || i >= GetNChildren()) return nullptr;
    return fvChildren[Ix(i)].get();
}

XMLElement* XMLElement::FindChild(const std::string& tag) const {
    for (const auto& c : fvChildren)
        if (c->fTag == tag) return c.get();
    return nullptr;
}

bool XMLElement::Write(std::ostream& out, bool pretty) const {
    XMLWriter writer(out, pretty);
    return writer.Element(*this) && writer.Finish();
}

std::string XMLElement::ToString(bool pretty) const {
    std::string text;
    Layout layout(pretty, text);
    LayTree(layout, *this, [] { return true; });
    layout.End();
    return text;
}

std::string XMLElement::FormatNumber(double value, bool alt) {
    if (MCCommon_850::MCMV::IsMissing(value) || std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    char buf[64];
    const auto res =
        alt ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific)
            : std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

class XMLWriter::Impl {
public:
    Impl(std::ostream& out, bool pretty) : fOut(out), fLayout(pretty, fBuf) {
        fBuf.reserve(kPiece + kPiece / 4);
    }

    // Runs step unless a step failed before; true when all went well.
    template <class Step>
    bool Do(Step step) {
        if (!fbOK) return false;
        try {
            fbOK = step() && Pass(false);
        } catch (const std::exception&) {
            fbOK = false;  // memory, or a stream that throws on failure
        }
        return fbOK;
    }

    // Hands the text to the stream once there is a piece of it, or all of
    // it at the end.
    bool Pass(bool all) {
        if (!all && fBuf.size() < kPiece) return true;
        fOut.write(fBuf.data(), static_cast<std::streamsize>(fBuf.size()));
        fBuf.clear();
        return !fOut.fail();
    }

    std::ostream& fOut;
    std::string fBuf;
    Layout fLayout;
    // The text of the element opened last, until its content begins.
    std::string fOpenText;
    bool fbOK = true;
};

XMLWriter::XMLWriter(std::ostream& out, bool pretty) {
    try {
        fpImpl = std::make_unique<Impl>(out, pretty);
    } catch (const std::exception&) {
        // Every call then fails.
    }
}

XMLWriter::~XMLWriter() = default;

bool XMLWriter::Open(const XMLElement& e) {
    if (!fpImpl) return false;
    Impl& w = *fpImpl;
    return w.Do([&] {
        // The open element's text goes out before it is replaced.
        w.fLayout.BeginContent();
        w.fOpenText = e.GetText();
        w.fLayout.Open(e, &w.fOpenText);
        return true;
    });
}

bool XMLWriter::Element(const XMLElement& e) {
    if (!fpImpl) return false;
    Impl& w = *fpImpl;
    return w.Do([&] { return LayTree(w.fLayout, e, [&] { return w.Pass(false); }); });
}

bool XMLWriter::Close() {
    if (!fpImpl) return false;
    Impl& w = *fpImpl;
    return w.Do([&] {
        if (!w.fLayout.AnyOpen()) return false;
        w.fLayout.Close();
        return true;
    });
}

bool XMLWriter::Finish() {
    if (!fpImpl) return false;
    Impl& w = *fpImpl;
    return w.Do([&] {
        while (w.fLayout.AnyOpen()) w.fLayout.Close();
        w.fLayout.End();
        return w.Pass(true);
    });
}

}  // namespace MCXML_850
