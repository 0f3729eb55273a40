#!/bin/sh
# Fetches the published data of the IEC227W table: the ten WFDB records of
# PhysioNet's ANSI/AAMI EC13 test waveforms (aami-ec13 1.0.0, 1.2 MB, Open
# Data Commons Attribution License v1.0), checks every file against the
# SHA-256 sums in tools/aami-ec13-1.0.0.SHA256SUMS.txt (PhysioNet's own
# SHA256SUMS.txt of the release, committed unchanged) and puts them where the
# build looks: data/standards/IEC227W/wfdb/ in the source tree. The files are
# downloaded into a temporary folder and moved into place only when every
# one of them checks out; a refused download leaves nothing behind.
#
# usage: tools/fetch-standards.sh [--source URL|DIR] [--dest DIR]
#                                 [--tool curl|wget|python3] [--timeout SECONDS] [--force]
#   --source   where the release's files are: an http(s) URL, a file:// URL or
#              a local folder (also $HSIM_STANDARDS_SOURCE); default
#              https://physionet.org/files/aami-ec13/1.0.0
#   --dest     the data folder, default data/standards in the source tree; the
#              records go to DEST/IEC227W/wfdb
#   --tool     the downloader; default curl, else wget, else python3's urllib
#   --timeout  seconds to wait for a connection or for data (default 15)
#   --force    fetch again even when the records in place check out
# Exit status: 0 the records are in place; 1 they could not be fetched (no
# network, no downloader, no such source, a file missing there); 2 bad usage;
# 3 a file did not match its checksum (nothing was put in place).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
sums="$root/tools/aami-ec13-1.0.0.SHA256SUMS.txt"
source=${HSIM_STANDARDS_SOURCE:-https://physionet.org/files/aami-ec13/1.0.0}
dest="$root/data/standards"
tool=""
timeout=15
force=0

say() { printf 'fetch-standards: %s\n' "$*" >&2; }
usage() { sed -n '11,20s/^# \{0,1\}//p' "$0" >&2; exit 2; }

while [ $# -gt 0 ]; do
  case $1 in
    --source) [ $# -ge 2 ] || usage; source=$2; shift 2 ;;
    --dest) [ $# -ge 2 ] || usage; dest=$2; shift 2 ;;
    --tool) [ $# -ge 2 ] || usage; tool=$2; shift 2 ;;
    --timeout) [ $# -ge 2 ] || usage; timeout=$2; shift 2 ;;
    --force) force=1; shift ;;
    -h|--help) usage ;;
    *) say "unknown argument: $1"; usage ;;
  esac
done
case $timeout in ''|*[!0-9]*|0) say "--timeout takes a whole number of seconds, not '$timeout'"; exit 2 ;; esac
case $tool in ''|curl|wget|python3) ;; *) say "--tool is curl, wget or python3, not '$tool'"; exit 2 ;; esac
[ -r "$sums" ] || { say "the checksum list $sums is missing"; exit 1; }

sha256() {  # file: its SHA-256 in hex on standard output
  if command -v sha256sum >/dev/null 2>&1; then
    sha256sum "$1" | cut -d' ' -f1
  elif command -v shasum >/dev/null 2>&1; then
    shasum -a 256 "$1" | cut -d' ' -f1
  else
    python3 -c 'import hashlib, sys; print(hashlib.sha256(open(sys.argv[1], "rb").read()).hexdigest())' "$1"
  fi
}

# Every file of the list found in a folder with its sum; the names of the
# others on standard output.
mismatches() {  # folder
  while read -r digest name; do
    [ -n "$name" ] || continue
    if [ ! -f "$1/$name" ]; then
      echo "$name (missing)"
    elif [ "$(sha256 "$1/$name")" != "$digest" ]; then
      echo "$name (SHA-256 $(sha256 "$1/$name"), expected $digest)"
    fi
  done <"$sums"
}

target="$dest/IEC227W/wfdb"
if [ "$force" = 0 ] && [ -d "$target" ] && [ -z "$(mismatches "$target")" ]; then
  say "the IEC227W records in $target are in place and check out"
  exit 0
fi

# A local folder (also as a file:// URL) is copied from; anything else is
# downloaded.
case $source in
  file://*) folder=${source#file://} ;;
  *://*) folder="" ;;
  *) folder=$source ;;
esac
if [ -n "$folder" ]; then
  [ -d "$folder" ] || { say "no such folder: $folder"; exit 1; }
  how="copied from $folder"
else
  if [ -z "$tool" ]; then
    for candidate in curl wget python3; do
      if command -v "$candidate" >/dev/null 2>&1; then tool=$candidate; break; fi
    done
  fi
  if [ -z "$tool" ] || ! command -v "$tool" >/dev/null 2>&1; then
    say "no downloader (curl, wget or python3) to fetch $source with"
    exit 1
  fi
  how="downloaded from $source with $tool"
fi

fetch() {  # name, to
  if [ -n "$folder" ]; then
    [ -f "$folder/$1" ] || { say "$folder has no $1"; return 1; }
    cp "$folder/$1" "$2"
    return
  fi
  url="${source%/}/$1"
  case $tool in
    curl) curl -fsSL --connect-timeout "$timeout" --speed-limit 1 --speed-time "$timeout" -o "$2" "$url" ;;
    wget) wget -q --timeout="$timeout" --tries=1 -O "$2" "$url" ;;
    python3) python3 -c '
import shutil, sys, urllib.request
url, to, timeout = sys.argv[1], sys.argv[2], float(sys.argv[3])
try:
    with urllib.request.urlopen(url, timeout=timeout) as answer, open(to, "wb") as out:
        shutil.copyfileobj(answer, out)
except Exception as error:
    sys.exit("%s: %s" % (url, error))
' "$url" "$2" "$timeout" ;;
  esac
}

# The temporary folder sits beside the data (a hidden name the build never
# reads), so the records move into place without being copied again.
# A data folder made here and left empty is removed again, so a failed fetch
# leaves no trace.
made=""
[ -d "$dest" ] || made=$dest
mkdir -p "$dest" || { say "cannot create $dest"; exit 1; }
scratch=$(mktemp -d "$dest/.fetch-XXXXXX") || { say "cannot write to $dest"; exit 1; }
trap 'rm -rf "$scratch"; [ -z "$made" ] || rmdir "$made" 2>/dev/null || true' EXIT
trap 'exit 130' INT TERM HUP
mkdir "$scratch/wfdb"

say "fetching $(grep -c . "$sums") files of aami-ec13 1.0.0 ($how)"
while read -r digest name; do
  [ -n "$name" ] || continue
  if ! fetch "$name" "$scratch/wfdb/$name"; then
    say "could not fetch $name from $source (no network or no such file?); nothing was put in place"
    exit 1
  fi
done <"$sums"

bad=$(mismatches "$scratch/wfdb")
if [ -n "$bad" ]; then
  say "refused, these files do not match the published checksums:"
  printf '%s\n' "$bad" | sed 's/^/  /' >&2
  say "nothing was put in place"
  exit 3
fi

cp "$sums" "$scratch/wfdb/SHA256SUMS.txt"
mkdir -p "$dest/IEC227W"
if [ -e "$target" ]; then
  mv "$target" "$scratch/previous"
fi
mv "$scratch/wfdb" "$target"
say "the IEC227W records are in $target, every file checked against $sums"
say "re-run cmake (cmake -S . -B build) so the build converts them into the table;"
say "when you publish results made with them, cite PhysioNet and ANSI/AAMI EC13 (see README.md)"
