#pragma once

// SLib: free helpers on byte strings. Characters are single bytes; case changes use the C
// library's toupper/tolower on each byte. The number tests look at a text only up to its
// first zero byte. Every helper is reentrant except the process-wide minimum of decimals,
// which STR_ChangeMinDecimalPlaces changes for every thread at once.

#include <atomic>
#include <string>
#include <vector>

namespace SLib {

// Least number of decimals that the trimming number-to-text conversions keep (initially 2).
extern std::atomic<int> SLIB_MIN_DECIMAL_PLACES;
void STR_ChangeMinDecimalPlaces(int n);
void STR_ResetMinDecimalPlaces();

// ---- Tests and editing ----
bool STR_StartsWith(const std::string& s, const std::string& prefix);
bool STR_EndsWith(const std::string& s, const std::string& suffix);
bool STR_Contains(const std::string& s, const std::string& part);
// True when every character of s is c (an empty text too).
bool STR_IsAllOf(const std::string& s, char c);
// Compares a and b from their starts, passing over the characters of `skip` in either
// text; true when either runs out with every compared pair equal. Passing over skipped
// characters to the end of a while b still has a character that is not skipped is false.
bool STR_MatchStart(const std::string& a, const std::string& b, const std::string& skip);
// s without the leading and trailing characters that occur in `set`.
std::string STR_Trim(const std::string& s, const std::string& set);
std::string STR_TrimSpaces(const std::string& s);
std::string STR_RemoveChars(const std::string& s, const std::string& set);
// s padded with spaces on the right to `width`, or cut to its first `width` characters.
std::string STR_FixedWidth(const std::string& s, size_t width);
// s with "0" in front up to `width` characters.
std::string STR_PadZeros(const std::string& s, size_t width);
void STR_ToUpper(std::string& s);
void STR_ToLower(std::string& s);
// Replaces the first occurrence of `from` in s (in place) and returns a copy of the result.
// An empty `from` changes nothing.
std::string STR_ReplaceFirst(std::string& s, const std::string& from, const std::string& to);
// Replaces every occurrence, left to right, resuming after each inserted `to`.
void STR_ReplaceAll(std::string& s, const std::string& from, const std::string& to);
std::string STR_DoubleBackSlashes(const std::string& s);
// Collapses each pair of backslashes and each pair of slashes into one, left to right.
std::string STR_RemoveDoubleSlashes(const std::string& s);
// The inside of s when it is enclosed in a matching pair of double or single quotes.
std::string STR_RemoveQuotes(const std::string& s);
// s enclosed in double quotes (single quotes around it are exchanged for double ones).
std::string STR_AddQuotes(const std::string& s);
// s enclosed in single quotes (double quotes around it are exchanged for single ones).
std::string STR_AddSingleQuotes(const std::string& s);
bool STR_IsQuoted(const std::string& s);
// Console colours are not used by a headless service; kept as a no-op for callers.
void ConsoleColor(int color);

// ---- Lists and lines ----
// Every item followed by sep; with dropLast the final separator is left out.
std::string STR_JoinList(const std::vector<std::string>& list, const std::string& sep, bool dropLast);
std::string STR_JoinList(const std::vector<std::string>& list, char sep, bool dropLast);
// The fields between delimiters (empty ones included) and the text after the last delimiter
// when it is not empty. An empty s gives an empty list.
std::vector<std::string> STR_SplitByDelimiter(const std::string& s, char delimiter);
// As STR_SplitByDelimiter on line feeds, with carriage returns dropped.
std::vector<std::string> STR_SplitLines(const std::string& s);
// Position of the first occurrence of each item in s, -1 when absent.
std::vector<int> STR_LocateMap(const std::vector<std::string>& list, const std::string& s);
// Line n (from 0) of s. eol must be "", "\n", "\r" or "\r\n", otherwise the result is empty;
// an empty eol selects the single character at position n.
std::string STR_GetTextLine(size_t n, const std::string& s, const std::string& eol);
// s with line n replaced by text (same eol rules; s unchanged for another eol or a line
// past the end). With an empty eol the character at n is replaced; n past the text throws
// std::out_of_range.
std::string STR_ReplaceTextLine(size_t n, const std::string& s, const std::string& text,
                                const std::string& eol);
// The lines of s that do not begin with prefix, each with its own line ending.
std::string STR_RemoveLines(const std::string& s, const std::string& prefix);
// The value of the digits ending s and, in rest, the text before them; -1 (rest = s) when
// s does not end in a digit. A run too large for an int throws std::out_of_range.
int STR_GetEndDigits(const std::string& s, std::string& rest);

// ---- Number tests ----
// Optional sign, then digits with at most one "."; "+", "-", "." and "" are refused.
bool STR_IsNum(const std::string& s);
// As above, but a lone "+", "-" or "." is accepted; isFloat tells whether a "." was met.
bool STR_IsNum(const std::string& s, bool& isFloat);
// Optional sign, then at least one digit and nothing else.
bool STR_IsInt(const std::string& s);

// ---- Number to text ----
// The trimming conversions never change the number beyond the precision of its type: the
// trimmed text is used only when it agrees with the untrimmed one to maxDigits significant
// digits (15 for double, 6 for float), and an exponent is always kept.
std::string STR_FromNum(int value);
std::string STR_FromNum(long value);
std::string STR_FromNum(unsigned long value);
// Fixed notation with exactly `decimals` decimals (values too wide for it keep an exponent).
std::string STR_FromNum(double value, int decimals);
std::string STR_FromNum(float value, int decimals);
// Shortest round-trip text, trimmed of representation noise.
std::string STR_FromNum(double value);
std::string STR_FromNumO(double value);
std::string STR_FromNum(float value);
std::string STR_FromNum(double value, int minPlaces, int decimals, int maxDigits);
std::string STR_FromNum(float value, int minPlaces, int decimals, int maxDigits);
// Rounds a decimal text half up to `places` decimals, in place; an exponent is kept.
void STR_DecimalRound(std::string& s, int places);
// Removes trailing decimal zeros (and a "." left at the end) of the mantissa, in place.
void STR_TrimDecimalZeros(std::string& s);
// Removes leading zeros, and trailing decimal zeros of the mantissa; with leadingZero a
// result starting with "." gets a "0" in front. A text of zeros only becomes empty.
void STR_NumTrimZeros(std::string& s, bool leadingZero);
// Inserts a "," before every third digit leftwards from the "." (or the end), in place.
void STR_NumCommaSep(std::string& s);

namespace Impl {
// Drops the noise at the end of a shortest-form number text: a run of zeros, or a run of
// more than two nines (rounded up), keeping at least minPlaces decimals. When the text has
// maxDigits decimals or more, its last digit counts as part of the run.
void PrecisionTrim(std::string& s, int minPlaces, int maxDigits);
}  // namespace Impl

}  // namespace SLib
