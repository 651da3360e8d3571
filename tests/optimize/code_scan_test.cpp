// The scanning pieces the style-sheet and script tokenizers share: where runs and comments end, and
// what the writer leaves in the output, at the boundaries of the bulk paths.
#include "optimize/code_scan.h"

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

struct RunCase {
  const char* name;
  std::string_view in;
  std::size_t from, end;
};

constexpr code::ByteSet kLetters = byte_set("abcdefghijklmnopqrstuvwxyz");

// Runs of every length around the eight-byte step, cut by another byte or by the end.
const RunCase kRuns[] = {
    {"empty", "", 0, 0},
    {"at_end", "ab", 2, 2},
    {"none", "1abc", 0, 0},
    {"to_end_short", "abc", 0, 3},
    {"to_end_eight", "abcdefgh", 0, 8},
    {"to_end_nine", "abcdefghi", 0, 9},
    {"stops_at_eighth", "abcdefg1zzzzzzzz", 0, 7},
    {"stops_at_ninth", "abcdefgh1zzzzzzz", 0, 8},
    {"stops_after_sixteen", "abcdefghabcdefgh.", 0, 16},
    {"from_middle", "12abcdefghijklm3", 2, 15},
    {"high_byte_stops", "ab\xC3\xA9", 0, 2},
};
class SkipRun : public testing::TestWithParam<RunCase> {};
TEST_P(SkipRun, EndsAtTheFirstByteOutsideTheSet) {
  const std::vector<unsigned char> in = to_bytes(GetParam().in);
  EXPECT_EQ(code::skip_run(in, GetParam().from, kLetters), GetParam().end);
}
INSTANTIATE_TEST_SUITE_P(CodeScan, SkipRun, testing::ValuesIn(kRuns),
                         [](const auto& p) { return std::string(p.param.name); });

// The vector path and the table must agree on every byte: each byte value is placed at every
// offset of a run longer than two vectors, and the run must end exactly there when the byte is
// outside the class as it was first written out.
struct ClassCase {
  const char* name;
  code::ByteSet expected;
  std::size_t (*skip)(std::span<const unsigned char>, std::size_t);
};
constexpr code::RunClass kScriptName{true, true, false, "$_"};
constexpr code::RunClass kSheetName{true, true, true, std::string_view("-_\0", 3)};
const ClassCase kClasses[] = {
    {"script_name", byte_set("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz$_"),
     code::skip_class<kScriptName>},
    {"sheet_name",
     [] {
       code::ByteSet t = code::with_high_bytes(
           "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_");
       t[0] = true;
       return t;
     }(),
     code::skip_class<kSheetName>},
};
class SkipClass : public testing::TestWithParam<ClassCase> {};
TEST_P(SkipClass, StopsAtEveryByteOutsideTheClassAtEveryOffset) {
  const ClassCase& c = GetParam();
  for (unsigned b = 0; b < 256; ++b)
    for (std::size_t at = 0; at < 40; ++at) {
      std::vector<unsigned char> in(40, 'a');
      in[at] = static_cast<unsigned char>(b);
      ASSERT_EQ(c.skip(in, 0), c.expected[b] ? in.size() : at) << "byte " << b << " at " << at;
    }
}
INSTANTIATE_TEST_SUITE_P(CodeScan, SkipClass, testing::ValuesIn(kClasses),
                         [](const auto& p) { return std::string(p.param.name); });

// in.size() + 1 stands for a comment left open.
const RunCase kComments[] = {
    {"empty_comment", "/**/x", 0, 4},  {"slash_right_after_open", "/*/ */", 0, 6},
    {"stars", "/***/", 0, 5},          {"open", "/* a", 0, 5},
    {"star_last", "/* a*", 0, 6},      {"open_star_only", "/*", 0, 3},
    {"after_text", "a/* b */c", 1, 8},
};
class BlockCommentEnd : public testing::TestWithParam<RunCase> {};
TEST_P(BlockCommentEnd, PastTheClosingStarSlash) {
  const std::vector<unsigned char> in = to_bytes(GetParam().in);
  EXPECT_EQ(code::block_comment_end(in, GetParam().from), GetParam().end);
}
INSTANTIATE_TEST_SUITE_P(CodeScan, BlockCommentEnd, testing::ValuesIn(kComments),
                         [](const auto& p) { return std::string(p.param.name); });

// The writer copies short pieces sixteen bytes at a time: what it reports written must be exactly
// the pieces, and nothing may land past the room the input's size gives, however close to the end.
TEST(CodeWriter, ShortCopiesStayInsideTheRoom) {
  for (std::size_t size = 0; size <= 40; ++size) {
    std::string text;
    for (std::size_t k = 0; k < size; ++k) text += static_cast<char>('a' + k % 26);
    const std::vector<unsigned char> in = to_bytes(text);
    std::vector<unsigned char> out(size + 16, '#');
    code::CodeWriter w(in, out.data());
    std::string expected;
    // Three bytes of every six, a space for the other three, then the rest: the output trails
    // the input, as a minifier's does.
    std::size_t k = 0;
    for (; size - k >= 6; k += 6) {
      w.copy(k, k + 3);
      w.put(' ');
      expected += text.substr(k, 3) + ' ';
    }
    w.copy(k, size);
    expected += text.substr(k);
    ASSERT_EQ(w.size(), expected.size()) << size;
    EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(w.size())),
              expected)
        << size;
    EXPECT_EQ(std::string(out.begin() + static_cast<std::ptrdiff_t>(size), out.end()),
              std::string(16, '#'))
        << "written past the room at size " << size;
  }
}

}  // namespace
