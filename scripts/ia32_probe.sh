# Sourced: whether this machine runs 32-bit x86 programs, asked of the kernel
# itself. A kernel without IA-32 emulation refuses every i386 program with
# "Exec format error", whatever is installed, so the probe needs no 32-bit
# package: it runs a 96-byte i386 program written here that only exits with
# status 7.
#
#   source scripts/ia32_probe.sh
#   case $(runs_32bit_programs) in yes) … ;; no) … ;; esac
#
# KESTROVA_RUNS_32BIT=yes|no answers for the probe (the scripts' own tests).

runs_32bit_programs() {
  case ${KESTROVA_RUNS_32BIT:-} in
    yes|no) echo "$KESTROVA_RUNS_32BIT"; return 0 ;;
    '') ;;
    *) echo "ia32_probe.sh: KESTROVA_RUNS_32BIT is '$KESTROVA_RUNS_32BIT' (yes or no)" >&2; return 2 ;;
  esac
  local dir program rc=0 output
  dir=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-ia32.XXXXXX") || return 2
  program="$dir/exit7"
  # ELF32 header, one loadable segment at 0x08048000, then
  # mov ebx,7; mov eax,1 (exit); int 0x80.
  printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$program"
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$program"
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' >>"$program"
  printf '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08' >>"$program"
  printf '\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00' >>"$program"
  printf '\x00\x10\x00\x00\xbb\x07\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80' >>"$program"
  chmod +x "$program"
  output=$("$program" 2>&1) || rc=$?
  rm -rf "$dir"
  if [ $rc -eq 7 ]; then
    echo yes
  elif [ $rc -eq 126 ] && grep -qi "exec format error" <<<"$output"; then
    echo no
  else
    echo "ia32_probe.sh: the 32-bit probe program ended with status $rc: $output" >&2
    return 2
  fi
}
