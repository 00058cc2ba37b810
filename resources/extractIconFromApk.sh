#!/bin/sh
# Usage: extractIconFromApk.sh RESOURCE_DIR PACKAGE
# Prints the package-relative path of the launcher icon entry: the highest-density
# application-icon-NNN line, else the icon of the application: line. Prints nothing when the
# package names no icon.
res=$1
pkg=$2
case $pkg in
  -*) pkg=./$pkg ;;
esac
if [ -n "$res" ] && [ -x "$res/aapt" ]; then
  aapt=$res/aapt
else
  aapt=aapt
fi
badging=$("$aapt" dump badging "$pkg" 2>/dev/null)

icon=$(printf '%s\n' "$badging" |
  sed -n "s/^application-icon-\([0-9][0-9]*\):'\(.*\)'\$/\1 \2/p" |
  sort -n -s -k1,1 | tail -n 1 | cut -d ' ' -f 2-)
if [ -z "$icon" ]; then
  icon=$(printf '%s\n' "$badging" |
    sed -n "s/^application: .* icon='\([^']*\)'.*/\1/p" | head -n 1)
fi
[ -n "$icon" ] && printf '%s\n' "$icon"
exit 0
