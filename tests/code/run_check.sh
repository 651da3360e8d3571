#!/usr/bin/env bash
# Runs code_check.mjs with acorn and css-tree installed under PREFIX (npm install, once).
# Usage: run_check.sh PREFIX CODE_CHECK_ARGS...   Exit status 77 (skipped) when a folder to check
# is missing or node and npm are not installed.
set -euo pipefail
prefix=$1
shift
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "code check skipped: node and npm are not installed"
  exit 77
fi
for arg in "$@"; do
  if [[ $arg != -* && $arg == */* && ! -e $arg ]]; then
    echo "code check skipped: no $arg"
    exit 77
  fi
done
if [[ ! -d $prefix/node_modules/acorn || ! -d $prefix/node_modules/css-tree ]]; then
  mkdir -p "$prefix"
  npm install --prefix "$prefix" --no-audit --no-fund --no-save --silent acorn@8 css-tree@3
fi
CODE_CHECK_MODULES=$prefix exec node "$(dirname "$0")/code_check.mjs" "$@"
