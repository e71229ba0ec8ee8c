#!/usr/bin/env bash
# scripts/setup.sh against stand-ins for apt-get, dpkg, dpkg-query and id on
# the PATH: nothing here reaches a package registry or changes the machine.
# Each row: whether the machine runs 32-bit programs, how the registry
# answers the successive `apt-get update` and `apt-get install` calls, and
# what setup.sh must then have done.
set -uo pipefail
setup=$(realpath "$(dirname "$0")/../../scripts/setup.sh")
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-setup-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/bin"
# apt-get: the Nth call of a verb answers with the Nth word of $work/<verb>
# ("ok" or "fail"; the last word repeats), and every call is recorded.
cat >"$work/bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
verb=update packages=()
for arg; do
  case $arg in install) verb=install ;; update|-*) ;; *) packages+=("$arg") ;; esac
done
echo "$verb${packages[*]:+ ${packages[*]}}" >>"$STANDIN/calls"
count=$(grep -c "^$verb" "$STANDIN/calls")
read -r -a answers <"$STANDIN/$verb"
index=$((count - 1)); [ $index -lt ${#answers[@]} ] || index=$((${#answers[@]} - 1))
[ "${answers[$index]}" = ok ] && exit 0
if [ $verb = update ]; then
  echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (40960 != 41052). Mirror sync in progress? [IP: 151.101.2.132 80]" >&2
else
  echo "E: Unable to correct problems, you have held broken packages." >&2
fi
exit 100
STANDIN
cat >"$work/bin/dpkg" <<'STANDIN'
#!/usr/bin/env bash
case "$1" in
  --print-foreign-architectures) cat "$STANDIN/architectures" 2>/dev/null ;;
  --add-architecture) echo "$2" >>"$STANDIN/architectures"; echo "add-architecture $2" >>"$STANDIN/calls" ;;
esac
STANDIN
cat >"$work/bin/dpkg-query" <<'STANDIN'
#!/usr/bin/env bash
# Installed: every package named in $STANDIN/installed.
grep -qxF "${*: -1}" "$STANDIN/installed" 2>/dev/null && echo "install ok installed"
exit 0
STANDIN
cat >"$work/bin/id" <<'STANDIN'
#!/usr/bin/env bash
echo "${STANDIN_UID:-0}"
STANDIN
chmod +x "$work/bin/"*

passed=0
failed=0
# row NAME RUNS_32BIT UID UPDATE_ANSWERS INSTALL_ANSWERS SET EXIT EXPECTED_CALLS [EXPECTED_STDERR]
row() {
  local name="$1" runs32="$2" uid="$3" updates="$4" installs="$5" set="$6" exit_expected="$7" calls_expected="$8"
  local stderr_expected="${9:-}" dir="$work/$1" rc=0 calls problems=""
  mkdir -p "$dir/lists"
  echo "$updates" >"$dir/update"
  echo "$installs" >"$dir/install"
  : >"$dir/calls"
  [ "$set" = build-installed ] && { printf '%s\n' cmake make g++ libboost-dev googletest libgtest-dev libbenchmark-dev libexpat1-dev >"$dir/installed"; set=build; }
  PATH="$work/bin:$PATH" STANDIN="$dir" STANDIN_UID="$uid" KESTROVA_RUNS_32BIT="$runs32" \
    KESTROVA_APT_ATTEMPTS=3 KESTROVA_APT_PAUSE=0 KESTROVA_APT_LISTS="$dir/lists" \
    "$setup" "$set" >"$dir/stdout" 2>"$dir/stderr" || rc=$?
  calls=$(paste -sd '|' "$dir/calls")
  [ "$rc" = "$exit_expected" ] || problems+=" exit $rc, expected $exit_expected;"
  [ "$calls" = "$calls_expected" ] || problems+=" calls '$calls', expected '$calls_expected';"
  if [ -n "$stderr_expected" ] && ! grep -qF -- "$stderr_expected" "$dir/stderr"; then
    problems+=" stderr lacks '$stderr_expected';"
  fi
  if [ -z "$problems" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name:$problems"
    sed 's/^/  stderr: /' "$dir/stderr"
  fi
}

i386_lists="Mirror sync in progress?"
row no-32bit-no-i386        no  0 "ok"             "ok"        wine 0 "update|install wine wine64"
row 32bit-adds-i386         yes 0 "ok"             "ok"        wine 0 "add-architecture i386|update|install wine wine32:i386 wine64"
row update-retried          no  0 "fail fail ok"   "ok"        wine 0 "update|update|update|install wine wine64" "$i386_lists"
row update-never-arrives    no  0 "fail"           "ok"        wine 0 "update|update|update|install wine wine64" "installing with the indexes that arrived"
row install-retried         no  0 "ok"             "fail ok"   wine 0 "update|install wine wine64|install wine wine64"
row install-fails           yes 0 "fail"           "fail"      wine 1 "add-architecture i386|update|update|update|install wine wine32:i386 wine64|install wine wine32:i386 wine64|install wine wine32:i386 wine64" "held broken packages"
row nothing-missing         no  0 "fail"           "fail"      build-installed 0 ""
row not-root                no  1000 "ok"          "ok"        dist 1 "" "run as root"
row x86-in-a-vm             no  0 "ok"             "ok"        wine-x86 0 "update|install qemu-system-x86 debootstrap e2fsprogs"
row x86-here                yes 0 "ok"             "ok"        wine-x86 0 ""

echo "setup.sh: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
