// Runs the markup optimizer on arbitrary bytes. Byte 0 picks the mode: bit 0 passes PHP blocks
// through, bit 1 hands over a progress sink, bit 2 picks the safe profile, bit 3 has it minify
// inline style sheets and scripts; the rest is the page.
// Checked: the output is never longer than the page, the page is not touched, a second call gives
// the same bytes, a sink does not change them, and the ticks a sink receives stay in range, in
// order and few.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "invariant.h"
#include "optimize/markup.h"
#include "optimize/progress_sink.h"

namespace {

// A bar is drawn for at most about a hundred iterations, plus the final tick after the loop.
constexpr long kMaxTicks = 100 + 2;

// Checks each tick as it comes, so a crash report points at the tick that went wrong.
struct CheckingSink final : ProgressSink {
  std::int64_t size = 0;
  long ticks = 0;
  long finishes = 0;
  std::int64_t last_done = -1;

  void tick(std::int64_t total, std::int64_t done) override {
    check(finishes == 0, "no tick after finish()");
    check(total == size, "the total is the page size");
    check(done >= 0 && done <= total, "done lies within 0..total");
    check(ticks != 0 || done == 0, "the first tick comes before any byte is consumed");
    check(done >= last_done, "done never decreases");
    check(++ticks <= kMaxTicks, "at most about a hundred ticks");
    last_done = done;
  }
  void finish() override { check(++finishes == 1, "finish() comes once"); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool php_blocks = (data[0] & 1) != 0;
  const bool with_sink = (data[0] & 2) != 0;
  const bool safe = (data[0] & 4) != 0;
  const bool inline_code = (data[0] & 8) != 0;
  const auto optimize = [safe, inline_code](std::span<const unsigned char> in, bool php,
                                            ProgressSink* sink, Bytes reuse) {
    return safe ? optimize_markup_safe(in, php, sink, std::move(reuse),
                                       InlineCode{inline_code, inline_code})
                : optimize_markup(in, php, sink, std::move(reuse));
  };
  // libFuzzer hands over an exact-size heap copy, so a read past the page's end is caught.
  const std::span<const unsigned char> page(data + 1, size - 1);
  const std::vector<unsigned char> before(page.begin(), page.end());

  CheckingSink sink;
  sink.size = static_cast<std::int64_t>(page.size());
  const std::optional<Bytes> out = optimize(page, php_blocks, with_sink ? &sink : nullptr, {});
  check(out.has_value(), "a page this small always gets its output buffer");
  check(out->size() <= page.size(), "never longer than the page");
  check(std::equal(before.begin(), before.end(), page.begin()), "the page is not written to");
  if (with_sink) {
    check(sink.finishes == 1, "finish() is called once");
    check(sink.ticks >= 1, "the final tick always comes");
    check(sink.last_done == sink.size, "the final tick has the whole page done");
  }

  // Without a sink when the first run had one, and again without one otherwise, in a reused
  // buffer holding other bytes: either way the output must not change.
  const std::optional<Bytes> again =
      optimize(page, php_blocks, nullptr, Bytes(page.size() + 7, 0xAB));
  check(again.has_value() && *again == *out,
        with_sink ? "a sink does not change the output" : "the same page gives the same output");
  return 0;
}
