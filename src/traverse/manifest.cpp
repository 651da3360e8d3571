// The --update record as text, the options fingerprint and the up-to-date decision.
#include "traverse/manifest.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <charconv>
#include <climits>
#include <cstring>
#include <type_traits>

#include "optimize/byte_scan.h"
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
  const auto* p = reinterpret_cast<const unsigned char*>(word.data());
  std::size_t i = 0;
  // Most names hold no escape: eight bytes a step until one might.
  while (word.size() - i >= 8) {
    const std::uint64_t v = swar::load8(p + i);
    if ((swar::below_bytes(v, 0x21) | swar::equal_bytes(v, '%') | swar::equal_bytes(v, 0x7F)) != 0)
      break;
    i += 8;
  }
  for (; i < word.size(); ++i) {
    if (word[i] != '%') {
      if (escaped(p[i])) return false;
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

// What a number of an entry's line may be.
enum class Kind : unsigned char {
  kFlag,     // 0 or 1
  kNatural,  // 0 up to the largest signed 64-bit number
  kNumber,   // the same, or -1
  kId,       // any unsigned 64-bit number
};

// The numbers that open an entry's line, in the order encode_manifest_entry writes them.
constexpr std::size_t kSiblingCount = std::tuple_size_v<decltype(ManifestEntry::siblings)>;
constexpr std::size_t kShareCount = 13 + std::extent_v<decltype(Totals::sibling_bytes)>;
constexpr std::size_t kEntryNumbers = 7 + 2 * kSiblingCount + kShareCount;
using EntryNumbers = std::array<std::uint64_t, kEntryNumbers>;
constexpr auto kKinds = [] {
  std::array<Kind, kEntryNumbers> k{};
  k.fill(Kind::kNatural);  // the sizes of source and output, the shares of the totals
  k[0] = Kind::kFlag;      // current
  k[2] = k[6] = Kind::kNumber;  // times
  k[3] = k[4] = Kind::kId;      // inode, device
  for (std::size_t s = 0; s < 2 * kSiblingCount; ++s) k[7 + s] = Kind::kNumber;
  return k;
}();

// The value of eight ASCII digits, the first in the lowest byte.
std::uint64_t eight_digits(std::uint64_t v) {
  v -= swar::kOnes * '0';
  v = v * 10 + (v >> 8);  // each even byte: two digits
  constexpr std::uint64_t kLow = 0x000000FF000000FF;
  return ((v & kLow) * (100 + (1000000ULL << 32)) + ((v >> 16) & kLow) * (1 + (10000ULL << 32))) >>
         32;
}

// One word at `p` as put_number writes a number of `kind`: "-1", or digits without a leading
// zero, in range; then a space (stepped over) or `end`. A record is mostly numbers, so they are
// read in place, eight digits a step where the line holds them.
inline bool take_number(const char*& p, const char* end, Kind kind, std::uint64_t& value) {
  if (end - p >= 2 && p[0] == '0' && p[1] == ' ') {  // most of a line: shares a file has none of
    value = 0;
    p += 2;
    return true;
  }
  if (p < end && *p == '-') {  // -1 is the only negative number written
    if (kind != Kind::kNumber || end - p < 2 || p[1] != '1' || (end - p > 2 && p[2] != ' '))
      return false;
    value = ~std::uint64_t{0};
    p += end - p > 2 ? 3 : 2;
    return true;
  }
  const char* digits = p;
  std::uint64_t n = 0;
  while (end - p >= 8) {
    const std::uint64_t v = swar::load8(reinterpret_cast<const unsigned char*>(p));
    if ((swar::below_bytes(v, '0') | (~swar::below_bytes(v, '9' + 1) & swar::kHigh)) != 0) break;
    n = n * 100000000 + eight_digits(v);  // wraps only past twenty digits, refused below
    p += 8;
  }
  for (unsigned d = 0; p < end && (d = static_cast<unsigned char>(*p) - unsigned{'0'}) < 10; ++p)
    n = n * 10 + d;
  const auto length = static_cast<std::size_t>(p - digits);
  if (length == 0 || (p < end && *p != ' ') || (*digits == '0' && length > 1)) return false;
  // Nineteen digits always fit in 64 bits, twenty up to 2^64 - 1, a signed number up to 2^63 - 1.
  if (length >= 20 && (length > 20 || std::string_view(digits, 20) > "18446744073709551615"))
    return false;
  if (kind == Kind::kFlag ? n > 1 : kind != Kind::kId && n > std::uint64_t{INT64_MAX}) return false;
  value = n;
  if (p < end) ++p;
  return true;
}

// An entry's line: its numbers into `v`, its two names as written (escapes kept) into `output`
// and `source`. The names are checked only with `check_names`.
bool take_fields(std::string_view line, EntryNumbers& v, std::string_view& output,
                 bool& output_escaped, std::string_view& source, bool check_names = true) {
  const char* p = line.data();
  const char* const end = p + line.size();
  for (std::size_t k = 0; k < kEntryNumbers; ++k)
    if (!take_number(p, end, kKinds[k], v[k])) return false;
  // Then the two names, one space between them: a name holds no bare space.
  const auto* space =
      static_cast<const char*>(std::memchr(p, ' ', static_cast<std::size_t>(end - p)));
  if (space == nullptr || space == p || space + 1 == end) return false;
  output = std::string_view(p, static_cast<std::size_t>(space - p));
  source = std::string_view(space + 1, static_cast<std::size_t>(end - space - 1));
  bool source_escaped = false;
  return !check_names || (name_word(output, output_escaped) && name_word(source, source_escaped));
}

void put_numbers(const EntryNumbers& v, ManifestEntry& e) {
  const auto signed_at = [&](std::size_t k) { return static_cast<std::int64_t>(v[k]); };
  e.current = v[0] == 1;
  e.source_state = {signed_at(1), signed_at(2)};
  e.source_ino = v[3];
  e.source_dev = v[4];
  e.output_state = {signed_at(5), signed_at(6)};
  for (std::size_t s = 0; s < kSiblingCount; ++s)
    e.siblings[s] = {signed_at(7 + 2 * s), signed_at(8 + 2 * s)};
  Totals& t = e.share;
  std::size_t k = 7 + 2 * kSiblingCount;
  for (std::int64_t* n : {&t.files_optimized, &t.html_in, &t.html_out, &t.jpeg_in, &t.jpeg_out,
                          &t.php_in, &t.php_out, &t.css_in, &t.css_out, &t.js_in, &t.js_out,
                          &t.precompressed_files, &t.precompressed_in})
    *n = signed_at(k++);
  for (std::int64_t& n : t.sibling_bytes) n = signed_at(k++);
}

std::size_t count_byte(std::string_view text, char c) {
  std::size_t n = 0;
  for (std::size_t at = text.find(c); at != std::string_view::npos; at = text.find(c, at + 1)) ++n;
  return n;
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
  std::size_t part = 0;  // where the part being read starts
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '/') continue;
    const std::size_t length = i - part;
    if (length == 0 || (length <= 2 && name[part] == '.' && (length == 1 || name[part + 1] == '.')))
      return false;
    part = i + 1;
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
  const std::size_t lines = count_byte(text.substr(pos), '\n');
  m.entries.reserve(lines);
  advise_huge_pages(m.entries.data(), m.entries.capacity() * sizeof(ManifestLines::Line));
  for (;;) {
    const std::optional<std::string_view> line = next_line();
    if (!line) return std::nullopt;  // cut before its end line
    if (const std::optional<std::string_view> end = field(*line, "end")) {
      std::uint64_t count = 0;
      const char* at = end->data();
      const char* const line_end = at + end->size();
      if (!take_number(at, line_end, Kind::kNatural, count) || at != line_end ||
          end->back() == ' ' || pos != text.size() || count != m.entries.size())
        return std::nullopt;
      return m;
    }
    std::string_view output, source;
    bool output_escaped = false;
    EntryNumbers numbers;
    if (!take_fields(*line, numbers, output, output_escaped, source)) return std::nullopt;
    if (output_escaped) {
      m.names.push_back(std::make_unique<std::string>(name_of_word(output)));
      output = *m.names.back();
    }
    if (!safe_output_name(output)) return std::nullopt;
    m.entries.push_back({*line, output});
  }
}

void entry_of(const ManifestLines::Line& line, ManifestEntry& entry) {
  EntryNumbers numbers;
  std::string_view output, source;
  bool output_escaped = false;
  take_fields(line.text, numbers, output, output_escaped, source, false);  // checked when read
  put_numbers(numbers, entry);
  entry.output.assign(line.output);
  name_of_word(source, entry.source);
}

ManifestEntry entry_of(const ManifestLines::Line& line) {
  ManifestEntry e;
  entry_of(line, e);
  return e;
}

std::optional<Manifest> decode_manifest(std::span<const unsigned char> bytes) {
  std::optional<ManifestLines> lines = read_manifest_lines(bytes);
  if (!lines) return std::nullopt;
  Manifest m{std::move(lines->program), std::move(lines->fingerprint), {}};
  m.entries.reserve(lines->entries.size());
  for (const ManifestLines::Line& line : lines->entries) m.entries.push_back(entry_of(line));
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
