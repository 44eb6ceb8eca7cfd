#!/usr/bin/env bash
# Every C and C++ file as the project's .clang-format has it.
set -euo pipefail
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
