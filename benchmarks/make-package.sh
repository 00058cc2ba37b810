# Sourced by the benchmarks. make_package MB FILE: a real .ipa at FILE — a small Info.plist and one
# stored (uncompressed) entry of MB megabytes of random bytes.
make_package() {
  local pkg
  pkg=$(mktemp -d)
  mkdir -p "$pkg/Payload/Bench.app"
  cat >"$pkg/Payload/Bench.app/Info.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>com.example.bench</string>
<key>CFBundleShortVersionString</key><string>1.0</string><key>CFBundleName</key><string>Bench</string></dict></plist>
PLIST
  head -c "$(($1 * 1000 * 1000))" /dev/urandom >"$pkg/Payload/Bench.app/blob.bin"
  rm -f "$2"
  (cd "$pkg" && zip -q -0 -r "$2" Payload)
  rm -rf "$pkg"
}
