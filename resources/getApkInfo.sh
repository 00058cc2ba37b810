#!/bin/sh
# Usage: getApkInfo.sh RESOURCE_DIR PACKAGE
# Prints the badging lines of an Android package. Uses the aapt shipped in RESOURCE_DIR when
# there is one, else the aapt found on PATH.
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
exec "$aapt" dump badging "$pkg" 2>/dev/null
