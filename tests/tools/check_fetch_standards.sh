#!/bin/sh
# tools/fetch-standards.sh against local sources, offline: a missing folder
# and an unreachable server fail with a message and leave nothing; a source
# whose files do not match the published checksums is refused and leaves
# nothing (and keeps the records already in place); the published records,
# from a folder, a file:// URL and a local HTTP server with each downloader
# there is, end up in place byte for byte.
# usage: check_fetch_standards.sh <source tree> <folder of the published records>
# Exits 77 (skipped) after the failure cases when the records are not there.
set -eu
root=$1
records=$2
fetch="$root/tools/fetch-standards.sh"
scratch=$(mktemp -d)
server=""
silent=""
cleanup() {
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  [ -z "$silent" ] || kill "$silent" 2>/dev/null || true
  chmod -R u+w "$scratch" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# run <expected status> <message part> <arguments...>: the script's status
# and a message on standard error that contains the part.
run() {
  want=$1 part=$2
  shift 2
  status=0
  "$fetch" "$@" >"$scratch/out" 2>"$scratch/err" || status=$?
  [ "$status" = "$want" ] || { cat "$scratch/err" >&2; fail "$* exited $status, expected $want"; }
  grep -q -- "$part" "$scratch/err" || { cat "$scratch/err" >&2; fail "$*: no '$part' in the message"; }
}

# Nothing of a fetch in a data folder: no records, no temporary folder.
nothing_in() {
  [ ! -e "$1/IEC227W" ] || fail "$1/IEC227W was left behind"
  [ -z "$(find "$1" -name '.fetch-*' 2>/dev/null)" ] || fail "a temporary folder was left in $1"
}

run 1 "no such folder: $scratch/none" --source "$scratch/none" --dest "$scratch/d1"
[ ! -e "$scratch/d1" ] || fail "a failed fetch left $scratch/d1"
run 1 "could not fetch" --source http://127.0.0.1:1/aami-ec13 --dest "$scratch/d1" --timeout 5
nothing_in "$scratch/d1"
mkdir "$scratch/fake"
cut -d' ' -f2 "$root/tools/aami-ec13-1.0.0.SHA256SUMS.txt" | while read -r name; do
  echo "not the record" >"$scratch/fake/$name"
done
run 3 "aami3a.dat (SHA-256" --source "$scratch/fake" --dest "$scratch/d1"
nothing_in "$scratch/d1"

# The port of a local server started in the background, from the line its
# output names it in; empty when it did not start within 5 s.
port_of() {
  for _ in $(seq 50); do
    p=$(sed -n 's/.*port \([0-9][0-9]*\).*/\1/p' "$1" | head -n 1)
    [ -z "$p" ] || { echo "$p"; return; }
    sleep 0.1
  done
}
# A server that takes the connection and never answers: every downloader
# gives up after the time-out instead of hanging.
python3 -u -c 'import socket, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(8)
print("port", s.getsockname()[1]); time.sleep(120)' >"$scratch/silent" 2>&1 &
silent=$!
port=$(port_of "$scratch/silent")
[ -n "$port" ] || fail "the silent server did not start: $(cat "$scratch/silent")"
for tool in curl wget python3; do
  command -v "$tool" >/dev/null 2>&1 || continue
  start=$(date +%s)
  run 1 "could not fetch" --source "http://127.0.0.1:$port/" --dest "$scratch/d1" --tool "$tool" --timeout 1
  [ $(($(date +%s) - start)) -lt 20 ] || fail "$tool waited $(($(date +%s) - start)) s for a silent server"
  nothing_in "$scratch/d1"
done

[ -f "$records/RECORDS" ] || { echo "no published records in '$records': the fetch itself is not tried"; exit 77; }

# Every record in place, byte for byte, from each kind of source.
check_in_place() {
  for name in $(cut -d' ' -f2 "$root/tools/aami-ec13-1.0.0.SHA256SUMS.txt"); do
    cmp -s "$records/$name" "$1/IEC227W/wfdb/$name" || fail "$name is not in place in $1 ($2)"
  done
  [ -z "$(find "$1" -name '.fetch-*')" ] || fail "a temporary folder was left in $1 ($2)"
}
run 0 "are in $scratch/d2/IEC227W/wfdb" --source "$records" --dest "$scratch/d2"
check_in_place "$scratch/d2" "a folder"
run 0 "check out" --source "$records" --dest "$scratch/d2"
HSIM_STANDARDS_SOURCE="file://$records" run 0 "are in" --dest "$scratch/d3"
check_in_place "$scratch/d3" "a file:// URL"

# One byte changed in one file: refused, and what was in place stays.
cp -R "$records" "$scratch/corrupt"
chmod -R u+w "$scratch/corrupt"
printf 'x' | dd of="$scratch/corrupt/aami4b_d.dat" bs=1 seek=4321 conv=notrunc 2>/dev/null
run 3 "aami4b_d.dat (SHA-256" --source "$scratch/corrupt" --dest "$scratch/d4"
nothing_in "$scratch/d4"
run 3 "nothing was put in place" --source "$scratch/corrupt" --dest "$scratch/d2" --force
check_in_place "$scratch/d2" "kept after a refused fetch"

# Downloads from a local HTTP server, with every downloader found here.
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$records" >"$scratch/server" 2>&1 &
server=$!
port=$(port_of "$scratch/server")
[ -n "$port" ] || fail "the local HTTP server did not start: $(cat "$scratch/server")"
for tool in curl wget python3; do
  command -v "$tool" >/dev/null 2>&1 || continue
  run 0 "with $tool" --source "http://127.0.0.1:$port/" --dest "$scratch/http-$tool" --tool "$tool" --timeout 10
  check_in_place "$scratch/http-$tool" "$tool"
done
echo "fetch-standards.sh: refusals and every source checked"
