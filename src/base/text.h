#pragma once
// Text routines over byte strings. Positions and field numbers count from 1.

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrel {

// True when every character is a space or a tab; the empty text is blank.
bool IsBlank(std::string_view text);

// Result code of GetToken.
enum class TokenCode {
  FollowedBySeparator = 0,  // field n was followed by a separator
  Last = 1,                 // field n is the last field and runs to the end
  Missing = 2,              // fewer than n fields: the field is empty
};

// Field n (from 1) of the text; fields are separated by the separator text (exact case).
// For n below 1 the field is empty and the code FollowedBySeparator.
std::string GetToken(std::string_view text, int n, std::string_view separator,
                     TokenCode* code = nullptr);
// Removes field n together with the separator before it (for field 1, the one after it).
std::string DeleteToken(std::string_view text, int n, std::string_view separator);
// Number of separator occurrences + 1; 0 for a blank text.
int TokenCount(std::string_view text, std::string_view separator);
// Position (from 1) of the item among the list's fields, compared trimmed and without
// regard to case; -1 if absent; 0 if the item or the separator is blank.
int ListIndex(std::string_view list, std::string_view item, std::string_view separator);
// Appends the item (preceded by the separator when the list is not blank) unless the
// item is blank or already in the list.
std::string ListAdd(std::string_view list, std::string_view item, std::string_view separator);
// Replaces every occurrence of old_text, scanning on after each inserted text.
std::string ReplaceAll(std::string_view text, std::string_view old_text, std::string_view new_text,
                       bool ignore_case = false);
std::string RemoveQuotes(std::string_view text);
std::string RepeatText(std::string_view text, int n);

// Small helpers used throughout.
std::string Trim(std::string_view text);  // strips spaces, tabs, CR and LF at both ends
std::string UpperCase(std::string_view text);  // ASCII letters only
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);  // ASCII case-insensitive equality
// Upper-case hexadecimal with at least `digits` digits ("0060DD16").
std::string IntToHex(std::uint64_t value, int digits);

}  // namespace ostrel
