# Sourced by the server benchmarks. register BASE USER: registers USER and prints the secret it got
# (empty from a server that issues none). seed_apps BASE USER SECRET: gives USER 200 apps
# (seed000001…) in one curl run over one connection, so seeding costs little beside what is measured.
register() {
  curl -sf -X POST -H 'Content-Type: application/json' \
    --data-binary "{\"email\":\"$2@bench.test\",\"username\":\"$2\",\"photoURL\":\"\",\"userid\":\"$2\"}" \
    "${1}addnewuser" | sed -n 's/.*"userSecret":"\([^"]*\)".*/\1/p'
}

seed_apps() {
  local config
  config=$(mktemp)
  for i in $(seq 1 200); do
    [ "$i" -gt 1 ] && echo next
    echo "url = \"${1}createapp\""
    echo 'header = "Content-Type: application/json"'
    echo "header = \"Authorization: $2\""
    echo "header = \"X-Vantry-Secret: $3\""
    printf 'data-binary = "{\\"userid\\":\\"%s\\",\\"appname\\":\\"App %d\\",\\"appicon\\":\\"https://files.example.test/icon%d.png\\",\\"appversion\\":\\"1.%d\\",\\"appurl\\":\\"itms-services://?action=download-manifest&url=https://files.example.test/m%d.plist\\",\\"appid\\":\\"seed%06d\\",\\"appdate\\":\\"2026/12/06 07:00\\",\\"appsize\\":\\"42 MB\\",\\"minos\\":\\"14.0\\",\\"qrLink\\":\\"https://files.example.test/qr%d.png\\",\\"appdescription\\":\\"\\"}"\n' \
      "$2" "$i" "$i" "$i" "$i" "$i" "$i"
    echo 'output = "/dev/null"'
  done >"$config"
  curl -sf -K "$config"
  rm -f "$config"
  echo "seeded $(curl -sf -H "Authorization: $2" -H "X-Vantry-Secret: $3" "${1}app/$2" | grep -o '"appid"' | wc -l) apps for $2"
}
