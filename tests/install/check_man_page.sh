#!/usr/bin/env bash
# The manual page is current: it names the program's version and every long
# option that --help lists, and the licence.
#   check_man_page.sh DLS2MML MAN_PAGE
set -euo pipefail
program=$1 page=$2
[[ -s $page ]] || { echo "no manual page at $page"; exit 1; }
[[ $page -nt $program || ! $program -nt $page ]] || { echo "the manual page is older than the program"; exit 1; }
version=$("$program" --version | head -n 1)
# help2man writes the page's text with roff escapes for '-'.
text=$(sed 's/\\-/-/g; s/\\(em/--/g' "$page")
grep -qF "${version#dls2mml }" <<<"$text" || { echo "the manual page lacks the version '$version'"; exit 1; }
missing=0
while read -r option; do
    grep -qF -- "$option" <<<"$text" || { echo "the manual page lacks $option"; missing=1; }
done < <("$program" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
grep -q 'MIT' <<<"$text" || { echo "the manual page lacks the licence"; missing=1; }
# It renders without a warning, where groff is at hand.
if command -v groff >/dev/null; then
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
    [[ -z $warnings ]] || { echo "groff warns: $warnings"; missing=1; }
fi
exit $missing
