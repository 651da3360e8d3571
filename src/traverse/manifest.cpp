// The --update record as text, the options fingerprint and the up-to-date decision.
#include "traverse/manifest.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <charconv>
#include <iterator>

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

// One word of a line back into its bytes; none for anything put_name would not have written (a
// bad escape, an escape that was not needed, a byte that needed one).
std::optional<std::string> take_name(std::string_view word) {
  std::string name;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%') {
      if (escaped(static_cast<unsigned char>(word[i]))) return std::nullopt;
      name += word[i];
      continue;
    }
    if (word.size() - i < 3) return std::nullopt;
    const int hi = hex_value(word[i + 1]), lo = hex_value(word[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    const auto b = static_cast<unsigned char>(hi << 4 | lo);
    if (!escaped(b) || b == 0) return std::nullopt;
    name += static_cast<char>(b);
    i += 2;
  }
  return name;
}

template <class Number>
void put_number(std::string& out, Number n) {
  char buffer[24];
  const auto done = std::to_chars(buffer, buffer + sizeof buffer, n);
  *done.ptr = ' ';  // the buffer has room: 20 digits and a sign at most
  out.append(buffer, static_cast<std::size_t>(done.ptr - buffer) + 1);
}

// A decimal written as put_number writes it: no sign but '-', no leading zero.
template <class Number>
bool parse_number(std::string_view word, Number& n) {
  const auto done = std::from_chars(word.data(), word.data() + word.size(), n);
  if (done.ec != std::errc() || done.ptr != word.data() + word.size()) return false;
  const std::string_view digits = word.front() == '-' ? word.substr(1) : word;
  return !digits.empty() && (digits.size() == 1 || digits.front() != '0') && word != "-0";
}

// Reads a line's words from left to right.
class Words {
 public:
  // A line that ends in a space has an empty last word: it reads as no words at all.
  explicit Words(std::string_view line) : line_(line.ends_with(' ') ? std::string_view() : line) {}
  std::optional<std::string_view> next() {
    if (pos_ >= line_.size()) return std::nullopt;
    const std::size_t space = line_.find(' ', pos_);
    const std::size_t end = space == std::string_view::npos ? line_.size() : space;
    const std::string_view word = line_.substr(pos_, end - pos_);
    pos_ = space == std::string_view::npos ? line_.size() : space + 1;
    if (word.empty()) return std::nullopt;
    return word;
  }
  // A decimal from -1 up; none for anything else.
  bool number(std::int64_t& n) {
    const std::optional<std::string_view> word = next();
    return word && parse_number(*word, n) && n >= -1;
  }
  bool size(std::int64_t& n) { return number(n); }
  bool id(std::uint64_t& n) {
    const std::optional<std::string_view> word = next();
    return word && parse_number(*word, n);
  }
  bool count(std::int64_t& n) { return number(n) && n >= 0; }
  bool done() const { return pos_ >= line_.size(); }

 private:
  std::string_view line_;
  std::size_t pos_ = 0;
};

bool take_state(Words& words, FileState& state) {
  return words.size(state.size) && words.number(state.mtime_ns);
}

std::optional<ManifestEntry> take_entry(std::string_view line) {
  Words words(line);
  ManifestEntry e;
  std::int64_t current = 0;
  if (!words.count(current) || current > 1) return std::nullopt;
  e.current = current == 1;
  if (!take_state(words, e.source_state) || e.source_state.size < 0) return std::nullopt;
  if (!words.id(e.source_ino) || !words.id(e.source_dev)) return std::nullopt;
  if (!take_state(words, e.output_state) || e.output_state.size < 0) return std::nullopt;
  for (FileState& s : e.siblings)
    if (!take_state(words, s)) return std::nullopt;
  Totals& t = e.share;
  for (std::int64_t* n : {&t.files_optimized, &t.html_in, &t.html_out, &t.jpeg_in, &t.jpeg_out,
                          &t.php_in, &t.php_out, &t.css_in, &t.css_out, &t.js_in, &t.js_out,
                          &t.precompressed_files, &t.precompressed_in})
    if (!words.count(*n)) return std::nullopt;
  for (std::int64_t& n : t.sibling_bytes)
    if (!words.count(n)) return std::nullopt;
  const std::optional<std::string_view> output = words.next();
  const std::optional<std::string_view> source = words.next();
  if (!output || !source || !words.done()) return std::nullopt;
  std::optional<std::string> output_name = take_name(*output);
  std::optional<std::string> source_name = take_name(*source);
  if (!output_name || !source_name || !safe_output_name(*output_name)) return std::nullopt;
  e.output = std::move(*output_name);
  e.source = std::move(*source_name);
  return e;
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

std::string encode_manifest(const Manifest& manifest) {
  std::string out;
  out.reserve(64 + manifest.entries.size() * 200);
  out += kMagic;
  out += "\nprogram ";
  put_name(out, manifest.program);
  out += "\noptions ";
  put_name(out, manifest.fingerprint);
  out += '\n';
  for (const ManifestEntry& e : manifest.entries) {
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
  out += "end ";
  put_number(out, static_cast<std::int64_t>(manifest.entries.size()));
  out.back() = '\n';
  return out;
}

std::optional<Manifest> decode_manifest(std::span<const unsigned char> bytes) {
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
  Manifest m;
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
    std::optional<ManifestEntry> entry = take_entry(*line);
    if (!entry) return std::nullopt;
    m.entries.push_back(std::move(*entry));
  }
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
