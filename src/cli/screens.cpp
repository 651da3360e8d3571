// The fixed screens' texts.
#include "cli/screens.h"

#include <cstdio>

// Raw literals go out with fputs: printf would read a '%' in them as a conversion.

void print_short_usage() {
  std::fputs(R"(usage: sveltery [options] inputfile
where options are:
	-a	optimize/copy all, same as -hjcp (default)
	-c 	copy unsupported file formats as is
	-f 	final report
	-h	optimize html files
	-j	optimize jpg files
	-l	logging mode
	-o	output directory(default ./sveltered/)
	-p	optimize php files
	-r	recurse directories
	-v	verbose output
	-D	display documentation screen
	-H	display help screen
	-V	display version info
	-L	display license info
)",
             stdout);
}

void print_long_options(const char* type_names) {
  std::fputs(R"(long options:
	--safe		deploy profile: pages look the same; no banner
	--banner	banner on optimized HTML pages (also with --safe)
	--no-banner	no banner on optimized HTML pages (either profile)
	--css		minify style sheets (.css; under --safe only)
	--js		minify scripts (.js, .mjs; under --safe only)
	--jobs N	optimize N files at once (1-1024; default one per CPU)
	--precompress[=LIST]	compressed copies (br,gz,zst; default br,gz)
	--update	redo only what changed since the last --update run
	--delete	with --update -r: remove outputs whose sources are gone
)",
             stdout);
  // Continued on a line of its own, under the descriptions: the screen stays within 80 columns.
  std::printf("\t--type=KIND\tfilter: - reads KIND (%s),\n\t\t\tthe result goes to stdout\n",
              type_names);
  std::fputs(R"(	--help		display this screen
	--version	display version info, as -V
)",
             stdout);
}

void print_version_banner() {
  std::fputs(R"(##############################################################
# Copyright (c) 2001 The Sveltery maintainers. MIT licence.  #
# Sveltery 1.1: a file format optimizer for web content      #
# Run sveltery -D for documentation, -L for the licence.     #
##############################################################
)",
             stdout);
}

void print_documentation() {
  std::fputs(R"(Sveltery 1.1

Usage:

	sveltery [options] inputfile/s

Description:

	Sveltery is a file format optimizer for html, jpg, and php format files.

Options:

	-a
	   Default mode, optimize all supported file formats and copy all unsupported formats.
	   Same as -hfcp

	-c
	   Copy all unsupported file formats as is

	-f
	   Generate a final report, after optimization, consisting of the percent savings
	   and number of files processed

	-h
	   Optimize html format files.
	   Files with the following case insensitive extensions .html, .htm are considered html format files

	-j
	   Optimize jpg format files.
	   Files with the following case insensitive extensions .jpg, .jpeg are considered jpg format files

	-l
	   Enable Logging mode, Same as Verbose mode, but without progress bars.  Good for redirecting to a file
	   I.E.  sveltery -rl files/* > log

	-o dir
	   Output optimized files to directory dir.
	   The default is to output to ./sveltered/

	-p
	   Optimize php format files.
	   Files with the following case insensitive extensions .php, .phtml, .php3 are considered php format files

	-r
	   Recurseivly traverse directories optimizing enabled file formats.

	-v
	    Enable Verbose mode. Includes progress bars, and final report

Author:

	The Sveltery maintainers


Contact:

	maintainers@sveltery.example

Copyright:

	(c) 2001 The Sveltery maintainers

)",
             stdout);
}

void print_licence() {
  std::fputs(R"(Sveltery 1.1
A file format optimizer for web content
Made by the Sveltery maintainers

LICENCE AGREEMENT

This is an agreement between you and the Sveltery maintainers about the use of
Sveltery, its documentation and every copy of them (the Software). By copying,
installing or using the Software you accept this agreement.

LICENCE GRANT

Permission is hereby granted, free of charge, to any person obtaining a copy of
the Software, to deal in the Software without restriction, including without
limitation the rights to use, copy, modify, merge, publish, distribute,
sublicense, and/or sell copies of the Software, and to permit persons to whom
the Software is furnished to do so, subject to the following condition: the
above copyright notice and this permission notice shall be included in all
copies or substantial portions of the Software.

LIMITED WARRANTY

THE SOFTWARE IS PROVIDED "AS IS", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR
IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY, FITNESS
FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL THE AUTHORS OR
COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER LIABILITY, WHETHER
IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING FROM, OUT OF OR IN
CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER DEALINGS IN THE SOFTWARE.

GENERAL TERMS

The Software never changes its input files; it writes its results into a
separate output directory. Keep a copy of anything you cannot afford to lose.
If any part of this agreement is held unenforceable, the rest stays in force.

ACKNOWLEDGEMENT

You acknowledge that you have read this agreement, understand it and agree to
be bound by its terms.


)",
             stdout);
}
