#pragma once

#include <string>

namespace halyard {

// Reads the catalog's OS declaration: the catalog-level "OS" attribute, else the last
// catalog-level "OSAttr", else the first non-blank member "OSAttr".
std::string ParseCatFile(const std::string& catFile);

// An attribute name with every blank removed, upper-cased by the user's locale.
std::string NormaliseAttributeName(const std::string& name);

} // namespace halyard
