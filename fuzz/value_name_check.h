#pragma once
// Get_Value's cell names against the rule that hosts and peers rely on:
// std::regex_search(name, std::regex("battery_(\\d+)_value")) with the
// ECMAScript grammar: the leftmost occurrence anywhere in the name, ASCII
// digits, leading zeros allowed, then the number below the cell count.

#include <string>

namespace halvex::fuzz {

// Asks a Halvex30 whose record holds a distinct value in every cell for
// `name` (any bytes, NUL included), and compares the answer, and the digits
// the device's matcher finds, with the regular expression's. Returns the
// difference, or empty.
std::string CheckValueName(const std::string& name);

}  // namespace halvex::fuzz
