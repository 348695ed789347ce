#!/bin/bash
# Nothing outside the branding files, the tests and the documents names a
# brand's product, family or maker: a maker's branding file must be the one
# place to change them.
#   brand-names-check.sh REPO
set -u
repo=$1
cd "$repo" || exit 1
names=()
while IFS= read -r name; do names+=("$name"); done < <(
  sed -n 's/^set(BRAND_\(PRODUCT\|FAMILY\|MAKER\) "\(.*\)")$/\2/p' branding/*.cmake)
[ ${#names[@]} -ge 6 ] || { echo "could not read the names of branding/*.cmake (${names[*]})"; exit 1; }
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  list() { git ls-files --cached --others --exclude-standard; }
else
  list() { find . -type f -not -path './build*' -printf '%P\n'; }
fi
patterns=()
for name in "${names[@]}"; do patterns+=(-e "$name"); done
found=$(list | grep -Ev '^(branding/|tests/|docs/|build)|\.md$' | tr '\n' '\0' |
  xargs -0 grep -InIiF -w "${patterns[@]}" -- 2>/dev/null)
if [ -n "$found" ]; then
  echo "names of a brand outside branding/ (take them from install/product.h or branding.sh):"
  echo "$found"
  exit 1
fi
echo "ok: ${names[*]} appear only in branding/, tests/ and the documents"
