// Arithmetic and unit conversion typed into the search field, answered as German
// number text ("2+3*4" → "14", "5 km in m" → "5000 m"). Stateless; tables built once.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varek::Calculator {

// The text to show for a query that is arithmetic or a conversion, else nothing.
std::optional<std::string> evaluate(std::string_view query);
// "NUMBER UNIT in UNIT" (also to, nach, zu, =) within one dimension, else nothing.
std::optional<std::string> convertUnits(std::string_view text);
// German decimal text: comma, grouping from 10 000 on, at most 6 fraction digits
// (12 for magnitudes below 0.0001).
std::string format(double value);

}  // namespace varek::Calculator
