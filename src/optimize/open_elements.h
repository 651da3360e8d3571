// The tree builder's state that the safe profile's drops depend on: the stack of open elements,
// the list of active formatting elements and the insertion mode, as the HTML parser keeps them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace markup::tree {

// The element names the parser's rules name, as small numbers. kTagNames holds them in the same
// order; Other is every other name.
enum Tag : std::uint8_t {
  Other, A, Address, AnnotationXml, Applet, Area, Article, Aside, B, Base, Basefont, Bgsound,
  Big, Blockquote, Body, Br, Button, Caption, Center, Code, Col, Command, Colgroup, Dd, Desc, Details,
  Dialog, Dir, Div, Dl, Dt, Em, Embed, Fieldset, Figcaption, Figure, Font, Footer, ForeignObject,
  Form, Frame, Frameset, H1, H2, H3, H4, H5, H6, Head, Header, Hgroup, Hr, Html, I, Iframe,
  Image, Img, Input, Isindex, Keygen, Li, Link, Listing, Main, Marquee, Math, Menu, Meta, Mi, Mn, Mo, Ms,
  Mtext, Nav, Nobr, Noembed, Noframes, Noscript, Object, Ol, Optgroup, Option, P, Param,
  Plaintext, Pre, Rb, Rp, Rt, Rtc, Ruby, S, Script, Search, Section, Select, Small, Source,
  Span, Strike, Strong, Style, Sub, Summary, Sup, Svg, Table, Tbody, Td, Template, Textarea, Tfoot, Th, Thead,
  Title, Tr, Track, Tt, U, Ul, Var, Wbr, Xmp,
  kTagCount
};

inline constexpr std::string_view kTagNames[] = {
    "", "a", "address", "annotation-xml", "applet", "area", "article", "aside", "b", "base",
    "basefont", "bgsound", "big", "blockquote", "body", "br", "button", "caption", "center",
    "code", "col", "command", "colgroup", "dd", "desc", "details", "dialog", "dir", "div", "dl", "dt", "em",
    "embed", "fieldset", "figcaption", "figure", "font", "footer", "foreignobject", "form",
    "frame", "frameset", "h1", "h2", "h3", "h4", "h5", "h6", "head", "header", "hgroup", "hr",
    "html", "i", "iframe", "image", "img", "input", "isindex", "keygen", "li", "link", "listing", "main",
    "marquee", "math", "menu", "meta", "mi", "mn", "mo", "ms", "mtext", "nav", "nobr", "noembed",
    "noframes", "noscript", "object", "ol", "optgroup", "option", "p", "param", "plaintext", "pre",
    "rb", "rp", "rt", "rtc", "ruby", "s", "script", "search", "section", "select", "small",
    "source", "span", "strike", "strong", "style", "sub", "summary", "sup", "svg", "table", "tbody", "td", "template",
    "textarea", "tfoot", "th", "thead", "title", "tr", "track", "tt", "u", "ul", "var", "wbr", "xmp"};
static_assert(std::size(kTagNames) == kTagCount);

// A tag name: its Tag, and for Other a hash of the name folded to lower case, so that two
// elements of other names can be told apart (the end tag of a custom element closes it).
struct Name {
  Tag tag = Other;
  std::uint64_t hash = 0;
};

// The name [from, to) of a tag as the tokenizer reads it (folded to lower case).
Name name_of(std::span<const unsigned char> name);
// The same for a name no Tag stands for among those the caller knows: hashed.
Name name_of_other(std::span<const unsigned char> name);
// The same for a name whose Tag is known already: only Other names are hashed.
inline Name name_with(Tag tag, std::span<const unsigned char> name) {
  return tag != Other ? Name{tag, 0} : name_of_other(name);
}

enum class Ns : std::uint8_t { Html, Svg, Math };

// What a tag of each name does in the body when nothing unusual stands in its way, a set of the
// bits below (kBodySteps is defined beside the rules it follows).
namespace body_step {
constexpr std::uint8_t kPush = 1;          // its start tag opens it
constexpr std::uint8_t kVoid = 2;          // its start tag inserts a void element
constexpr std::uint8_t kReconstructs = 4;  // ...after rebuilding the formatting elements
constexpr std::uint8_t kClosesP = 8;       // ...after closing an open P
// Its end tag closes the current node when that is of its name, and no more (a formatting
// element's: when it is the last of the list, or none of it).
constexpr std::uint8_t kPopsCurrent = 16;
// Its start tag opens it and lists it among the formatting elements (A: once no other A is).
constexpr std::uint8_t kFormats = 32;
// A list item's start tag: its walk down the stack for an open item to close ends at once when
// the current node is an element of a name with kEndsItemWalk.
constexpr std::uint8_t kItem = 64;
constexpr std::uint8_t kEndsItemWalk = 128;
}  // namespace body_step
extern const std::array<std::uint8_t, kTagCount> kBodySteps;
// Start tags that act in the body whatever is open: white space before one there, joining no
// text and rebuilding nothing, makes no node that renders.
extern const std::array<bool, kTagCount> kStartActsInBody;

// The families of the parser's "has an element in scope": each ends its walk at other elements.
enum class Scope : std::uint8_t { Default, ListItem, Button, Table, Select };

enum class Mode : std::uint8_t {
  Initial, BeforeHtml, BeforeHead, InHead, AfterHead, InBody, Text, InTable, InCaption,
  InColumnGroup, InTableBody, InRow, InCell, InSelect, AfterBody, AfterAfterBody,
  Unknown  // the parser may have reorganised the tree: nothing more is dropped
};

// What follows an end tag the profile may leave out.
struct Next {
  // Comment: a comment or bogus comment, which the parser inserts as a node of its own.
  enum Kind : std::uint8_t { StartTag, EndTag, EndOfInput, Comment, OtherToken } kind = OtherToken;
  Name name{};
  // Nothing but white space follows it (told for comments, </body> and </html>).
  bool ends_page = false;
};

// Writes `from` into `to` field by field: a copy of the whole is read back as one wide load from
// the narrow stores that built it, which the processor cannot forward and waits for.
inline void put(Next& to, const Next& from) {
  to.kind = from.kind;
  to.name.tag = from.name.tag;
  to.name.hash = from.name.hash;
  to.ends_page = from.ends_page;
}

// The tree builder's state over a page's tokens, kept only as far as it is certain: whatever the
// model does not follow (a furthest block, foster parenting, template, frameset, select in a
// table, a stack deeper than kMaxDepth) turns the mode to Unknown for the rest of the page.
class OpenElements {
 public:
  static constexpr std::size_t kMaxDepth = 256;
  static constexpr std::size_t kMaxFormatting = 256;

  // The stack and the list are written before they are read: they are left as they are (in the
  // unions below) rather than cleared, which cost a page as much as a few hundred of its tags.
  OpenElements() {}

  void doctype(bool no_quirks);  // no_quirks: exactly <!DOCTYPE html>
  // Tags in the body outside SVG and MathML, most of a page's, go to its rules at once.
  void start_tag(Name name, bool self_closing) {
    if (in_body_html()) {
      if (!body_start_plain(name)) body_start(name, self_closing);
      return;
    }
    any_start_tag(name, self_closing);
  }
  void end_tag(Name name) {
    if (in_body_html()) {
      if (!body_end_plain(name)) body_end(name);
      return;
    }
    any_end_tag(name);
  }
  // Character tokens; a run of white space alone when space_only.
  void text(bool space_only) {
    // Text in the body with no formatting element to rebuild, most of a page's: only whether it
    // joins other text changes.
    if (in_body_html() && !reconstruct_pending()) {
      text_last_ = text_last_ || !space_only;
      return;
    }
    any_text(space_only);
  }
  void lose() { mode_ = Mode::Unknown; }

  [[nodiscard]] bool known() const { return mode_ != Mode::Unknown; }
  [[nodiscard]] Mode mode() const { return mode_; }
  // A run of white space alone here, before `next`, makes no node that renders: the parser
  // ignores it, or inserts it as a text node of its own (joining no other text) with no element
  // rebuilt around it.
  [[nodiscard]] bool space_may_go(const Next& next) const {
    // Before a start tag in the body, most runs between tags: answered here.
    if (in_body_html() && next.kind == Next::StartTag && kStartActsInBody[next.name.tag])
      return !reconstruct_pending() && !text_last_;
    return space_may_go_by_rules(next);
  }
  // A comment here may go: no two runs of text on either side would join into one that the
  // parser places elsewhere (table text).
  [[nodiscard]] bool comment_may_go() const;
  // The current node is an HTML element or the tree is unknown: a "/>" on a void element means
  // nothing (the caller checks known() too).
  [[nodiscard]] bool in_html_content() const;
  // The end tag of `self` here, followed by `next`, may go: the parser closes the same element
  // at the same point from `next` alone and builds the same tree.
  [[nodiscard]] bool end_tag_may_go(Tag self, const Next& next) const;

  [[nodiscard]] std::size_t depth() const { return depth_; }
  // The names of the open elements, outermost first, for tests ("html body p").
  [[nodiscard]] std::size_t copy_stack(std::span<Tag> to) const;

 private:
  struct Entry {
    Name name;
    Ns ns = Ns::Html;
    std::int32_t formatting = -1;  // its entry in the formatting list, or -1
  };
  struct Formatting {
    Name name;
    std::int32_t element = -1;  // its place on the stack, -1 once popped; kMarker for a marker
  };
  static constexpr std::int32_t kMarker = -2;
  // Writes an entry field by field: a whole-struct copy is made of narrow stores read back as one
  // wide load, which the processor cannot forward and waits for (6 % of a pass over the pages).
  static void put(Entry& to, const Entry& from) {
    to.name.tag = from.name.tag;
    to.name.hash = from.name.hash;
    to.ns = from.ns;
    to.formatting = from.formatting;
  }
  static void put(Formatting& to, const Formatting& from) {
    to.name.tag = from.name.tag;
    to.name.hash = from.name.hash;
    to.element = from.element;
  }

  // The most common tags in the body, whose steps come down to a push or a pop here: taken
  // inline. False leaves the tag to the rules.
  bool body_start_plain(Name name) {
    using namespace body_step;
    const std::uint8_t steps = kBodySteps[name.tag];
    if ((steps & (kPush | kVoid)) == 0 || ((steps & kReconstructs) != 0 && reconstruct_pending()))
      return false;
    if ((steps & kItem) != 0 &&
        (depth_ == 0 || stack_[depth_ - 1].ns != Ns::Html ||
         (kBodySteps[stack_[depth_ - 1].name.tag] & kEndsItemWalk) == 0))
      return false;
    if ((steps & kClosesP) != 0 && open_html_[P] != 0) {
      // An open P is closed when it is the current node; deeper in, implied end tags may come.
      const Entry& e = stack_[depth_ - 1];
      if (e.ns != Ns::Html || e.name.tag != P) return false;
      --depth_;
      --open_html_[P];
      track_current();
    }
    // A formatting element with nothing to rebuild and none of its name listed since the last
    // marker: no A to close, no earlier entry of its name to count.
    const bool formats = (steps & kFormats) != 0;
    if (formats) {
      if (formatting_count_ == kMaxFormatting || reconstruct_pending()) return false;
      for (std::size_t k = formatting_count_; k-- > 0 && formatting_[k].element != kMarker;)
        if (formatting_[k].name.tag == name.tag) return false;
    }
    if ((steps & kPush) != 0) {
      if (depth_ == kMaxDepth) return false;
      const auto listed = static_cast<std::int32_t>(formatting_count_);
      put(stack_[depth_++], Entry{name, Ns::Html, formats ? listed : -1});
      ++open_html_[name.tag];
      current_ns_ = Ns::Html;
    }
    if (formats)
      put(formatting_[formatting_count_++],
          Formatting{name, static_cast<std::int32_t>(depth_ - 1)});
    text_last_ = false;
    return true;
  }
  bool body_end_plain(Name name) {
    if ((kBodySteps[name.tag] & body_step::kPopsCurrent) == 0 || depth_ == 0) return false;
    const Entry& e = stack_[depth_ - 1];
    const auto last = static_cast<std::int32_t>(formatting_count_) - 1;
    if (e.ns != Ns::Html || e.name.tag != name.tag || e.name.hash != name.hash ||
        (e.formatting >= 0 && e.formatting != last))
      return false;
    formatting_count_ -= e.formatting >= 0 ? 1 : 0;
    --depth_;
    --open_html_[name.tag];
    track_current();
    text_last_ = false;
    return true;
  }
  void any_start_tag(Name name, bool self_closing);
  void any_end_tag(Name name);
  void body_start(Name name, bool self_closing);
  void body_end(Name name);
  void table_start(Name name, bool self_closing);
  void table_end(Name name);
  void select_start(Name name);
  void select_end(Name name);
  void foreign_start(Name name, bool self_closing);
  void foreign_end(Name name);
  void to_body();  // the html element the parser makes up before content
  void open_head();
  void open_body();
  void any_text(bool space_only);
  void insert_text(bool space_only);
  [[nodiscard]] bool tag_acts(const Next& next) const;
  [[nodiscard]] bool space_may_go_by_rules(const Next& next) const;

  void push(Name name, Ns ns = Ns::Html);
  void pop();
  void pop_until(Tag tag);
  void pop_until_in(bool (*stop)(Tag));
  void insert_void(Name name);
  void generate_implied_end_tags(Tag except);
  void close_p();
  void close_p_in_button_scope();
  void reconstruct();
  [[nodiscard]] bool reconstruct_pending() const {
    return formatting_count_ > 0 && formatting_[formatting_count_ - 1].element == -1;
  }
  void push_formatting(Name name);
  [[nodiscard]] bool formatting_after_marker(Tag tag) const;
  void push_marker();
  void clear_to_marker();
  void remove_formatting(std::size_t k);
  void adoption_agency(Name name);
  void any_other_end_tag(Name name);
  void reset_mode();
  void close_cell();
  void close_caption();

  [[nodiscard]] const Entry& current() const { return stack_[depth_ - 1]; }
  [[nodiscard]] bool current_is(Tag tag) const;
  // An HTML element for which `match` holds is in the scope of `family`: one walk down from the
  // current node, which ends at the family's first boundary.
  template <class Match>
  [[nodiscard]] bool in_scope_where(Match match, Scope family) const;
  [[nodiscard]] bool in_scope(Tag tag, Scope family) const;
  void clear_to(bool (*stop)(Tag));  // pops down to the first HTML element for which `stop` holds
  void close_through(Tag tag);       // generates implied end tags, then pops through `tag`
  void close_select();
  [[nodiscard]] bool foreign_here() const { return current_ns_ != Ns::Html; }
  // In the body, at an HTML element (or none): where most tokens go to their rules at once.
  [[nodiscard]] bool in_body_html() const {
    constexpr unsigned kWanted =
        static_cast<unsigned>(Mode::InBody) | static_cast<unsigned>(Ns::Html) << 8;
    return (static_cast<unsigned>(mode_) | static_cast<unsigned>(current_ns_) << 8) == kWanted;
  }
  // After a pop: the namespace of the node that is current now.
  void track_current() { current_ns_ = depth_ > 0 ? stack_[depth_ - 1].ns : Ns::Html; }

  union {
    std::array<Entry, kMaxDepth> stack_;
  };
  std::size_t depth_ = 0;
  // How many HTML elements of each name the stack holds: a name not open is in no scope, which
  // is most of the parser's questions, answered without a walk.
  std::array<std::uint16_t, kTagCount> open_html_{};
  union {
    std::array<Formatting, kMaxFormatting> formatting_;
  };
  std::size_t formatting_count_ = 0;
  Mode mode_ = Mode::Initial;
  // The current node's namespace (HTML with none), asked at every token: beside mode_, so that
  // in_body_html() reads both with one load.
  Ns current_ns_ = Ns::Html;
  Mode text_return_ = Mode::InBody;  // the mode after a raw text element's end tag
  enum class Quirks : std::uint8_t { No, Yes, Maybe } quirks_ = Quirks::Yes;
  bool form_open_ = false;  // the form element pointer is set
  bool head_made_ = false;  // the head element pointer is set
  bool text_last_ = false;  // the last node inserted is text with more than white space in it
};

}  // namespace markup::tree
