// The exchange document's fixed pieces: every literal the writer emits, with
// its indentation, and the element names both conversions use.
//
// The document is line-oriented and written from these pieces alone; values
// go between them. Titles are GBK bytes, written as escapes so that no editor
// or compiler can re-encode them.
#ifndef QUORVEL_DOCUMENT_LAYOUT_H
#define QUORVEL_DOCUMENT_LAYOUT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
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

// An element line is its opening piece (indentation, "<" + name + ">"), the
// value, and its closing piece ("</" + name + ">").
struct ElementTags {
  std::string_view open;
  std::string_view close;
  // The element's name ("dm" for "</dm>").
  constexpr std::string_view name() const { return close.substr(2, close.size() - 3); }
};
inline constexpr ElementTags kDm = {"   <dm>"sv, "</dm>"sv};
inline constexpr ElementTags kHm = {"   <hm>"sv, "</hm>"sv};
inline constexpr ElementTags kGf = {"   <gf>"sv, "</gf>"sv};
inline constexpr ElementTags kXf = {"   <xf>"sv, "</xf>"sv};
inline constexpr ElementTags kKr = {"   <kr>"sv, "</kr>"sv};
inline constexpr ElementTags kJe = {"   <je>"sv, "</je>"sv};
inline constexpr ElementTags kSe = {"   <se>"sv, "</se>"sv};
inline constexpr ElementTags kMw = {"   <mw>"sv, "</mw>"sv};
inline constexpr ElementTags kSy = {"   <sy>"sv, "</sy>"sv};
inline constexpr ElementTags kBb = {"   <bb>"sv, "</bb>"sv};
inline constexpr ElementTags kRq = {"   <rq>"sv, "</rq>"sv};
// The element lines of the two record kinds, in order.
inline constexpr std::array<ElementTags, 10> kFullRowElements = {kDm, kHm, kGf, kXf, kKr,
                                                                 kJe, kSe, kMw, kSy, kBb};
inline constexpr std::array<ElementTags, 8> kShortRowElements = {kDm, kHm, kGf, kXf,
                                                                 kKr, kJe, kSe, kRq};

// The literal bytes between the values of a row, so that a row is written as
// joint, value, joint, ...: each joint is the end of one line (the row
// opening line's `">`, or an element's closing tag) with its CR LF and the
// start of the next line. Made from the pieces above at compile time.
struct Joint {
  char bytes[32] = {};
  std::size_t size = 0;
  constexpr std::string_view view() const { return {bytes, size}; }
};
constexpr Joint Join(std::initializer_list<std::string_view> parts) {
  Joint joint;
  for (const std::string_view part : parts) {
    for (const char c : part) joint.bytes[joint.size++] = c;
  }
  return joint;
}
inline constexpr auto kLineBreak = "\r\n"sv;
// The joints of a row of `N` elements: after the id, between the values, and
// after the last value up to the end of the row closing line.
template <std::size_t N>
constexpr std::array<Joint, N + 1> RowJoints(const std::array<ElementTags, N>& elements) {
  std::array<Joint, N + 1> joints{};
  joints[0] = Join({kRowEnd, kLineBreak, elements[0].open});
  for (std::size_t k = 1; k < N; ++k) {
    joints[k] = Join({elements[k - 1].close, kLineBreak, elements[k].open});
  }
  joints[N] = Join({elements[N - 1].close, kLineBreak, kRowCloseLine, kLineBreak});
  return joints;
}
inline constexpr auto kFullRowJoints = RowJoints(kFullRowElements);
inline constexpr auto kShortRowJoints = RowJoints(kShortRowElements);
// A row without elements: after the id, the rest of the row.
inline constexpr Joint kEmptyRowJoint = Join({kRowEnd, kLineBreak, kRowCloseLine, kLineBreak});

// The header's values given by the caller, as elements (for their names).
inline constexpr ElementTags kNsrElement = {kNsrBegin, kNsrEnd};
inline constexpr ElementTags kQymcElement = {kQymcBegin, kQymcEnd};

// Element names the reader looks for.
inline constexpr auto kNsr = "nsr"sv;
inline constexpr auto kRows = "rows"sv;
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
