// The --update record as text, the options fingerprint and the up-to-date decision.
#include "traverse/manifest.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <iterator>

#include "optimize/bytes.h"
#include "optimize/precompress.h"

namespace {

constexpr std::string_view kMagic = "sveltery-manifest 1";
constexpr char kHex[] = "0123456789abcdef";

// Space, '%', control bytes and DEL are written as %XX: a name is then one word of a line.
bool escaped(unsigned char b) { return b <= 0x20 || b == '%' || b == 0x7F; }

void put_name(std::string& out, std::string_view name) {
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (escaped(b)) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else {
      out += c;
    }
  }
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Whether `word` is a name as put_name writes it: no byte that needed an escape left bare, and
// only escapes put_name writes (of a byte that needs one, never NUL). `escaped_part`: it holds one.
bool name_word(std::string_view word, bool& escaped_part) {
  escaped_part = false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%') {
      if (escaped(static_cast<unsigned char>(word[i]))) return false;
      continue;
    }
    if (word.size() - i < 3) return false;
    const int hi = hex_value(word[i + 1]), lo = hex_value(word[i + 2]);
    if (hi < 0 || lo < 0) return false;
    const auto b = static_cast<unsigned char>(hi << 4 | lo);
    if (!escaped(b) || b == 0) return false;
    escaped_part = true;
    i += 2;
  }
  return true;
}

// The bytes of a word name_word() accepted, into `name`.
void name_of_word(std::string_view word, std::string& name) {
  const std::size_t escape = word.find('%');
  name.assign(word.substr(0, escape));
  for (std::size_t i = name.size(); i < word.size(); ++i) {
    if (word[i] != '%') {
      name += word[i];
      continue;
    }
    name += static_cast<char>(hex_value(word[i + 1]) << 4 | hex_value(word[i + 2]));
    i += 2;
  }
}

std::string name_of_word(std::string_view word) {
  std::string name;
  name_of_word(word, name);
  return name;
}

std::optional<std::string> take_name(std::string_view word) {
  bool escaped_part = false;
  if (!name_word(word, escaped_part)) return std::nullopt;
  return escaped_part ? name_of_word(word) : std::string(word);
}

template <class Number>
void put_number(std::string& out, Number n) {
  char buffer[24];
  const auto done = std::to_chars(buffer, buffer + sizeof buffer, n);
  *done.ptr = ' ';  // the buffer has room: 20 digits and a sign at most
  out.append(buffer, static_cast<std::size_t>(done.ptr - buffer) + 1);
}

// Reads a line's words from left to right. A record holds about thirty numbers a file, so they
// are read in place rather than cut out as words first.
class Words {
 public:
  // A line that ends in a space has an empty last word: it reads as no words at all.
  explicit Words(std::string_view line)
      : at_(line.data()), end_(line.ends_with(' ') ? line.data() : line.data() + line.size()) {}
  std::optional<std::string_view> next() {
    if (at_ >= end_) return std::nullopt;
    const void* space = std::memchr(at_, ' ', static_cast<std::size_t>(end_ - at_));
    const char* stop = space ? static_cast<const char*>(space) : end_;
    const std::string_view word(at_, static_cast<std::size_t>(stop - at_));
    at_ = space ? stop + 1 : end_;
    if (word.empty()) return std::nullopt;
    return word;
  }
  // A decimal from -1 up; none for anything else.
  bool number(std::int64_t& n) {
    std::uint64_t magnitude = 0;
    bool negative = false;
    if (!decimal(magnitude, negative, true) || magnitude > std::uint64_t{INT64_MAX}) return false;
    n = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return !negative || magnitude == 1;
  }
  bool size(std::int64_t& n) { return number(n); }
  bool id(std::uint64_t& n) {
    bool negative = false;
    return decimal(n, negative, false);
  }
  bool count(std::int64_t& n) { return number(n) && n >= 0; }
  bool done() const { return at_ >= end_; }

 private:
  // One word as put_number writes a number: an optional '-' (when `signed_word`), digits without
  // a leading zero (and no "-0"), in range, followed by a space or the line's end.
  bool decimal(std::uint64_t& magnitude, bool& negative, bool signed_word) {
    const char* p = at_;
    negative = signed_word && p < end_ && *p == '-';
    if (negative) ++p;
    const char* digits = p;
    std::uint64_t n = 0;
    while (p < end_ && *p >= '0' && *p <= '9') {
      if (__builtin_mul_overflow(n, 10u, &n) ||
          __builtin_add_overflow(n, static_cast<unsigned>(*p - '0'), &n))
        return false;
      ++p;
    }
    if (p == digits || (p < end_ && *p != ' ')) return false;
    if (*digits == '0' && (p - digits > 1 || negative)) return false;
    magnitude = n;
    at_ = p < end_ ? p + 1 : end_;
    return true;
  }
  const char* at_;
  const char* end_;
};

bool take_state(Words& words, FileState& state) {
  return words.size(state.size) && words.number(state.mtime_ns);
}

// An entry's line: its numbers into `e`, its two names as written (checked, escapes kept) into
// `output` and `source`.
bool take_fields(std::string_view line, ManifestEntry& e, std::string_view& output,
                 bool& output_escaped, std::string_view& source, bool check_names = true) {
  Words words(line);
  std::int64_t current = 0;
  if (!words.count(current) || current > 1) return false;
  e.current = current == 1;
  if (!take_state(words, e.source_state) || e.source_state.size < 0) return false;
  if (!words.id(e.source_ino) || !words.id(e.source_dev)) return false;
  if (!take_state(words, e.output_state) || e.output_state.size < 0) return false;
  for (FileState& s : e.siblings)
    if (!take_state(words, s)) return false;
  Totals& t = e.share;
  for (std::int64_t* n : {&t.files_optimized, &t.html_in, &t.html_out, &t.jpeg_in, &t.jpeg_out,
                          &t.php_in, &t.php_out, &t.css_in, &t.css_out, &t.js_in, &t.js_out,
                          &t.precompressed_files, &t.precompressed_in})
    if (!words.count(*n)) return false;
  for (std::int64_t& n : t.sibling_bytes)
    if (!words.count(n)) return false;
  const std::optional<std::string_view> output_word = words.next();
  const std::optional<std::string_view> source_word = words.next();
  bool source_escaped = false;
  if (!output_word || !source_word || !words.done()) return false;
  if (check_names &&
      (!name_word(*output_word, output_escaped) || !name_word(*source_word, source_escaped)))
    return false;
  output = *output_word;
  source = *source_word;
  return true;
}

// The line that starts with `key` and a space; its rest.
std::optional<std::string_view> field(std::string_view line, std::string_view key) {
  if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ' ')
    return std::nullopt;
  return line.substr(key.size() + 1);
}

}  // namespace

std::string options_fingerprint(const Options& options) {
  std::string f = options.safe ? "profile=safe" : "profile=default";
  f += options.no_banner ? ",banner=no" : ",banner=yes";
  f += ",formats=";
  f += options.html ? "h" : "";
  f += options.jpeg ? "j" : "";
  f += options.php ? "p" : "";
  f += options.copy_other ? "c" : "";
  f += options.css ? "s" : "";
  f += options.js ? "x" : "";
  f += ",precompress=";
  for (const Encoding e : kEncodings)
    if (options.precompress.has(e)) {
      f += encoding_name(e);
      f += '+';
    }
  return f;
}

FileState file_state(const struct stat& st) {
  constexpr std::int64_t kNano = 1000000000;
  return {static_cast<std::int64_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * kNano + st.st_mtim.tv_nsec};
}

FileState regular_state_at(int dir, const char* name) {
  struct stat st {};
  if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return {};
  return file_state(st);
}

bool safe_output_name(std::string_view name) {
  if (name.empty() || name.front() == '/') return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

std::string encode_manifest_head(std::string_view program, std::string_view fingerprint) {
  std::string out(kMagic);
  out += "\nprogram ";
  put_name(out, program);
  out += "\noptions ";
  put_name(out, fingerprint);
  out += '\n';
  return out;
}

void encode_manifest_entry(std::string& out, const ManifestEntry& e) {
  put_number(out, std::int64_t{e.current ? 1 : 0});
  put_number(out, e.source_state.size);
  put_number(out, e.source_state.mtime_ns);
  put_number(out, e.source_ino);
  put_number(out, e.source_dev);
  put_number(out, e.output_state.size);
  put_number(out, e.output_state.mtime_ns);
  for (const FileState& s : e.siblings) {
    put_number(out, s.size);
    put_number(out, s.mtime_ns);
  }
  const Totals& t = e.share;
  for (const std::int64_t n : {t.files_optimized, t.html_in, t.html_out, t.jpeg_in, t.jpeg_out,
                               t.php_in, t.php_out, t.css_in, t.css_out, t.js_in, t.js_out,
                               t.precompressed_files, t.precompressed_in})
    put_number(out, n);
  for (const std::int64_t n : t.sibling_bytes) put_number(out, n);
  put_name(out, e.output);
  out += ' ';
  put_name(out, e.source);
  out += '\n';
}

std::string encode_manifest_end(std::size_t entries) {
  std::string out = "end ";
  put_number(out, static_cast<std::int64_t>(entries));
  out.back() = '\n';
  return out;
}

std::string encode_manifest(const Manifest& manifest) {
  std::string out = encode_manifest_head(manifest.program, manifest.fingerprint);
  out.reserve(64 + manifest.entries.size() * 200);
  for (const ManifestEntry& e : manifest.entries) encode_manifest_entry(out, e);
  out += encode_manifest_end(manifest.entries.size());
  return out;
}

std::optional<ManifestLines> read_manifest_lines(std::span<const unsigned char> bytes) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.empty() || text.back() != '\n') return std::nullopt;
  std::size_t pos = 0;
  const auto next_line = [&]() -> std::optional<std::string_view> {
    if (pos >= text.size()) return std::nullopt;
    const std::size_t end = text.find('\n', pos);  // the text ends with one
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    return line;
  };
  ManifestLines m;
  const std::optional<std::string_view> magic = next_line();
  if (!magic || *magic != kMagic) return std::nullopt;
  const std::optional<std::string_view> program_line = next_line();
  const std::optional<std::string_view> program =
      program_line ? field(*program_line, "program") : std::nullopt;
  const std::optional<std::string_view> options_line = next_line();
  const std::optional<std::string_view> options =
      options_line ? field(*options_line, "options") : std::nullopt;
  if (!program || !options) return std::nullopt;
  std::optional<std::string> program_name = take_name(*program);
  std::optional<std::string> fingerprint = take_name(*options);
  if (!program_name || !fingerprint) return std::nullopt;
  m.program = std::move(*program_name);
  m.fingerprint = std::move(*fingerprint);
  m.entries.reserve(static_cast<std::size_t>(std::count(text.begin() + pos, text.end(), '\n')));
  advise_huge_pages(m.entries.data(), m.entries.capacity() * sizeof(ManifestLines::Line));
  ManifestEntry numbers;
  for (;;) {
    const std::optional<std::string_view> line = next_line();
    if (!line) return std::nullopt;  // cut before its end line
    if (const std::optional<std::string_view> end = field(*line, "end")) {
      std::int64_t count = 0;
      Words words(*end);
      if (!words.count(count) || !words.done() || pos != text.size() ||
          count != static_cast<std::int64_t>(m.entries.size()))
        return std::nullopt;
      return m;
    }
    std::string_view output, source;
    bool output_escaped = false;
    if (!take_fields(*line, numbers, output, output_escaped, source)) return std::nullopt;
    if (output_escaped) {
      m.names.push_back(std::make_unique<std::string>(name_of_word(output)));
      output = *m.names.back();
    }
    if (!safe_output_name(output)) return std::nullopt;
    m.entries.push_back({*line, output});
  }
}

void entry_of_line(std::string_view line, ManifestEntry& entry) {
  std::string_view output, source;
  bool output_escaped = false;
  take_fields(line, entry, output, output_escaped, source, false);  // checked when read
  name_of_word(output, entry.output);
  name_of_word(source, entry.source);
}

ManifestEntry entry_of_line(std::string_view line) {
  ManifestEntry e;
  entry_of_line(line, e);
  return e;
}

std::optional<Manifest> decode_manifest(std::span<const unsigned char> bytes) {
  std::optional<ManifestLines> lines = read_manifest_lines(bytes);
  if (!lines) return std::nullopt;
  Manifest m{std::move(lines->program), std::move(lines->fingerprint), {}};
  m.entries.reserve(lines->entries.size());
  for (const ManifestLines::Line& line : lines->entries) m.entries.push_back(entry_of_line(line.text));
  return m;
}

bool up_to_date(const ManifestEntry& entry, std::string_view source_path,
                const struct stat& source, const OutputNow& now) {
  if (!entry.current || entry.source != source_path) return false;
  if (file_state(source) != entry.source_state ||
      static_cast<std::uint64_t>(source.st_ino) != entry.source_ino ||
      static_cast<std::uint64_t>(source.st_dev) != entry.source_dev)
    return false;
  if (now.output != entry.output_state) return false;
  for (std::size_t k = 0; k < entry.siblings.size(); ++k)
    if (entry.siblings[k].size >= 0 && now.siblings[k] != entry.siblings[k]) return false;
  return true;
}
