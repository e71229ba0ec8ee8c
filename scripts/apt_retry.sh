# Sourced: runs a command that asks a package registry (apt-get, debootstrap)
# again a few times with a pause when it fails, since a mirror answers with
# an error while it syncs ("File has unexpected size ... Mirror sync in
# progress?") and is fine minutes later. Used by scripts/setup.sh and by the
# virtual machine's image build (scripts/vm/image.sh).
#
#   source scripts/apt_retry.sh
#   apt_with_retries WHAT COMMAND...   0 once COMMAND succeeds; 1 after the last attempt
#   apt_update WHAT COMMAND...         the same for an index update, which
#       when it still fails says so and leaves the install to the indexes that
#       did arrive (a mirror mid-sync for one architecture's index must not
#       stop an install that needs none of it); 1 then
#
# On failure $complaint holds the registry's complaint (the E:, W: and Err:
# lines, or the last lines). Messages start with "$apt_who: ".
#   KESTROVA_APT_ATTEMPTS (default 4) and KESTROVA_APT_PAUSE (seconds, default 20)

apt_attempts=${KESTROVA_APT_ATTEMPTS:-4}
apt_pause=${KESTROVA_APT_PAUSE:-20}
apt_who=${apt_who:-apt}
complaint=

apt_with_retries() {
  local what="$1" attempt=1 output
  shift
  while :; do
    if output=$("$@" 2>&1); then
      return 0
    fi
    complaint=$(grep -E '^(E|W|Err):' <<<"$output" | tail -n 4 || true)
    [ -n "$complaint" ] || complaint=$(tail -n 4 <<<"$output")
    if [ "$attempt" -ge "$apt_attempts" ]; then
      return 1
    fi
    echo "$apt_who: $what failed (attempt $attempt of $apt_attempts), again in ${apt_pause} s:" >&2
    sed 's/^/  /' <<<"$complaint" >&2
    sleep "$apt_pause"
    attempt=$((attempt + 1))
  done
}

apt_update() {
  local what=$1
  apt_with_retries "$@" && return 0
  echo "$apt_who: $what still fails after $apt_attempts attempts; installing with the indexes that arrived:" >&2
  sed 's/^/  /' <<<"$complaint" >&2
  return 1
}
