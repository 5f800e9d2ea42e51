#include "companion/MCXMLElement.h"

#include <charconv>
#include <cmath>
#include <exception>
#include <new>
#include <pugixml.hpp>

#include "companion/MCIndex.h"
#include "companion/MCMV.h"

namespace MCXML_850 {

using MCMath_850::Ix;

namespace {

struct StringWriter : pugi::xml_writer {
    std::string fText;
    void write(const void* data, size_t size) override {
        fText.append(static_cast<const char*>(data), size);
    }
};

void AppendTo(pugi::xml_node parent, const XMLElement& e) {
    pugi::xml_node node = parent.append_child(e.GetTag().c_str());
    for (const auto& a : e.GetAttributes())
        node.append_attribute(a.first.c_str()).set_value(a.second.c_str());
    if (!e.GetText().empty()) node.append_child(pugi::node_pcdata).set_value(e.GetText().c_str());
    for (int i = 0; i < e.GetNChildren(); ++i) AppendTo(node, *e.GetChild(i));
}

}  // namespace

XMLElement* XMLElement::Create(const std::string& tag) {
    try {
        return new XMLElement(tag);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

XMLElement::~XMLElement() = default;

void XMLElement::AddAttribute(const std::string& name, const std::string& value) {
    for (auto& a : fvAttributes) {
        if (a.first == name) {
            a.second = value;
            return;
        }
    }
    fvAttributes.emplace_back(name, value);
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
        fvChildren.reserve(fvChildren.size() + 1);
    } catch (const std::exception&) {
        return false;  // not taken: the caller keeps the child
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

const std::string* XMLElement::FindAttribute(const std::string& name) const {
    for (const auto& a : fvAttributes)
        if (a.first == name) return &a.second;
    return nullptr;
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

std::string XMLElement::ToString(bool pretty) const {
    pugi::xml_document doc;
    AppendTo(doc, *this);
    StringWriter writer;
    const unsigned flags =
        pugi::format_no_declaration | (pretty ? pugi::format_indent : pugi::format_raw);
    doc.save(writer, "  ", flags, pugi::encoding_utf8);
    return writer.fText;
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

}  // namespace MCXML_850
