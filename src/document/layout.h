// The exchange document's fixed pieces: every literal the writer emits, with
// its indentation, and the element names both conversions use.
//
// The document is line-oriented and written from these pieces alone; values
// go between them. Titles are GBK bytes, written as escapes so that no editor
// or compiler can re-encode them.
#ifndef QUORVEL_DOCUMENT_LAYOUT_H
#define QUORVEL_DOCUMENT_LAYOUT_H

#include <array>
#include <cstdint>
#include <string_view>

namespace quorvel::document {

using namespace std::string_view_literals;

// Header. Two spaces before `encoding` are part of the format.
inline constexpr auto kDeclarationLine = "<?xml version=\"1.0\"  encoding=\"GBK\"?>"sv;
inline constexpr auto kDoctypeBegin = "<!-- DOCTYPE RZ00"sv;  // + code
inline constexpr auto kDoctypeMiddle = " SYSTEM \"RZ00"sv;    // + code
inline constexpr auto kDoctypeEnd = ".dtd\" -->"sv;
inline constexpr auto kBodyOpenLine = "<body>"sv;
inline constexpr auto kHeadOpenLine = " <head>"sv;
inline constexpr auto kCodeBegin = "  <code>RZ00"sv;  // + code
inline constexpr auto kCodeEnd = "</code>"sv;
inline constexpr auto kTitleBegin = "  <title>"sv;
inline constexpr auto kTitleEnd = "</title>"sv;
inline constexpr auto kNsrBegin = "  <nsr>"sv;
inline constexpr auto kNsrEnd = "</nsr>"sv;
inline constexpr auto kQymcBegin = "  <qymc>"sv;
inline constexpr auto kQymcEnd = "</qymc>"sv;
inline constexpr auto kScrqBegin = "  <scrq>"sv;
inline constexpr auto kScrqEnd = "</scrq>"sv;
inline constexpr auto kRowsBegin = "  <rows>"sv;
inline constexpr auto kRowsEnd = "</rows>"sv;
inline constexpr auto kHeadCloseLine = " </head>"sv;

// Body.
inline constexpr auto kDataOpenLine = " <data>"sv;
inline constexpr auto kRowBegin = "  <row id=\""sv;  // + id
inline constexpr auto kRowEnd = "\">"sv;
inline constexpr auto kRowCloseLine = "  </row>"sv;
inline constexpr auto kDataCloseLine = " </data>"sv;
inline constexpr auto kBodyCloseLine = "</body>"sv;

// An element line: kElementIndent + "<" + name + ">" + value + "</" + name + ">".
inline constexpr auto kElementIndent = "   "sv;

// Element names.
inline constexpr auto kNsr = "nsr"sv;
inline constexpr auto kRows = "rows"sv;
inline constexpr std::array<std::string_view, 10> kFullRowElements = {
    "dm"sv, "hm"sv, "gf"sv, "xf"sv, "kr"sv, "je"sv, "se"sv, "mw"sv, "sy"sv, "bb"sv};
inline constexpr std::array<std::string_view, 8> kShortRowElements = {
    "dm"sv, "hm"sv, "gf"sv, "xf"sv, "kr"sv, "je"sv, "se"sv, "rq"sv};
// The eleven values of a returned row, in the order the reader passes them on.
inline constexpr std::array<std::string_view, 11> kResultRowElements = {
    "dm"sv, "hm"sv, "gf"sv, "xf"sv, "kr"sv, "je"sv, "se"sv, "mw"sv, "sy"sv, "jg"sv, "rq"sv};

// Lines the reader of a returned document looks for.
inline constexpr auto kDataMarker = "<data>"sv;
inline constexpr auto kRowOpenMarker = "<row"sv;  // "<rows>" holds it too
inline constexpr auto kRowCloseMarker = "</row>"sv;

// The title of a document type, as GBK bytes: 100 and 102 have their own, any
// other code gets the "unknown data file" title.
std::string_view TitleForDocumentType(std::int32_t code);

}  // namespace quorvel::document

#endif  // QUORVEL_DOCUMENT_LAYOUT_H
