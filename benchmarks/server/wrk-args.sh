# Sourced by the wrk benchmarks: reads [build-dir] [seconds] [connections] from the script's
# arguments into $build, $seconds, $connections and $threads, and checks that wrk is installed.
build=${1:-$here/../../build}
seconds=${2:-10}
connections=${3:-32}
threads=$(( connections < 2 ? 1 : 2 ))
command -v wrk >/dev/null || { echo "$(basename "$0"): wrk is not installed (scripts/bootstrap)" >&2; exit 2; }
