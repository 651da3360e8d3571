// Drawing the progress bar.
#include "report/progress.h"

long percent_done(std::int64_t total, std::int64_t done) {
  if (total <= 0 || done <= 0) return 0;
  if (done >= total) return 100;
  // done < total here, so (done % total) * 100 stays far from overflow for any real file size.
  return static_cast<long>((done % total) * 100 / total + (done / total) * 100);
}

void show_progress(std::FILE* to, std::int64_t total, std::int64_t done) {
  static constexpr char kStars[] = "**************************************************";
  const long pct = percent_done(total, done);
  const int half = static_cast<int>(pct / 2);
  std::fprintf(to, "\r %ld%%", pct);
  std::fprintf(to, " |%.*s%*s|", half, kStars, 50 - half, "");  // always 50 columns between bars
  std::fprintf(to, " %ld", static_cast<long>(done));
}

void ConsoleProgress::tick(std::int64_t total, std::int64_t done) {
  show_progress(to, total, done);
}

void ConsoleProgress::finish() { std::fputs("\n", to); }
