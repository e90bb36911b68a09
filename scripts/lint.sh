#!/usr/bin/env bash
# Checks the tree for what neither compiler nor clang-tidy sees; prints each finding, fails on any:
#  - every option of a program's usage text, and every QUILLO_SIM_* variable the simulator
#    reads, appears in the man page (a page with no row below is a finding too);
#  - no <linux/...> include and no __linux__ outside the linux/, tool/ and sim/ folders;
#  - includes rooted at the tree: no "../" and no bare "Foo.h";
#  - no reference to a document the reader does not have (numbered parts, the words for it).
set -uo pipefail
cd "$(dirname "$0")/.."

# program  source  man page  the usage text: from the first line matching FROM to the next
# matching TO (extended regexes, no spaces).
programs='
quillo          tool/Quillo.cpp            tool/quillo.8              ^void.usage        ^}
quillo-rtc      tool/QuilloRtc.cpp         tool/quillo-rtc.8          USAGE$             ";$
quillo-bench    sim/quillo-bench.in        sim/quillo-bench.1         usage:             ^fi
sntp-serve      programs/SntpServe.cpp     programs/sntp-serve.8      ^void.help         ^}
sntp-query      programs/SntpQuery.cpp     programs/sntp-query.1      ^void.help         ^}
registry-print  programs/RegistryPrint.cpp programs/registry-print.1  USAGE\[\].=        ";$
registry-tool   programs/RegistryTool.cpp  programs/registry-tool.1   USAGE\[\]$            ";$
'
findings=0
finding() {
  echo "lint: $*"
  findings=$((findings + 1))
}

# The page as man shows its words: font escapes dropped, "\-" as "-".
page_text() { sed -E 's/\\f(\[[^]]*\]|\(..|.)//g; s/\\-/-/g; s/\\\(em|\\\(en/-/g' "$1"; }
# in_page PAGE WORD: WORD stands on its own in PAGE (not as a part of a longer option or name).
in_page() { page_text "$1" | grep -E -- "(^|[^A-Za-z0-9_-])$(sed 's/[][\.*^$+?(){}|]/\\&/g' <<<"$2")([^A-Za-z0-9_-]|$)" >/dev/null; }

pages=" "
while read -r program source page from to; do
  [ -n "$program" ] || continue
  pages+="$page "
  [ -f "$source" ] && [ -f "$page" ] || { finding "$program: $source or $page is missing"; continue; }
  text=$(awk -v from="$from" -v to="$to" 'on { print; if ($0 ~ to) exit } !on && $0 ~ from { on = 1; print }' "$source")
  [ -n "$text" ] || finding "$program: no usage text in $source"
  for option in $(grep -oE -- '(^|[^A-Za-z0-9_%-])--?[A-Za-z][A-Za-z0-9-]*' <<<"$text" | sed -E 's/^[^-]//' | sort -u); do
    in_page "$page" "$option" || finding "$page does not describe $program's option $option"
  done
done <<<"$programs"
for page in $(git ls-files '*.[1-8]'); do
  [[ "$pages" == *" $page "* ]] || finding "$page belongs to no program of scripts/lint.sh's table"
done

# The simulator's variables: QUILLO_SIM_X named in code, or read as setting("X") (comments aside).
for variable in $(git ls-files sim | grep -vE '\.[1-8]$' | xargs grep -hvE '^\s*(//|#)' |
  sed -nE 's/.*(QUILLO_SIM_[A-Z0-9_]+).*/\1/p; s/.*[sS]etting\("([A-Z0-9_]+)".*/QUILLO_SIM_\1/p' | sort -u); do
  in_page sim/quillo-bench.1 "$variable" || finding "sim/quillo-bench.1 does not describe $variable"
done

sources=(-- '*.cpp' '*.h' '*.c' '*.in')
while IFS= read -r hit; do
  finding "Linux-only outside a linux/ folder: $hit"
done < <(git grep -nE '#\s*include\s*<linux/|__linux__' "${sources[@]}" | grep -vE '^([^:]*/)?(linux|tool|sim)/')
while IFS= read -r hit; do
  finding "include not rooted at the tree: $hit"
done < <(git grep -nE '#\s*include\s*"(\.\./|[^/"]+")' "${sources[@]}")

reference='\bParts? [0-9]+\.[0-9]+\b|\bspe[c](s|ification)?\b|\bdesign documen[t]'
while IFS= read -r hit; do
  finding "names a document the reader does not have: $hit"
done < <(git grep -nIiE "$reference"; git ls-files | grep -iE "$reference")

[ $findings -eq 0 ] || { echo "lint: $findings findings" >&2; exit 1; }
echo "lint: clean"
