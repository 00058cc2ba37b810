-- wrk script: POST /createapp with a fresh app id on every request.
local threads = 0

function setup(thread)
  thread:set("tid", threads)
  threads = threads + 1
end

function init(args)
  counter = 0
  secret = os.getenv("BENCH_SECRET") or ""
  run = tostring(os.time())
end

function request()
  counter = counter + 1
  local appid = string.format("w%s-%d-%d", run, tid, counter)
  local body = '{"userid":"benchpost","appname":"Bench","appicon":"","appversion":"1.0",' ..
    '"appurl":"https://files.example.test/Bench.ipa","appid":"' .. appid .. '",' ..
    '"appdate":"2026/12/06 07:00","appsize":"12 MB","minos":"14.0","qrLink":"","appdescription":""}'
  return wrk.format("POST", "/createapp",
    {["Content-Type"] = "application/json", ["Authorization"] = "benchpost", ["X-Vantry-Secret"] = secret}, body)
end
