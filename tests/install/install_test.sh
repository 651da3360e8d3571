#!/usr/bin/env bash
# Checks what a user gets from `cmake --install`, the manual page, the Debian
# package and the bash completion.
#
#   install_test.sh CHECK BUILD_DIR SOURCE_DIR BINARY VERSION
#
# CHECK is one of: files, manpage, package, completion.
# Exit status: 0 pass, 1 fail, 77 skip (a needed tool is absent).
set -u
set -o pipefail

check=${1:?check name}
build=${2:?build directory}
src=${3:?source directory}
binary=${4:?sveltery binary}
version=${5:?project version}
# Some checks run from scratch directories: make every path absolute.
build=$(realpath -- "$build") && src=$(realpath -- "$src") && binary=$(realpath -- "$binary") ||
  exit 1

readonly options=(a c f h j l o p r v D H L V)
readonly long_options=(safe banner no-banner jobs type precompress css js update delete help version)
readonly maintainer='Sveltery maintainers <maintainers@sveltery.example>'
readonly manpage=$src/docs/sveltery.1
readonly completion=$src/completions/sveltery
printf -v banner_rule '<!-- %s -->' "$(printf '#%.0s' {1..85})"
readonly banner_rule

tmp=$(mktemp -d "${TMPDIR:-/tmp}/sveltery-install.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
skip() {
  echo "SKIP: $*"
  exit 77
}
finish() {
  if ((failures > 0)); then
    echo "$check: $failures failure(s)"
    exit 1
  fi
  echo "$check: ok"
  exit 0
}

# expect_mode FILE MODE: FILE exists and has exactly MODE (octal).
expect_mode() {
  if [[ ! -f $1 ]]; then
    fail "missing: $1"
    return
  fi
  local mode
  mode=$(stat -c %a "$1")
  [[ $mode == "$2" ]] || fail "$1 has mode $mode, expected $2"
}

# Every install writes install_manifest.txt into the build directory; put back
# what was there so that the tests leave the build folder as they found it.
keep_manifest() {
  if [[ -f $build/install_manifest.txt ]]; then
    cp -p "$build/install_manifest.txt" "$tmp/manifest.saved"
  fi
}
restore_manifest() {
  if [[ -f $tmp/manifest.saved ]]; then
    cp -p "$tmp/manifest.saved" "$build/install_manifest.txt"
  else
    rm -f "$build/install_manifest.txt"
  fi
}

# need_man_tools: man, groff and lexgrog, installed from Debian's packages when
# they are missing and we may do so.
need_man_tools() {
  local missing=()
  for tool in man groff lexgrog; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  ((${#missing[@]} == 0)) && return
  if [[ $(id -u) == 0 ]] && command -v apt-get >/dev/null; then
    echo "installing man-db and groff-base for: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    {
      apt-get install -y --no-install-recommends man-db groff-base ||
        { apt-get update && apt-get install -y --no-install-recommends man-db groff-base; }
    } >"$tmp/apt.log" 2>&1 || tail -5 "$tmp/apt.log"
  fi
  for tool in man groff lexgrog; do
    command -v "$tool" >/dev/null ||
      skip "$tool is not installed (apt-get install man-db groff-base)"
  done
}

check_files() {
  keep_manifest
  local prefix=$tmp/prefix
  # A strict umask must not leak into the installed files' modes.
  (umask 077 && cmake --install "$build" --prefix "$prefix") >"$tmp/install.log" 2>&1 ||
    { cat "$tmp/install.log"; fail "cmake --install failed"; }
  restore_manifest

  local page=$prefix/share/man/man1/sveltery.1.gz
  [[ -f $page ]] || page=$prefix/share/man/man1/sveltery.1
  expect_mode "$prefix/bin/sveltery" 755
  expect_mode "$page" 644
  expect_mode "$prefix/share/bash-completion/completions/sveltery" 644
  expect_mode "$prefix/share/doc/sveltery/copyright" 644
  cmp -s "$src/LICENSE" "$prefix/share/doc/sveltery/copyright" ||
    fail "installed copyright file differs from LICENSE"

  cmp -s "$binary" "$prefix/bin/sveltery" || fail "installed binary differs from $binary"
  if [[ $page == *.gz ]]; then
    gzip -dc "$page" | cmp -s - "$manpage" || fail "installed manual page differs from the source"
  else
    cmp -s "$page" "$manpage" || fail "installed manual page differs from the source"
  fi
  cmp -s "$completion" "$prefix/share/bash-completion/completions/sveltery" ||
    fail "installed completion differs from the source"

  # `man sveltery` finds the page in the prefix's manual tree.
  if command -v man >/dev/null; then
    local found
    found=$(MANPATH=$prefix/share/man man -w sveltery 2>&1)
    [[ $found == "$page" ]] || fail "man -w sveltery gave '$found', expected $page"
  else
    echo "note: man is not installed; the lookup of the installed page is not checked"
  fi
  finish
}

check_manpage() {
  need_man_tools
  LC_ALL=C grep -qP '[^\x00-\x7f]' "$manpage" && fail "the manual page source is not plain ASCII"

  local warnings
  warnings=$(man --warnings -l "$manpage" 2>&1 >/dev/null) || fail "man -l failed"
  [[ -z $warnings ]] || fail "man --warnings reports: $warnings"
  warnings=$(groff -man -ww -z "$manpage" 2>&1) || fail "groff failed"
  [[ -z $warnings ]] || fail "groff -ww reports: $warnings"

  local name
  name=$(lexgrog "$manpage" 2>&1) || fail "lexgrog finds no NAME: $name"
  [[ $name == *': "sveltery - '?*'"' ]] || fail "lexgrog gave: $name"

  grep -q "^\.TH SVELTERY 1 .*\"sveltery $version\"" "$manpage" ||
    fail "the .TH line does not name sveltery $version"

  local text
  text=$(MANWIDTH=80 man -l "$manpage" 2>/dev/null | col -bx)
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS OUTPUT 'EXIT STATUS' EXAMPLES FILES; do
    grep -q "^$section\$" <<<"$text" || fail "no $section section"
  done

  # Every option the program takes has its own entry, and so has every option
  # that its usage screen lists.
  local documented=("${options[@]}")
  local usage_letters
  usage_letters=$("$binary" -H 2>/dev/null | sed -n 's/^\t-\([[:alpha:]]\).*/\1/p')
  for letter in $usage_letters; do
    [[ " ${documented[*]} " == *" $letter "* ]] || documented+=("$letter")
  done
  local options_text
  options_text=$(sed -n '/^OPTIONS$/,/^OUTPUT$/p' <<<"$text")
  # An entry may name the long form after the short one: "-H, --help".
  for letter in "${documented[@]}"; do
    grep -qE "^ {7}-$letter(,? |\$)" <<<"$options_text" || fail "option -$letter has no entry"
  done
  for long in "${long_options[@]}"; do
    grep -qE "^ {7}(-[[:alpha:]], )?--$long( |\$)" <<<"$options_text" ||
      fail "option --$long has no entry"
  done

  local status_text
  status_text=$(sed -n '/^EXIT STATUS$/,/^EXAMPLES$/p' <<<"$text")
  for status in 0 1 2 255; do
    grep -qE "^ {7}$status( |\$)" <<<"$status_text" || fail "exit status $status is not described"
  done
  grep -q 'Outputing to: ./sveltered/' <<<"$text" || fail "the start line is not shown as printed"
  grep -q ' Saved: 12.5% or 125 of 1000 bytes' <<<"$text" || fail "no savings line"
  grep -q 'Sveltery Optimized: 3 of 5 files' <<<"$text" || fail "no report line"
  grep -q '\./sveltered' <<<"$(sed -n '/^FILES$/,/^[A-Z]/p' <<<"$text")" ||
    fail "FILES does not name ./sveltered"
  finish
}

check_package() {
  command -v cpack >/dev/null || skip "cpack is not installed"
  command -v dpkg-deb >/dev/null || skip "dpkg-deb is not installed (apt-get install dpkg)"
  [[ -f $build/CPackConfig.cmake ]] || { fail "no CPackConfig.cmake in $build"; finish; }

  # Package into a scratch directory so that the build folder stays clean.
  keep_manifest
  cpack -G DEB -B "$tmp/pkg" --config "$build/CPackConfig.cmake" >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log"; fail "cpack -G DEB failed"; }
  restore_manifest
  local debs=("$tmp"/pkg/*.deb)
  if ((${#debs[@]} != 1)) || [[ ! -f ${debs[0]} ]]; then
    fail "expected one .deb, found: ${debs[*]}"
    finish
  fi
  local deb=${debs[0]}

  field() { dpkg-deb -f "$deb" "$1"; }
  [[ $(field Package) == sveltery ]] || fail "Package: $(field Package)"
  [[ $(field Version) == "$version" ]] || fail "Version: $(field Version), expected $version"
  [[ $(field Maintainer) == "$maintainer" ]] || fail "Maintainer: $(field Maintainer)"
  [[ $(field Section) == utils ]] || fail "Section: $(field Section)"
  [[ $(field Priority) == optional ]] || fail "Priority: $(field Priority)"
  if command -v dpkg >/dev/null; then
    [[ $(field Architecture) == "$(dpkg --print-architecture)" ]] ||
      fail "Architecture: $(field Architecture)"
  fi
  local depends
  depends=$(field Depends)
  [[ $depends == *libc6* && $depends == *libstdc++6* ]] || fail "Depends: $depends"
  [[ $depends == *libjpeg62-turbo* ]] || fail "Depends names no JPEG codec: $depends"
  # The encoders of --precompress are shared libraries of their own.
  [[ $depends == *libbrotli1* && $depends == *libdeflate0* && $depends == *libzstd1* ]] ||
    fail "Depends without the encoders: $depends"
  # A one-line summary, then a long description.
  local description
  description=$(field Description)
  local summary=${description%%$'\n'*}
  [[ -n $summary && ${#summary} -le 80 ]] || fail "Description summary: '$summary'"
  (($(wc -l <<<"$description") >= 3)) || fail "Description has no long text"

  # Owned by root whoever built it, and nothing outside /usr.
  local listing
  listing=$(dpkg-deb -c "$deb")
  grep -qv ' root/root ' <<<"$listing" && fail "entries not owned by root: $(grep -v ' root/root ' <<<"$listing")"
  grep -vqE ' \./(usr/.*)?$' <<<"$listing" && fail "entries outside /usr: $listing"

  local root=$tmp/root
  dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
  expect_mode "$root/usr/bin/sveltery" 755
  expect_mode "$root/usr/share/man/man1/sveltery.1.gz" 644
  expect_mode "$root/usr/share/bash-completion/completions/sveltery" 644
  expect_mode "$root/usr/share/doc/sveltery/copyright" 644

  # The packaged binary runs on the example site and writes what the freshly
  # built binary writes.
  local site=$src/examples/site
  if [[ ! -d $site ]]; then
    echo "note: $site is missing; using a small generated site instead"
    site=$tmp/site
    mkdir -p "$site/img"
    printf '<HTML>\n<!-- note -->\n<P>Hello\n   world</P>\n</HTML>\n' >"$site/index.html"
    printf 'plain\n' >"$site/img/readme.txt"
  fi
  local status=0
  "$root/usr/bin/sveltery" -r -o "$tmp/out" "$site" >"$tmp/run.log" 2>&1 || status=$?
  [[ $status == 1 ]] || { cat "$tmp/run.log"; fail "packaged sveltery exited with $status, expected 1"; }
  local index=$tmp/out/site/index.html
  if [[ -f $index ]]; then
    [[ $(head -n 1 "$index") == "$banner_rule" ]] ||
      fail "$index does not begin with the optimization banner"
  else
    fail "packaged sveltery did not write $index"
  fi
  status=0
  "$binary" -r -o "$tmp/reference" "$site" >/dev/null 2>&1 || status=$?
  [[ $status == 1 ]] || fail "built sveltery exited with $status, expected 1"
  diff -r "$tmp/reference" "$tmp/out" >"$tmp/diff.log" 2>&1 ||
    { head -20 "$tmp/diff.log"; fail "packaged and built binaries write different trees"; }
  finish
}

# complete_words WORD...: the completions bash offers for the command line
# WORD... with the cursor at the end of the last word, one a line, sorted
# (quoted with %q, so that a reply holding a newline cannot pass for two).
complete_words() {
  local preload=
  [[ $with_package == 1 ]] && preload='source /usr/share/bash-completion/bash_completion'
  (cd "$tmp/tree" && bash -c "
    $preload
    source \"\$0\" || exit 1
    COMP_WORDS=(\"\$@\")
    COMP_CWORD=\$((\$# - 1))
    COMP_LINE=\"\$*\"
    COMP_POINT=\${#COMP_LINE}
    _sveltery
    for word in \"\${COMPREPLY[@]}\"; do printf '%q\n' \"\$word\"; done" "$completion" "$@") | sort
}

# expect_completion EXPECTED WORD...: EXPECTED lists the completions, one a line.
expect_completion() {
  local expected=$1
  shift
  local got
  got=$(complete_words "$@")
  [[ $got == "$(sort <<<"$expected")" ]] && return
  local how=
  [[ $with_package == 1 ]] && how=' with bash-completion loaded'
  fail "completing '$*'$how: got [${got//$'\n'/ }]"
}

check_completion() {
  command -v bash >/dev/null || skip "bash is not installed"
  local compspec
  compspec=$(bash -c 'source "$0" && complete -p sveltery' "$completion" 2>&1) ||
    fail "the completion file does not load: $compspec"
  [[ $compspec == 'complete '*'-F _sveltery'*' sveltery' ]] || fail "complete -p sveltery gave: $compspec"

  mkdir -p "$tmp/tree/pages" "$tmp/tree/photos" "$tmp/tree/my site"
  touch "$tmp/tree/page.html" "$tmp/tree/photo.jpg" "$tmp/tree/-notes.txt"
  local all_options dirs everything
  all_options=$(printf -- '-%s\n' "${options[@]}")
  dirs=$'my\\ site\npages\nphotos'
  everything=$'-notes.txt\nmy\\ site\npage.html\npages\nphoto.jpg\nphotos'

  local runs=(0) with_package
  [[ -f /usr/share/bash-completion/bash_completion ]] && runs+=(1)
  for with_package in "${runs[@]}"; do
    expect_completion "$all_options" sveltery -
    expect_completion "$all_options" sveltery -v -
    expect_completion '-r' sveltery -r
    expect_completion "$(printf -- '--%s\n' "${long_options[@]}")" sveltery --
    expect_completion '--safe' sveltery -v --s
    expect_completion '--help' sveltery --h
    expect_completion $'--banner' sveltery --b
    expect_completion $'css\nhtml\njpeg\njpg\njs\nphp' sveltery --type ''
    expect_completion $'jpeg\njpg\njs' sveltery --type j
    expect_completion "$dirs" sveltery -o ''
    expect_completion "$dirs" sveltery -rvo ''
    expect_completion 'photos' sveltery -o ph
    expect_completion 'my\ site' sveltery -o my
    expect_completion '-ophotos' sveltery -oph
    expect_completion "$everything" sveltery -r ''
    expect_completion $'page.html\npages' sveltery -o photos pag
    expect_completion "$everything" sveltery -- ''
    expect_completion '-notes.txt' sveltery -- -n
  done
  finish
}

case $check in
  files) check_files ;;
  manpage) check_manpage ;;
  package) check_package ;;
  completion) check_completion ;;
  *)
    echo "unknown check: $check"
    exit 1
    ;;
esac
