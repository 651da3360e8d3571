#pragma once

// The fixed screens. Each prints its lines on standard output and nothing else.
void print_short_usage();
void print_version_banner();
void print_documentation();
void print_licence();
