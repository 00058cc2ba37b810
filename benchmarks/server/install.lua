-- wrk script: GET /<appid>/install as an iPhone (the app id in BENCH_APPID).
function init(args)
  path = "/" .. (os.getenv("BENCH_APPID") or "bench00001") .. "/install"
end

function request()
  return wrk.format("GET", path, {["User-Agent"] =
    "Mozilla/5.0 (iPhone; CPU iPhone OS 18_7 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) " ..
    "Version/26.6 Mobile/15E148 Safari/604.1"})
end
