#pragma once
// The text operations every page reader is built from. Text is UTF-16 code units; positions
// are 1-based and 0 means "not found". All functions are pure and reentrant, run in time
// linear in their input and never fail on any input.
#include <cstddef>
#include <string>
#include <string_view>

namespace mirava::analysis {

// Text after the last marker used (middle if given, else start, else the beginning) up to the
// first occurrence of `end` that follows it; to the end of the source when `end` is empty.
// Empty text when a non-empty marker is missing. Only first occurrences are used.
std::u16string ExtractBetween(std::u16string_view source, std::u16string_view start,
                              std::u16string_view middle, std::u16string_view end);

// The same over UTF-8 bytes, for readers that search a page before decoding it. Markers are
// valid UTF-8, so the result decodes to what the UTF-16 version gives on the decoded page.
std::string_view ExtractBetween(std::string_view source, std::string_view start,
                                std::string_view middle, std::string_view end);

// Position of the last occurrence of `needle` lying wholly within the first `limit` units of
// `text` (a code 0 ends the text); 0 when there is none or when limit <= 0. Occurrences may
// overlap. The byte versions below count positions and limits in bytes.
std::size_t LastPosBefore(std::u16string_view needle, std::u16string_view text, long long limit);
std::size_t LastPosBefore(std::string_view needle, std::string_view text, long long limit);

// Position of the first occurrence of `needle` starting at `from` or later; 0 when there is
// none, when `needle` is empty, or when `from` is below 1 or beyond the text.
std::size_t Pos(std::u16string_view needle, std::u16string_view text, std::size_t from = 1);
std::size_t Pos(std::string_view needle, std::string_view text, std::size_t from = 1);

// Every non-overlapping occurrence of `old_text`, scanning from the left, replaced by `new_text`.
std::u16string ReplaceAll(std::u16string_view text, std::u16string_view old_text,
                          std::u16string_view new_text);

// One left-to-right pass decoding numeric references and amp, lt, laquo, gt, nbsp, quot, raquo.
std::u16string DecodeHtmlEntities(std::u16string_view text);

// Entities decoded, a few leftover references replaced, line breaks dropped and tags removed;
// a single line of plain text, not trimmed.
std::u16string HtmlToText(std::u16string_view html);

// Every double quote replaced by an apostrophe.
std::u16string SanitizeQuotes(std::u16string_view text);

// Every high surrogate dropped together with the unit after it (a trailing one stays).
std::u16string RemoveSurrogatePairs(std::u16string_view text);

// Percent-decoding up to the first "&": each unit is cut to its low 8 bits, "+" is a space, "%"
// takes the next two units as hex; UTF-8 when the bytes are well-formed, else Windows-1251.
std::u16string PercentDecode(std::u16string_view text);

}  // namespace mirava::analysis
