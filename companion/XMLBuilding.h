#pragma once
// Helpers for code that builds XML element trees: each throws
// std::bad_alloc when memory runs out, so that one catch at a public
// operation frees whatever was half made. Internal to the library.
#include <memory>
#include <new>
#include <string>

#include "companion/MCXMLElement.h"

namespace MCXML_850 {
namespace Building {

using ElemPtr = std::unique_ptr<XMLElement>;

// Takes ownership of a newly created element; throws for null.
inline ElemPtr Checked(XMLElement* e) {
    if (e == nullptr) throw std::bad_alloc();
    return ElemPtr(e);
}

inline ElemPtr Make(const std::string& tag) {
    return Checked(XMLElement::Create(tag));
}

// Hands child to parent; throws when the parent refuses it.
inline void Adopt(XMLElement& parent, ElemPtr child) {
    if (!parent.AddChild(child.get())) throw std::bad_alloc();
    child.release();
}

}  // namespace Building
}  // namespace MCXML_850
