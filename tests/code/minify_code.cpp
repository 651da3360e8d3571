// Writes one file's minified bytes to another, for the code check. js: a .js file (either goal);
// script: a classic script (an inline one); mjs: a module; css: a style sheet; attr: a style="".
// Usage: minify_code KIND IN OUT.
// Exit status 0 when minified, 3 when the minifier kept the input as it is (OUT then holds it).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "optimize/css.h"
#include "optimize/js.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: minify_code css|attr|js|script|mjs IN OUT\n", stderr);
    return 2;
  }
  std::ifstream f(argv[2], std::ios::binary);
  if (!f) {
    std::fprintf(stderr, "cannot read %s\n", argv[2]);
    return 2;
  }
  const std::vector<unsigned char> in{std::istreambuf_iterator<char>(f), {}};
  std::vector<unsigned char> out(in.size());
  std::optional<std::size_t> n;
  const char* kind = argv[1];
  if (std::strcmp(kind, "css") == 0) {
    n = minify_css(in, CssInput::Sheet, out.data());
  } else if (std::strcmp(kind, "attr") == 0) {
    n = minify_css(in, CssInput::Declarations, out.data());
  } else if (std::strcmp(kind, "js") == 0) {
    n = minify_js(in, JsInput::Either, out.data());
  } else if (std::strcmp(kind, "script") == 0) {
    n = minify_js(in, JsInput::Script, out.data());
  } else if (std::strcmp(kind, "mjs") == 0) {
    n = minify_js(in, JsInput::Module, out.data());
  } else {
    std::fprintf(stderr, "unknown kind %s\n", kind);
    return 2;
  }
  std::ofstream o(argv[3], std::ios::binary);
  if (n) {
    o.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(*n));
  } else {
    o.write(reinterpret_cast<const char*>(in.data()), static_cast<std::streamsize>(in.size()));
  }
  return n ? 0 : 3;
}
