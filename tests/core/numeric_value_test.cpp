#include "core/settings_files/numeric_value.h"

#include <QString>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

struct NumberCase {
    const char* name;
    const char* text;
    std::int16_t rounded;
};

class NumericValueTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumericValueTest, ReadsTheNumberAtTheStartAndRoundsHalvesToEven) {
    EXPECT_EQ(RoundToInt16(NumericValue(QString::fromUtf8(GetParam().text))), GetParam().rounded);
}

INSTANTIATE_TEST_SUITE_P(
    Values, NumericValueTest,
    ::testing::Values(NumberCase{"one", "1", 1}, NumberCase{"blank_then_one", " 1", 1},
                      NumberCase{"one_then_letter", "1x", 1}, NumberCase{"leading_zero", "01", 1},
                      NumberCase{"decimal", "1.0", 1}, NumberCase{"empty", "", 0},
                      NumberCase{"letters", "abc", 0}, NumberCase{"blanks_inside", "1 2", 12},
                      NumberCase{"tab_and_sign", "\t-3", -3}, NumberCase{"plus_sign", "+7", 7},
                      NumberCase{"half_down_to_even", "2.5", 2}, NumberCase{"half_up_to_even", "3.5", 4},
                      NumberCase{"point_five", "0.5", 0}, NumberCase{"exponent", "1e2", 100},
                      NumberCase{"exponent_without_digits", "1e", 1}, NumberCase{"second_point_stops", "1.5.5", 2},
                      NumberCase{"hex", "&H10", 16}, NumberCase{"hex_sixteen_bit", "&HFFFF", -1},
                      NumberCase{"octal", "&O17", 15}, NumberCase{"ampersand_alone", "&", 0},
                      NumberCase{"too_large_clamps", "99999", 32767}, NumberCase{"too_small_clamps", "-99999", -32768},
                      NumberCase{"huge_exponent", "1e999", 32767}, NumberCase{"tiny_exponent", "1e-999", 0},
                      NumberCase{"fullwidth_digit_is_no_number", "１", 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet
