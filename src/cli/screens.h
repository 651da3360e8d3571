// The fixed screens: short usage, documentation, licence and version banner.
#pragma once

// The fixed screens. Each prints its lines on standard output and nothing else.
void print_short_usage();
// The long options, one a line, shown after the short usage screen by --help; `type_names`: what
// --type takes, e.g. "html, php, jpeg".
void print_long_options(const char* type_names);
void print_version_banner();
void print_documentation();
void print_licence();
