#pragma once
// Rows of a GoogleTest table are named by their `name`: in the test's name
// (INSTANTIATE_TEST_SUITE_P(..., test::CaseName)) and in a failure message
// (`using test::PrintTo;` beside the rows, so GoogleTest finds it).

#include <ostream>
#include <string>

namespace lumopet::test {

inline constexpr auto CaseName = [](const auto& info) { return std::string(info.param.name); };

template <class Case>
    requires requires(const Case& c) { std::string(c.name); }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

}  // namespace lumopet::test
