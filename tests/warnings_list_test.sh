#!/bin/sh
# The warnings are listed in three places: the calls in the code, the manual
# page's DIAGNOSTICS and the rows of the warnings table. Each warn() call
# names a kind; the page marks each entry and the table each row with the
# kind it shows (".\" warning: KIND", "// warning: KIND"). The kinds of the
# three must be the same set, so that no warning goes undocumented or untested.
root="$1"
page="$root/doc/brevlith.1"
table="$root/tests/warnings_test.cpp"
code=$(cat "$root"/tool/*.cpp | grep -v '^ *//' | tr '\n' ' ' |
  grep -o 'warn([a-z_.]*outcome_*, *"[^"]*"' | sed 's/.*"\(.*\)"$/\1/' | sort -u)
documented=$(sed -n 's/^\.\\" warning: //p' "$page" | sort -u)
tested=$(sed -n 's/^ *\/\/ warning: //p' "$table" | sort -u)
status=0
compare() {
  missing=$(printf '%s\n' "$code" | grep -vxF "$2")
  extra=$(printf '%s\n' "$2" | grep -vxF "$code")
  [ -n "$missing" ] && { printf 'kinds the code warns of that %s lacks:\n%s\n' "$1" "$missing"; status=1; }
  [ -n "$extra" ] && { printf 'kinds in %s that the code never warns of:\n%s\n' "$1" "$extra"; status=1; }
}
[ -n "$code" ] || { echo "no warn() call found under $root/tool"; exit 1; }
compare "the manual page's DIAGNOSTICS" "$documented"
compare "the warnings table" "$tested"
exit $status
