#!/bin/sh
# Usage: extractIconFromApk.sh RESOURCE_DIR PACKAGE
# Prints the package-relative path of the launcher icon entry: the highest-density
# application-icon-NNN line, else the icon of the application: line. Prints nothing when the
# package names no icon.
# The badging text comes from getApkInfo.sh beside this script, which picks the aapt to use.
badging=$(/bin/sh "$(dirname "$0")/getApkInfo.sh" "$1" "$2")

icon=$(printf '%s\n' "$badging" |
  sed -n "s/^application-icon-\([0-9][0-9]*\):'\(.*\)'\$/\1 \2/p" |
  sort -n -s -k1,1 | tail -n 1 | cut -d ' ' -f 2-)
if [ -z "$icon" ]; then
  icon=$(printf '%s\n' "$badging" |
    sed -n "s/^application: .* icon='\([^']*\)'.*/\1/p" | head -n 1)
fi
[ -n "$icon" ] && printf '%s\n' "$icon"
exit 0
