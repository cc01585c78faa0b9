#pragma once
#include <string>
#include <string_view>

namespace corvane::fuzz {

// Empty when doc is well-formed XML, else what is wrong and where.
std::string check_xml(std::string_view doc);

}  // namespace corvane::fuzz
