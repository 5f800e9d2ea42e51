#pragma once
// The escaping of text written into XML documents (see the comment of
// XMLElement for the rules). Internal to the library.
#include <cstddef>
#include <string>

namespace MCXML_850 {
namespace XMLText {

// Appends the n bytes at s to out as the content of a double-quoted
// attribute value.
void AppendAttribute(std::string& out, const char* s, std::size_t n);
// Appends them as the character content of an element.
void AppendContent(std::string& out, const char* s, std::size_t n);

}  // namespace XMLText
}  // namespace MCXML_850
