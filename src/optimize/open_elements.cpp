// The HTML tree builder's insertion modes, stack of open elements and list of active formatting
// elements, followed token by token as far as the model is certain of them.
#include "optimize/open_elements.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "optimize/byte_scan.h"

namespace markup::tree {
namespace {

using TagSet = std::array<bool, kTagCount>;

constexpr TagSet tag_set(std::initializer_list<Tag> tags) {
  TagSet t{};
  for (const Tag tag : tags) t[tag] = true;
  return t;
}

constexpr std::uint64_t fnv(std::string_view name) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (const char c : name) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  return h;
}

// The HTML elements of the parser's "special" category.
constexpr TagSet kSpecial = tag_set(
    {Address,  Applet,   Area,     Article, Aside,   Base,     Basefont,   Bgsound, Blockquote,
     Body,     Br,       Button,   Caption, Center,  Col,      Colgroup,   Dd,      Details,
     Dir,      Div,      Dl,       Dt,      Embed,   Fieldset, Figcaption, Figure,  Footer,
     Form,     Frame,    Frameset, H1,      H2,      H3,       H4,         H5,      H6,
     Head,     Header,   Hgroup,   Hr,      Html,    Iframe,   Img,        Input,   Keygen,
     Li,       Link,     Listing,  Main,    Marquee, Menu,     Meta,       Nav,     Noembed,
     Noframes, Noscript, Object,   Ol,      P,       Param,    Plaintext,  Pre,     Script,
     Search,   Section,  Select,   Source,  Style,   Summary,  Table,      Tbody,   Td,
     Template, Textarea, Tfoot,    Th,      Thead,   Title,    Tr,         Track,   Ul,
     Wbr,      Xmp});
// Start tags that close an open P (in button scope) and open a block.
constexpr TagSet kClosesP =
    tag_set({Address, Article, Aside,    Blockquote, Center, Details, Dialog,  Dir,
             Div,     Dl,      Fieldset, Figcaption, Figure, Footer,  Header,  Hgroup,
             Main,    Menu,    Nav,      Ol,         P,      Section, Summary, Ul});
// End tags that generate implied end tags and pop up to their element when it is in scope.
constexpr TagSet kBlockEnd =
    tag_set({Address, Article, Aside,    Blockquote, Button, Center,  Details, Dialog, Dir,
             Div,     Dl,      Fieldset, Figcaption, Figure, Footer,  Header,  Hgroup, Listing,
             Main,    Menu,    Nav,      Ol,         Pre,    Section, Summary, Ul});
// Elements that one of the parsers in use counts as special and another does not (the standard
// has added some since older parsers were written): a rule that would stop at one is not followed.
constexpr TagSet kMaybeSpecial = tag_set(
    {Figcaption, Hgroup, Keygen, Main, Search, Source, Summary, Track, Command, Image, Isindex});
constexpr TagSet kImpliedEnd = tag_set({Dd, Dt, Li, Optgroup, Option, P, Rb, Rp, Rt, Rtc});
constexpr TagSet kHeading = tag_set({H1, H2, H3, H4, H5, H6});
// End tags in the body that only pop the current node when it is an HTML element of their name:
// those of kBlockEnd and those read as "any other end tag", but for RB and RTC (which
// generate_implied_end_tags turns away). Every other name has a rule of its own in body_end.
constexpr TagSet kPopsCurrent = [] {
  TagSet t{};
  t.fill(true);
  for (const Tag tag : {A, Nobr, Template, Search, Body, Html, Form, P, Li, Dd, Dt, Applet, Marquee,
                        Object, Br, Rb, Rtc, H1, H2, H3, H4, H5, H6, B, Big, Code, Em, Font, I, S,
                        Small, Strike, Strong, Tt, U})
    t[tag] = false;
  return t;
}();
// Void elements of the head, inserted and popped where they stand.
constexpr TagSet kHeadVoid = tag_set({Base, Basefont, Bgsound, Link, Meta});
constexpr TagSet kFormatting =
    tag_set({B, Big, Code, Em, Font, I, S, Small, Strike, Strong, Tt, U});
static_assert([] {
  for (std::size_t t = 0; t < kTagCount; ++t)
    if (kPopsCurrent[t] && (kFormatting[t] || kHeading[t])) return false;
  return true;
}(), "kPopsCurrent leaves out the formatting elements and the headings");
// Start tags that leave SVG and MathML (font too, with some attributes: not followed).
constexpr TagSet kBreakout =
    tag_set({B,      Big,     Blockquote, Body, Br,    Center, Code, Dd,  Div,  Dl, Dt,    Em,
             Embed,  Font,    H1,         H2,   H3,    H4,     H5,   H6,  Head, Hr, I,     Img,
             Li,     Listing, Menu,       Meta, Nobr,  Ol,     P,    Pre, Ruby, S,  Small, Span,
             Strike, Strong,  Sub,        Sup,  Table, Tt,     U,    Ul,  Var});
// Elements whose content the profile copies without reading its tags: in SVG and MathML the
// parser reads tags there.
constexpr TagSet kCopiedContent = tag_set({Script, Style, Title, Noscript, Textarea, Xmp, Iframe,
                                           Noembed, Noframes, Plaintext, Pre, Listing});
// Elements whose content is raw text or RCDATA in HTML: the next token is their end tag.
constexpr TagSet kRawText =
    tag_set({Script, Style, Title, Noscript, Textarea, Xmp, Iframe, Noembed, Noframes});
constexpr TagSet kTableSection = tag_set({Tbody, Tfoot, Thead});
constexpr TagSet kTablePart = tag_set({Caption, Col, Colgroup, Tbody, Td, Tfoot, Th, Thead, Tr});

// What a start tag in the body does before the rules of its own name: body_start's first checks,
// in their order, as one load per name.
enum class BodyStart : std::uint8_t {
  Ignored, Void, Unfollowed, Dialog, ClosesP, Heading, RawText, ByName
};
constexpr auto kBodyStart = [] {
  std::array<BodyStart, kTagCount> t{};
  for (std::size_t k = 0; k < kTagCount; ++k) {
    const auto tag = static_cast<Tag>(k);
    // Merged into the root or body, or ignored here.
    if (tag == Html || tag == Body || kTablePart[tag] || tag == Frame || tag == Head) {
      t[k] = BodyStart::Ignored;
    } else if (kHeadVoid[tag] || tag == Param || tag == Source || tag == Track) {
      t[k] = BodyStart::Void;
    } else if (tag == Template || tag == Frameset || tag == Image || tag == Search ||
               tag == Command || tag == Isindex) {
      t[k] = BodyStart::Unfollowed;  // read differently by parsers of different ages
    } else if (tag == Dialog) {
      t[k] = BodyStart::Dialog;
    } else if (kClosesP[tag]) {
      t[k] = BodyStart::ClosesP;
    } else if (kHeading[tag]) {
      t[k] = BodyStart::Heading;
    } else if (kRawText[tag]) {
      t[k] = BodyStart::RawText;
    } else {
      t[k] = BodyStart::ByName;
    }
  }
  return t;
}();
static_assert(kClosesP[Dialog], "a dialog not in the P's scope goes on as a block");

}  // namespace

// body_start's and body_end's plain cases: those whose steps are a push or a pop alone.
constexpr std::array<std::uint8_t, kTagCount> kBodyStepsOf = [] {
  using body_step::kPush, body_step::kVoid, body_step::kReconstructs, body_step::kFormats;
  std::array<std::uint8_t, kTagCount> t{};
  for (std::size_t k = 0; k < kTagCount; ++k) {
    const auto tag = static_cast<Tag>(k);
    switch (kBodyStart[k]) {
      case BodyStart::Void:
        t[k] = kVoid;
        break;
      case BodyStart::ClosesP:
        t[k] = kPush | body_step::kClosesP;
        break;
      case BodyStart::ByName:
        if (tag == Area || tag == Br || tag == Embed || tag == Img || tag == Keygen || tag == Wbr ||
            tag == Input) {
          t[k] = kVoid | kReconstructs;
        } else if (kFormatting[tag] || tag == A) {
          t[k] = kPush | kFormats;
        } else if (!(tag == Pre || tag == Listing || tag == Plaintext || tag == Hr || tag == Form ||
                     tag == Li || tag == Dd || tag == Dt || tag == Button || tag == Nobr ||
                     tag == Applet || tag == Marquee || tag == Object || tag == Table ||
                     tag == Select || tag == Optgroup || tag == Option || tag == Rb ||
                     tag == Rtc || tag == Rp || tag == Rt || tag == Math || tag == Svg)) {
          t[k] = kPush | kReconstructs;  // body_start's last two steps
        }
        break;
      default:
        break;
    }
    if (tag == Li || tag == Dd || tag == Dt) t[k] = kPush | body_step::kClosesP | body_step::kItem;
    // body_start's walk for list items stops at these as it meets them, with nothing closed.
    if (kSpecial[tag] && !kMaybeSpecial[tag] && tag != Address && tag != Div && tag != P &&
        tag != Li && tag != Dd && tag != Dt)
      t[k] = static_cast<std::uint8_t>(t[k] | body_step::kEndsItemWalk);
    // Of these only the formatting elements are ever listed. A P, a list item or a heading as the
    // current node is the end of the implied end tags, and the element popped.
    if (kPopsCurrent[tag] || kFormatting[tag] || tag == A || tag == Nobr || tag == P || tag == Li ||
        tag == Dd || tag == Dt || kHeading[tag])
      t[k] = static_cast<std::uint8_t>(t[k] | body_step::kPopsCurrent);
  }
  return t;
}();
const std::array<std::uint8_t, kTagCount> kBodySteps = kBodyStepsOf;

namespace {

constexpr std::uint64_t kAnnotationXml = fnv("annotation-xml");
constexpr std::uint64_t kForeignObject = fnv("foreignobject");

bool same(const Name& a, const Name& b) { return a.tag == b.tag && a.hash == b.hash; }

}  // namespace

Name name_of_other(std::span<const unsigned char> name) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (const unsigned char c : name) h = (h ^ fold[c]) * 0x100000001b3ull;
  // The hash picks the candidate; the bytes decide, so no other name can pass for these two.
  const auto is = [name](std::string_view known) {
    return name.size() == known.size() && match_nocase(name, 0, known);
  };
  if (h == kAnnotationXml && is("annotation-xml")) return {AnnotationXml, 0};
  if (h == kForeignObject && is("foreignobject")) return {ForeignObject, 0};
  return {Other, h};
}

Name name_of(std::span<const unsigned char> name) {
  for (std::size_t t = 1; t < kTagCount; ++t) {
    const std::string_view known = kTagNames[t];
    if (known.size() == name.size() && match_nocase(name, 0, known))
      return {static_cast<Tag>(t), 0};
  }
  return name_of_other(name);
}

// ---- The stack and the list ----

void OpenElements::push(Name name, Ns ns) {
  if (depth_ == kMaxDepth) {
    lose();
    return;
  }
  put(stack_[depth_++], Entry{name, ns, -1});
  current_ns_ = ns;
  if (ns == Ns::Html) ++open_html_[name.tag];
  text_last_ = false;
}

void OpenElements::pop() {
  if (depth_ == 0) return;
  text_last_ = false;
  const Entry& e = stack_[--depth_];
  track_current();
  if (e.ns == Ns::Html) --open_html_[e.name.tag];
  if (e.formatting >= 0) formatting_[static_cast<std::size_t>(e.formatting)].element = -1;
}

bool OpenElements::current_is(Tag tag) const {
  return depth_ > 0 && current().ns == Ns::Html && current().name.tag == tag;
}

void OpenElements::pop_until(Tag tag) {
  while (depth_ > 0) {
    const bool last = current_is(tag);
    pop();
    if (last) return;
  }
}

void OpenElements::pop_until_in(bool (*stop)(Tag)) {
  while (depth_ > 0) {
    const bool last = current().ns == Ns::Html && stop(current().name.tag);
    pop();
    if (last) return;
  }
}

namespace {

// The special elements of each namespace, indexed by Ns.
constexpr std::array<TagSet, 3> kSpecialIn = {kSpecial, tag_set({ForeignObject, Desc, Title}),
                                              tag_set({Mi, Mo, Mn, Ms, Mtext, AnnotationXml})};
static_assert(static_cast<int>(Ns::Html) == 0 && static_cast<int>(Ns::Svg) == 1 &&
              static_cast<int>(Ns::Math) == 2);

bool is_special(Ns ns, Tag tag) { return kSpecialIn[static_cast<std::size_t>(ns)][tag]; }

// The elements that end a walk down the stack for each scope family, by namespace:
// [family][ns][tag]. Every family but table scope stops at the foreign special elements; select
// scope stops at everything but optgroup and option.
using ScopeBoundaries = std::array<std::array<TagSet, 3>, 5>;
constexpr ScopeBoundaries kScopeBoundary = [] {
  ScopeBoundaries t{};
  const TagSet html = tag_set({Applet, Caption, Html, Table, Td, Th, Marquee, Object, Template});
  for (const Scope family : {Scope::Default, Scope::ListItem, Scope::Button}) {
    auto& f = t[static_cast<std::size_t>(family)];
    f = kSpecialIn;
    f[0] = html;
  }
  t[static_cast<std::size_t>(Scope::ListItem)][0][Ol] = true;
  t[static_cast<std::size_t>(Scope::ListItem)][0][Ul] = true;
  t[static_cast<std::size_t>(Scope::Button)][0][Button] = true;
  t[static_cast<std::size_t>(Scope::Table)][0] = tag_set({Html, Table, Template});
  for (TagSet& ns : t[static_cast<std::size_t>(Scope::Select)]) ns.fill(true);
  t[static_cast<std::size_t>(Scope::Select)][0][Optgroup] = false;
  t[static_cast<std::size_t>(Scope::Select)][0][Option] = false;
  return t;
}();

bool ends_scope(Scope family, Ns ns, Tag tag) {
  return kScopeBoundary[static_cast<std::size_t>(family)][static_cast<std::size_t>(ns)][tag];
}

bool is_heading(Tag tag) { return kHeading[tag]; }
bool maybe_special(Ns ns, Tag tag) { return ns == Ns::Html && kMaybeSpecial[tag]; }
// Special in one of the parsers in use: a rule that stops at special elements is not followed.
bool special_in_some(Ns ns, Tag tag) { return is_special(ns, tag) || maybe_special(ns, tag); }
bool is_cell(Tag tag) { return tag == Td || tag == Th; }
bool is_section(Tag tag) { return kTableSection[tag]; }

}  // namespace

template <class Match>
bool OpenElements::in_scope_where(Match match, Scope family) const {
  for (std::size_t k = depth_; k-- > 0;) {
    const Entry& e = stack_[k];
    if (e.ns == Ns::Html && match(e.name.tag)) return true;
    if (ends_scope(family, e.ns, e.name.tag)) return false;
  }
  return false;
}

bool OpenElements::in_scope(Tag tag, Scope family) const {
  return open_html_[tag] != 0 && in_scope_where([tag](Tag t) { return t == tag; }, family);
}

void OpenElements::clear_to(bool (*stop)(Tag)) {
  while (depth_ > 0 && !(current().ns == Ns::Html && stop(current().name.tag))) pop();
}

void OpenElements::close_through(Tag tag) {
  generate_implied_end_tags(Other);
  pop_until(tag);
}

void OpenElements::generate_implied_end_tags(Tag except) {
  // Older parsers do not close RB and RTC here.
  if (depth_ > 0 && current().ns == Ns::Html &&
      (current().name.tag == Rb || current().name.tag == Rtc)) {
    lose();
    return;
  }
  while (depth_ > 0 && current().ns == Ns::Html && kImpliedEnd[current().name.tag] &&
         current().name.tag != except)
    pop();
}

void OpenElements::close_p() {
  generate_implied_end_tags(P);
  pop_until(P);
}

void OpenElements::close_p_in_button_scope() {
  if (in_scope(P, Scope::Button)) close_p();
}

void OpenElements::reconstruct() {
  if (!reconstruct_pending()) return;
  std::size_t k = formatting_count_ - 1;
  while (k > 0 && formatting_[k - 1].element == -1) --k;
  for (; k < formatting_count_ && known(); ++k) {
    push(formatting_[k].name);
    if (!known()) return;
    stack_[depth_ - 1].formatting = static_cast<std::int32_t>(k);
    formatting_[k].element = static_cast<std::int32_t>(depth_ - 1);
  }
}

void OpenElements::push_formatting(Name name) {
  // Noah's Ark: a fourth entry of one name would drop the oldest whose attributes match; the
  // attributes are not followed here.
  int same_name = 0;
  for (std::size_t k = formatting_count_; k-- > 0 && formatting_[k].element != kMarker;)
    same_name += same(formatting_[k].name, name) ? 1 : 0;
  if (same_name >= 3 || formatting_count_ == kMaxFormatting) {
    lose();
    return;
  }
  put(formatting_[formatting_count_], Formatting{name, static_cast<std::int32_t>(depth_ - 1)});
  stack_[depth_ - 1].formatting = static_cast<std::int32_t>(formatting_count_++);
}

bool OpenElements::formatting_after_marker(Tag tag) const {
  for (std::size_t k = formatting_count_; k-- > 0 && formatting_[k].element != kMarker;)
    if (formatting_[k].name.tag == tag) return true;
  return false;
}

void OpenElements::push_marker() {
  if (formatting_count_ == kMaxFormatting) {
    lose();
    return;
  }
  formatting_[formatting_count_++] = Formatting{Name{}, kMarker};
}

void OpenElements::clear_to_marker() {
  while (formatting_count_ > 0) {
    const Formatting& f = formatting_[--formatting_count_];
    if (f.element == kMarker) return;
    if (f.element >= 0) stack_[static_cast<std::size_t>(f.element)].formatting = -1;
  }
}

void OpenElements::remove_formatting(std::size_t k) {
  if (formatting_[k].element >= 0)
    stack_[static_cast<std::size_t>(formatting_[k].element)].formatting = -1;
  for (std::size_t j = k + 1; j < formatting_count_; ++j) {
    formatting_[j - 1] = formatting_[j];
    if (formatting_[j - 1].element >= 0)
      stack_[static_cast<std::size_t>(formatting_[j - 1].element)].formatting =
          static_cast<std::int32_t>(j - 1);
  }
  --formatting_count_;
}

// ---- Tokens ----

void OpenElements::doctype(bool no_quirks) {
  if (mode_ != Mode::Initial) return;  // ignored anywhere else
  quirks_ = no_quirks ? Quirks::No : Quirks::Maybe;
  mode_ = Mode::BeforeHtml;
}

void OpenElements::any_text(bool space_only) {
  if (!known()) return;
  if (space_only &&
      (mode_ == Mode::Initial || mode_ == Mode::BeforeHtml || mode_ == Mode::BeforeHead))
    return;  // ignored
  const bool joins = text_last_;
  insert_text(space_only);
  // White space joining a text of white space alone, or making one, leaves it white space alone.
  text_last_ = joins || !space_only;
}

void OpenElements::insert_text(bool space_only) {
  if (foreign_here() && !is_special(current().ns, current().name.tag)) return;
  switch (mode_) {
    case Mode::Initial:
      if (space_only) return;
      quirks_ = Quirks::Yes;
      mode_ = Mode::BeforeHtml;
      [[fallthrough]];
    case Mode::BeforeHtml:
      if (space_only) return;
      push({Html, 0});
      mode_ = Mode::BeforeHead;
      [[fallthrough]];
    case Mode::BeforeHead:
      if (space_only) return;
      open_head();
      [[fallthrough]];
    case Mode::InHead:
      if (space_only) return;
      pop();
      mode_ = Mode::AfterHead;
      [[fallthrough]];
    case Mode::AfterHead:
      if (space_only) return;
      open_body();
      [[fallthrough]];
    case Mode::InBody:
    case Mode::InCell:
    case Mode::InCaption:
      reconstruct();
      return;
    case Mode::AfterBody:
    case Mode::AfterAfterBody:
      reconstruct();
      if (!space_only) mode_ = Mode::InBody;
      return;
    case Mode::InTable:
    case Mode::InTableBody:
    case Mode::InRow:
    case Mode::InColumnGroup:
      if (!space_only) lose();  // foster parenting
      return;
    case Mode::InSelect:
      return;
    case Mode::Text:
    case Mode::Unknown:
      lose();
      return;
  }
}

// The head and body elements the parser makes up when the page has no tags of them.
void OpenElements::open_head() {
  push({Head, 0});
  head_made_ = true;
  mode_ = Mode::InHead;
}

void OpenElements::open_body() {
  push({Body, 0});
  mode_ = Mode::InBody;
}

void OpenElements::to_body() {
  if (mode_ == Mode::Initial) {
    quirks_ = Quirks::Yes;
    mode_ = Mode::BeforeHtml;
  }
  if (mode_ == Mode::BeforeHtml) {
    push({Html, 0});
    mode_ = Mode::BeforeHead;
  }
}

void OpenElements::any_start_tag(Name name, bool self_closing) {
  if (!known()) return;
  const Tag tag = name.tag;
  if (foreign_here()) {
    if (is_special(current().ns, current().name.tag)) {
      lose();  // an integration point: HTML rules with exceptions not followed here
      return;
    }
    foreign_start(name, self_closing);
    return;
  }
  switch (mode_) {
    case Mode::Initial:
    case Mode::BeforeHtml:
      to_body();
      if (tag == Html) return;  // the html element is there now
      [[fallthrough]];
    case Mode::BeforeHead:
      if (tag == Html) return;
      open_head();
      if (tag == Head) return;
      [[fallthrough]];
    case Mode::InHead:
      if (tag == Html || tag == Head) return;
      if (kHeadVoid[tag]) {
        text_last_ = false;
        return;
      }
      if (kRawText[tag] && tag != Textarea && tag != Xmp && tag != Iframe && tag != Noembed) {
        push(name);
        text_return_ = Mode::InHead;
        mode_ = Mode::Text;
        return;
      }
      if (tag == Template) {
        lose();
        return;
      }
      pop();
      mode_ = Mode::AfterHead;
      [[fallthrough]];
    case Mode::AfterHead:
      if (tag == Html || tag == Head || kHeadVoid[tag]) return;
      if (tag == Body) {
        push(name);
        mode_ = Mode::InBody;
        return;
      }
      if (tag == Frameset || tag == Template || tag == Title || tag == Style || tag == Script ||
          tag == Noframes) {
        lose();
        return;
      }
      open_body();
      body_start(name, self_closing);
      return;
    case Mode::InBody:
      body_start(name, self_closing);
      return;
    case Mode::AfterBody:
    case Mode::AfterAfterBody:
      if (tag == Html) return;
      mode_ = Mode::InBody;
      body_start(name, self_closing);
      return;
    case Mode::InTable:
    case Mode::InCaption:
    case Mode::InColumnGroup:
    case Mode::InTableBody:
    case Mode::InRow:
    case Mode::InCell:
      table_start(name, self_closing);
      return;
    case Mode::InSelect:
      select_start(name);
      return;
    case Mode::Text:
    case Mode::Unknown:
      lose();
      return;
  }
}

void OpenElements::body_start(Name name, bool self_closing) {
  const Tag tag = name.tag;
  switch (kBodyStart[tag]) {
    case BodyStart::Ignored:
      return;
    case BodyStart::Void:
      text_last_ = false;
      return;
    case BodyStart::Unfollowed:
      lose();
      return;
    case BodyStart::Dialog:
      if (in_scope(P, Scope::Button)) {
        lose();
        return;
      }
      [[fallthrough]];
    case BodyStart::ClosesP:
      close_p_in_button_scope();
      push(name);
      return;
    case BodyStart::Heading:
      close_p_in_button_scope();
      if (depth_ > 0 && current().ns == Ns::Html && kHeading[current().name.tag]) pop();
      push(name);
      return;
    case BodyStart::RawText:
      if (tag == Xmp) {
        close_p_in_button_scope();
        reconstruct();
      }
      push(name);
      text_return_ = mode_;
      mode_ = Mode::Text;
      return;
    case BodyStart::ByName:
      break;
  }
  switch (tag) {
    case Pre:
    case Listing:
    case Plaintext:
      close_p_in_button_scope();
      push(name);
      return;
    case Hr:
      close_p_in_button_scope();
      text_last_ = false;
      return;
    case Form:
      if (form_open_) return;
      close_p_in_button_scope();
      push(name);
      form_open_ = true;
      return;
    case Li:
    case Dd:
    case Dt:
      for (std::size_t k = depth_; k-- > 0;) {
        const Entry& e = stack_[k];
        const bool match = e.ns == Ns::Html &&
                           (tag == Li ? e.name.tag == Li : (e.name.tag == Dd || e.name.tag == Dt));
        if (match) {
          const Tag found = e.name.tag;
          generate_implied_end_tags(found);
          pop_until(found);
          break;
        }
        if (maybe_special(e.ns, e.name.tag)) {
          lose();
          return;
        }
        if (is_special(e.ns, e.name.tag) &&
            !(e.ns == Ns::Html && (e.name.tag == Address || e.name.tag == Div || e.name.tag == P)))
          break;
      }
      close_p_in_button_scope();
      push(name);
      return;
    case Button:
      if (in_scope(Button, Scope::Default)) {
        close_through(Button);
      }
      reconstruct();
      push(name);
      return;
    case A:
      // A link inside a link: the open one is closed first, by the adoption agency.
      if (formatting_after_marker(A)) {
        adoption_agency(name);
        if (formatting_after_marker(A)) lose();  // still there: taken out of the middle
        if (!known()) return;
      }
      reconstruct();
      push(name);
      push_formatting(name);
      return;
    case Nobr:
      reconstruct();
      if (in_scope(Nobr, Scope::Default)) {
        adoption_agency(name);
        if (!known()) return;
        reconstruct();
      }
      push(name);
      push_formatting(name);
      return;
    case Applet:
    case Marquee:
    case Object:
      reconstruct();
      push(name);
      push_marker();
      return;
    case Table:
      if (quirks_ != Quirks::Yes && in_scope(P, Scope::Button)) {
        if (quirks_ == Quirks::Maybe) {
          lose();
          return;
        }
        close_p();
      }
      push(name);
      mode_ = Mode::InTable;
      return;
    case Area:
    case Br:
    case Embed:
    case Img:
    case Keygen:
    case Wbr:
    case Input:
      reconstruct();
      text_last_ = false;
      return;
    case Select:
      reconstruct();
      push(name);
      if (mode_ == Mode::InBody) {
        mode_ = Mode::InSelect;
      } else {
        lose();  // select in a table
      }
      return;
    case Optgroup:
    case Option:
      if (current_is(Option)) pop();
      reconstruct();
      push(name);
      return;
    case Rb:
    case Rtc:
    case Rp:
    case Rt:
      if (in_scope(Ruby, Scope::Default)) {
        lose();  // older parsers close other elements here
        return;
      }
      push(name);
      return;
    case Math:
    case Svg:
      reconstruct();
      push(name, tag == Math ? Ns::Math : Ns::Svg);
      if (self_closing) pop();
      return;
    default:
      break;
  }
  if (kFormatting[tag]) {
    reconstruct();
    push(name);
    push_formatting(name);
    return;
  }
  reconstruct();
  push(name);
}

void OpenElements::foreign_start(Name name, bool self_closing) {
  if (kBreakout[name.tag] || kCopiedContent[name.tag]) {
    lose();
    return;
  }
  push(name, current().ns);
  if (self_closing) pop();
}

void OpenElements::any_end_tag(Name name) {
  if (!known()) return;
  if (mode_ == Mode::Text) {
    pop();
    mode_ = text_return_;
    return;
  }
  if (foreign_here()) {
    foreign_end(name);
    return;
  }
  const Tag tag = name.tag;
  switch (mode_) {
    case Mode::Initial:
    case Mode::BeforeHtml:
      if (tag != Head && tag != Body && tag != Html && tag != Br) return;
      to_body();
      [[fallthrough]];
    case Mode::BeforeHead:
      if (tag != Head && tag != Body && tag != Html && tag != Br) return;
      open_head();
      [[fallthrough]];
    case Mode::InHead:
      if (tag == Head) {
        pop();
        mode_ = Mode::AfterHead;
        return;
      }
      if (tag == Template) {
        lose();
        return;
      }
      if (tag != Body && tag != Html && tag != Br) return;
      pop();
      mode_ = Mode::AfterHead;
      [[fallthrough]];
    case Mode::AfterHead:
      if (tag == Template) {
        lose();
        return;
      }
      if (tag != Body && tag != Html && tag != Br) return;
      open_body();
      body_end(name);
      return;
    case Mode::InBody:
      body_end(name);
      return;
    case Mode::AfterBody:
      if (tag == Html) {
        mode_ = Mode::AfterAfterBody;
        return;
      }
      mode_ = Mode::InBody;
      body_end(name);
      return;
    case Mode::AfterAfterBody:
      mode_ = Mode::InBody;
      body_end(name);
      return;
    case Mode::InTable:
    case Mode::InCaption:
    case Mode::InColumnGroup:
    case Mode::InTableBody:
    case Mode::InRow:
    case Mode::InCell:
      table_end(name);
      return;
    case Mode::InSelect:
      select_end(name);
      return;
    case Mode::Text:
    case Mode::Unknown:
      return;
  }
}

void OpenElements::body_end(Name name) {
  const Tag tag = name.tag;
  // Most end tags close the current node: the steps below come down to one pop.
  if (kPopsCurrent[tag] && depth_ > 0 && current().ns == Ns::Html && same(current().name, name)) {
    pop();
    return;
  }
  if (kBlockEnd[tag]) {
    if (!in_scope(tag, Scope::Default)) return;
    close_through(tag);
    return;
  }
  if (kHeading[tag]) {
    if (!in_scope_where(is_heading, Scope::Default)) return;
    generate_implied_end_tags(Other);
    pop_until_in(is_heading);
    return;
  }
  if (kFormatting[tag] || tag == A || tag == Nobr) {
    adoption_agency(name);
    return;
  }
  switch (tag) {
    case Template:
    case Search:
      lose();
      return;
    case Body:
    case Html:
      if (!in_scope(Body, Scope::Default)) return;
      mode_ = tag == Body ? Mode::AfterBody : Mode::AfterAfterBody;
      return;
    case Form:
      form_open_ = false;
      if (!in_scope(Form, Scope::Default)) return;
      generate_implied_end_tags(Other);
      if (current_is(Form)) {
        pop();
      } else {
        lose();  // taken out of the middle of the stack
      }
      return;
    case P:
      if (in_scope(P, Scope::Button)) close_p();
      text_last_ = false;  // otherwise an empty P is made and closed
      return;
    case Li:
      if (!in_scope(Li, Scope::ListItem)) return;
      generate_implied_end_tags(Li);
      pop_until(Li);
      return;
    case Dd:
    case Dt:
      if (!in_scope(tag, Scope::Default)) return;
      generate_implied_end_tags(tag);
      pop_until(tag);
      return;
    case Applet:
    case Marquee:
    case Object:
      if (!in_scope(tag, Scope::Default)) return;
      close_through(tag);
      clear_to_marker();
      return;
    case Br:
      reconstruct();  // read as <br>
      text_last_ = false;
      return;
    default:
      any_other_end_tag(name);
      return;
  }
}

void OpenElements::any_other_end_tag(Name name) {
  for (std::size_t k = depth_; k-- > 0;) {
    const Entry& e = stack_[k];
    if (e.ns == Ns::Html && same(e.name, name)) {
      generate_implied_end_tags(name.tag);
      while (depth_ > k) pop();
      return;
    }
    if (maybe_special(e.ns, e.name.tag)) {
      lose();
      return;
    }
    if (is_special(e.ns, e.name.tag)) return;
  }
}

void OpenElements::adoption_agency(Name name) {
  if (depth_ > 0 && current().ns == Ns::Html && same(current().name, name)) {
    // Most often the current node is the last entry of the list as well: the steps below come
    // down to taking both off.
    const std::int32_t last = static_cast<std::int32_t>(formatting_count_) - 1;
    if (current().formatting < 0 || current().formatting == last) {
      const bool listed = current().formatting >= 0;
      pop();
      formatting_count_ -= listed ? 1 : 0;
      return;
    }
  }
  std::size_t k = formatting_count_;
  while (k-- > 0 && formatting_[k].element != kMarker)
    if (same(formatting_[k].name, name)) break;
  if (k == SIZE_MAX || formatting_[k].element == kMarker) {
    any_other_end_tag(name);
    return;
  }
  const std::int32_t at = formatting_[k].element;
  if (at < 0) {
    remove_formatting(k);
    return;
  }
  const auto element = static_cast<std::size_t>(at);
  for (std::size_t j = depth_; j-- > element + 1;)
    if (ends_scope(Scope::Default, stack_[j].ns, stack_[j].name.tag))
      return;  // not in scope: ignored
  for (std::size_t j = element + 1; j < depth_; ++j)
    if (special_in_some(stack_[j].ns, stack_[j].name.tag)) {
      lose();  // a furthest block: the tree is rebuilt
      return;
    }
  while (depth_ > element) pop();
  remove_formatting(k);
}

void OpenElements::foreign_end(Name name) {
  if (name.tag == Br || name.tag == P) {
    lose();
    return;
  }
  for (std::size_t k = depth_; k-- > 0;) {
    if (k == 0) return;
    if (same(stack_[k].name, name)) {
      while (depth_ > k) pop();
      return;
    }
    if (stack_[k - 1].ns == Ns::Html) {
      lose();  // handed to the insertion mode's rules
      return;
    }
  }
}

// ---- Tables and select ----

namespace {
bool table_context(Tag t) { return t == Table || t == Template || t == Html; }
bool body_context(Tag t) { return is_section(t) || t == Template || t == Html; }
bool row_context(Tag t) { return t == Tr || t == Template || t == Html; }
}  // namespace

void OpenElements::close_caption() {
  close_through(Caption);
  clear_to_marker();
  mode_ = Mode::InTable;
}

void OpenElements::close_cell() {
  generate_implied_end_tags(Other);
  pop_until_in(is_cell);
  clear_to_marker();
  mode_ = Mode::InRow;
}

void OpenElements::table_start(Name name, bool self_closing) {
  const Tag tag = name.tag;
  for (;;) {  // each turn one mode's rules; `continue` reprocesses the token
    if (!known()) return;
    switch (mode_) {
      case Mode::InCaption:
        if (!kTablePart[tag]) {
          body_start(name, self_closing);
          return;
        }
        if (!in_scope(Caption, Scope::Table)) return;
        close_caption();
        continue;
      case Mode::InColumnGroup:
        if (tag == Html) return;
        if (tag == Col) {
          text_last_ = false;
          return;
        }
        if (tag == Template || !current_is(Colgroup)) {
          lose();
          return;
        }
        pop();
        mode_ = Mode::InTable;
        continue;
      case Mode::InCell:
        if (!kTablePart[tag]) {
          body_start(name, self_closing);
          return;
        }
        if (!in_scope_where(is_cell, Scope::Table)) return;
        close_cell();
        continue;
      case Mode::InRow:
        if (tag == Td || tag == Th) {
          clear_to(row_context);
          push(name);
          mode_ = Mode::InCell;
          push_marker();
          return;
        }
        if (kTablePart[tag]) {
          if (!in_scope(Tr, Scope::Table)) return;
          clear_to(row_context);
          pop();
          mode_ = Mode::InTableBody;
          continue;
        }
        break;
      case Mode::InTableBody:
        if (tag == Tr) {
          clear_to(body_context);
          push(name);
          mode_ = Mode::InRow;
          return;
        }
        if (tag == Td || tag == Th) {
          clear_to(body_context);
          push({Tr, 0});
          mode_ = Mode::InRow;
          continue;
        }
        if (tag == Caption || tag == Col || tag == Colgroup || is_section(tag)) {
          if (!in_scope_where(is_section, Scope::Table)) return;
          clear_to(body_context);
          pop();
          mode_ = Mode::InTable;
          continue;
        }
        break;
      default:
        break;
    }
    // In table.
    mode_ = mode_ == Mode::InTable || mode_ == Mode::InTableBody || mode_ == Mode::InRow
                ? mode_
                : Mode::Unknown;
    if (!known()) return;
    switch (tag) {
      case Caption:
        clear_to(table_context);
        push_marker();
        push(name);
        mode_ = Mode::InCaption;
        return;
      case Colgroup:
        clear_to(table_context);
        push(name);
        mode_ = Mode::InColumnGroup;
        return;
      case Col:
        clear_to(table_context);
        push({Colgroup, 0});
        mode_ = Mode::InColumnGroup;
        return;  // the col itself is void
      case Tbody:
      case Tfoot:
      case Thead:
        clear_to(table_context);
        push(name);
        mode_ = Mode::InTableBody;
        return;
      case Td:
      case Th:
      case Tr:
        clear_to(table_context);
        push({Tbody, 0});
        mode_ = Mode::InTableBody;
        continue;
      case Style:
      case Script:
        push(name);
        text_return_ = mode_;
        mode_ = Mode::Text;
        return;
      default:
        lose();  // a nested table, a form or input, or content fostered out of the table
        return;
    }
  }
}

void OpenElements::table_end(Name name) {
  const Tag tag = name.tag;
  for (;;) {
    if (!known()) return;
    switch (mode_) {
      case Mode::InCaption:
        if (tag == Caption || tag == Table) {
          if (!in_scope(Caption, Scope::Table)) return;
          close_caption();
          if (tag == Caption) return;
          continue;
        }
        if (kTablePart[tag] || tag == Body || tag == Html) return;
        body_end(name);
        return;
      case Mode::InColumnGroup:
        if (tag == Col) return;
        if (tag == Template || !current_is(Colgroup)) {
          lose();
          return;
        }
        pop();
        mode_ = Mode::InTable;
        if (tag == Colgroup) return;
        continue;
      case Mode::InCell:
        if (is_cell(tag)) {
          if (!in_scope(tag, Scope::Table)) return;
          close_through(tag);
          clear_to_marker();
          mode_ = Mode::InRow;
          return;
        }
        if (tag == Body || tag == Caption || tag == Col || tag == Colgroup || tag == Html) return;
        if (tag == Table || is_section(tag) || tag == Tr) {
          if (!in_scope(tag, Scope::Table)) return;
          close_cell();
          continue;
        }
        body_end(name);
        return;
      case Mode::InRow:
        if (tag == Tr || tag == Table || is_section(tag)) {
          if (is_section(tag) && !in_scope(tag, Scope::Table)) return;
          if (!in_scope(Tr, Scope::Table)) return;
          clear_to(row_context);
          pop();
          mode_ = Mode::InTableBody;
          if (tag == Tr) return;
          continue;
        }
        if (tag == Body || tag == Caption || tag == Col || tag == Colgroup || tag == Html ||
            is_cell(tag))
          return;
        break;
      case Mode::InTableBody:
        if (is_section(tag) || tag == Table) {
          if (is_section(tag) ? !in_scope(tag, Scope::Table)
                              : !in_scope_where(is_section, Scope::Table))
            return;
          clear_to(body_context);
          pop();
          mode_ = Mode::InTable;
          if (tag != Table) return;
          continue;
        }
        if (tag == Body || tag == Caption || tag == Col || tag == Colgroup || tag == Html ||
            is_cell(tag) || tag == Tr)
          return;
        break;
      default:
        break;
    }
    // In table.
    if (tag == Table) {
      if (!in_scope(Table, Scope::Table)) return;
      pop_until(Table);
      reset_mode();
      return;
    }
    if (tag == Body || kTablePart[tag] || tag == Html) return;
    lose();  // any other end tag, with foster parenting
    return;
  }
}

void OpenElements::close_select() {
  if (!in_scope(Select, Scope::Select)) return;
  pop_until(Select);
  reset_mode();
}

void OpenElements::select_start(Name name) {
  switch (name.tag) {
    case Html:
      return;
    case Option:
      if (current_is(Option)) pop();
      push(name);
      return;
    case Optgroup:
      if (current_is(Option)) pop();
      if (current_is(Optgroup)) pop();
      push(name);
      return;
    case Select:
      close_select();
      return;
    default:
      // Parsers differ here: older ones drop other tags in a select, newer ones keep them.
      lose();
      return;
  }
}

void OpenElements::select_end(Name name) {
  switch (name.tag) {
    case Optgroup:
      if (current_is(Option) && depth_ >= 2 && stack_[depth_ - 2].ns == Ns::Html &&
          stack_[depth_ - 2].name.tag == Optgroup)
        pop();
      if (current_is(Optgroup)) pop();
      return;
    case Option:
      if (current_is(Option)) pop();
      return;
    case Select:
      close_select();
      return;
    default:
      lose();
      return;
  }
}

void OpenElements::reset_mode() {
  for (std::size_t k = depth_; k-- > 0;) {
    const Entry& e = stack_[k];
    const bool last = k == 0;
    if (e.ns != Ns::Html) continue;
    switch (e.name.tag) {
      case Select:
        for (std::size_t j = k; j-- > 0;)
          if (stack_[j].ns == Ns::Html && stack_[j].name.tag == Table) {
            lose();
            return;
          }
        mode_ = Mode::InSelect;
        return;
      case Td:
      case Th:
        if (last) break;
        mode_ = Mode::InCell;
        return;
      case Tr:
        mode_ = Mode::InRow;
        return;
      case Tbody:
      case Thead:
      case Tfoot:
        mode_ = Mode::InTableBody;
        return;
      case Caption:
        mode_ = Mode::InCaption;
        return;
      case Colgroup:
        mode_ = Mode::InColumnGroup;
        return;
      case Table:
        mode_ = Mode::InTable;
        return;
      case Template:
      case Frameset:
        lose();
        return;
      case Head:
        if (last) break;
        mode_ = Mode::InHead;
        return;
      case Body:
        mode_ = Mode::InBody;
        return;
      case Html:
        mode_ = head_made_ ? Mode::AfterHead : Mode::BeforeHead;
        return;
      default:
        break;
    }
    if (last) {
      mode_ = Mode::InBody;
      return;
    }
  }
  mode_ = Mode::InBody;
}

// ---- What may go ----

const std::array<bool, kTagCount> kStartActsInBody = [] {
  TagSet t{};
  for (std::size_t k = 0; k < kTagCount; ++k) {
    const auto n = static_cast<Tag>(k);
    // tag_acts' start tags in the body; a form's depends on whether one is open.
    t[k] = !kTablePart[n] && !(n == Html || n == Body || n == Head || n == Frame ||
                               n == Frameset || n == Template || n == Table || n == Form);
  }
  return t;
}();

bool OpenElements::space_may_go_by_rules(const Next& next) const {
  if (!known() || foreign_here()) return false;
  switch (mode_) {
    case Mode::Initial:
    case Mode::BeforeHtml:
    case Mode::BeforeHead:
    case Mode::InHead:
    case Mode::AfterHead:
    case Mode::InTable:
    case Mode::InTableBody:
    case Mode::InRow:
    case Mode::InColumnGroup:
      return true;
    case Mode::InBody:
    case Mode::InCell:
    case Mode::InCaption:
    case Mode::AfterBody:
    case Mode::AfterAfterBody:
    case Mode::InSelect:  // newer parsers read a select's content by the body's rules
      // Nor may the run join text before it, or after the next tag when that tag does nothing.
      return !reconstruct_pending() && !text_last_ && tag_acts(next);
    case Mode::Text:
    case Mode::Unknown:
      return false;
  }
  return false;
}

bool OpenElements::tag_acts(const Next& next) const {
  const Tag n = next.name.tag;
  if (next.kind == Next::EndOfInput) return true;
  // Text on the other side of a comment that goes would join the run.
  if (next.kind == Next::Comment) return next.ends_page;
  if (next.kind == Next::OtherToken) return false;
  const bool in_cell = mode_ == Mode::InCell || mode_ == Mode::InCaption;
  if (mode_ == Mode::InSelect) {
    // Older parsers ignore <hr> in a select, so text around it joins: only these two act in
    // both.
    if (next.kind == Next::StartTag) return n == Option || n == Optgroup;
    if (n == Option) return current_is(Option);
    return n == Optgroup && (current_is(Optgroup) || current_is(Option));
  }
  if (next.kind == Next::StartTag) {
    if (kTablePart[n]) return in_cell;
    // Text a table fosters out lands right before it, joined to text there.
    return !(n == Html || n == Body || n == Head || n == Frame || n == Frameset || n == Template ||
             n == Table || (n == Form && form_open_));
  }
  if (n == P || n == Br) return true;
  if (in_cell && (kTablePart[n] || n == Table)) return in_scope(n, Scope::Table);
  if (kBlockEnd[n] || n == Applet || n == Marquee || n == Object)
    return in_scope(n, Scope::Default);
  if (kHeading[n]) return in_scope_where(is_heading, Scope::Default);
  if (n == Li) return in_scope(Li, Scope::ListItem);
  if (n == Dd || n == Dt) return in_scope(n, Scope::Default);
  // After </body> or </html> text still joins what went before: only the end of the page is safe.
  if (n == Body || n == Html) return next.ends_page;
  if (n == Form || n == Template || kTablePart[n]) return false;
  if (kFormatting[n] || n == A || n == Nobr)
    return depth_ > 0 && current().ns == Ns::Html && same(current().name, next.name);
  for (std::size_t k = depth_; k-- > 0;) {  // any other end tag
    if (stack_[k].ns == Ns::Html && same(stack_[k].name, next.name)) return true;
    if (special_in_some(stack_[k].ns, stack_[k].name.tag)) return false;
  }
  return false;
}

bool OpenElements::comment_may_go() const {
  return known() && mode_ != Mode::InTable && mode_ != Mode::InTableBody && mode_ != Mode::InRow &&
         mode_ != Mode::InColumnGroup;
}

bool OpenElements::in_html_content() const { return !foreign_here(); }

bool OpenElements::end_tag_may_go(Tag self, const Next& next) const {
  if (!known() || foreign_here()) return false;
  const bool body_rules =
      mode_ == Mode::InBody || mode_ == Mode::InCell || mode_ == Mode::InCaption;
  if (self == Body)
    return mode_ == Mode::InBody && in_scope(Body, Scope::Default) &&
           (next.kind == Next::EndOfInput || (next.kind == Next::EndTag && next.name.tag == Html));
  if (self == Html)
    return (mode_ == Mode::InBody || mode_ == Mode::AfterBody || mode_ == Mode::AfterAfterBody) &&
           next.kind == Next::EndOfInput;
  if (depth_ < 2 || !current_is(self)) return false;
  const Entry& parent = stack_[depth_ - 2];
  const Tag n = next.name.tag;
  // The end tag of the element holding `self` pops `self` with the implied end tags.
  const bool parent_closes =
      next.kind == Next::EndTag && parent.ns == Ns::Html && same(parent.name, next.name) &&
      ((body_rules && (kBlockEnd[n] || kHeading[n] || n == Li || n == Dd || n == Dt ||
                       n == Applet || n == Marquee || n == Object)) ||
       (mode_ == Mode::InCell && is_cell(n)));
  switch (self) {
    case Li:
      return body_rules && ((next.kind == Next::StartTag && n == Li) || parent_closes);
    case Dd:
    case Dt:
      return body_rules && ((next.kind == Next::StartTag && (n == Dd || n == Dt)) || parent_closes);
    case P:
      if (!body_rules) return false;
      if (next.kind == Next::StartTag)
        // Not before a dialog: older parsers leave the P open there.
        return (kClosesP[n] && n != Dialog) || kHeading[n] || n == Pre || n == Listing || n == Hr ||
               (n == Table && quirks_ == Quirks::No);
      return parent_closes;
    case Td:
    case Th:
      if (mode_ != Mode::InCell) return false;
      if (next.kind == Next::StartTag) return kTablePart[n];
      return next.kind == Next::EndTag && (n == Tr || n == Table || is_section(n)) &&
             in_scope(n, Scope::Table);
    case Tr:
      if (mode_ != Mode::InRow) return false;
      if (next.kind == Next::StartTag) return n == Tr || is_section(n);
      return next.kind == Next::EndTag && (n == Table || is_section(n)) &&
             in_scope(n, Scope::Table);
    case Tbody:
    case Thead:
    case Tfoot:
      if (mode_ != Mode::InTableBody) return false;
      if (next.kind == Next::StartTag) return is_section(n);
      return next.kind == Next::EndTag && n == Table && in_scope(Table, Scope::Table);
    case Option:
      if (mode_ != Mode::InSelect) return false;
      if (next.kind == Next::StartTag) return n == Option || n == Optgroup;
      return next.kind == Next::EndTag &&
             ((n == Select && in_scope(Select, Scope::Select)) ||
              (n == Optgroup && parent.ns == Ns::Html && parent.name.tag == Optgroup));
    case Head:
      return mode_ == Mode::InHead && next.kind == Next::StartTag && n == Body;
    default:
      return false;
  }
}

std::size_t OpenElements::copy_stack(std::span<Tag> to) const {
  std::size_t n = 0;
  for (; n < depth_ && n < to.size(); ++n) to[n] = stack_[n].name.tag;
  return n;
}

}  // namespace markup::tree
