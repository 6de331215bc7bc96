#!/usr/bin/env bash
# CI stage: every C++ file of the tree is in the house format (.clang-format).
# Fails naming each file that clang-format would change; fix with
#   git ls-files '*.cpp' '*.h' | xargs clang-format-14 -i
set -euo pipefail
cd "$(dirname "$0")/../.."

format=clang-format-14
command -v "$format" >/dev/null || format=clang-format
"$format" --version
git ls-files -z '*.cpp' '*.h' | xargs -0 "$format" --dry-run -Werror
echo "format: $(git ls-files '*.cpp' '*.h' | wc -l) files in the house format"
