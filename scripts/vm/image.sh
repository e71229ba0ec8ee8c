#!/usr/bin/env bash
# The virtual machine that runs the x86 checks where this machine cannot run
# 32-bit programs: Debian 12 for amd64 (whose kernel runs 32-bit programs),
# Wine's 32-bit loader, and a 32-bit Wine prefix made once inside the
# machine, so that a run starts from it instead of booting a fresh one.
# Python for the release check, iproute2 for loopback (the operator check's
# servers). Made from Debian packages alone, kept outside the checkout under
# a key hashed from the files that make it (scripts/vm/common.sh), and reused
# until they change. Needs root (debootstrap, chroot), the `vm` packages of
# scripts/setup.sh, about 6 GiB free in the cache while it is made and
# 2.5 GiB afterwards. Nothing is mounted by hand: the disk is made from a
# folder with mkfs.ext4 -d.
#
#   scripts/vm/image.sh           makes the image unless it is there
#   scripts/vm/image.sh --path    the same, then prints the image's folder
#
#   KESTROVA_VM_CACHE   (default /var/cache/kestrova-vm)
#   KESTROVA_VM_MIRROR  Debian mirror (default: the one this machine's apt uses, else deb.debian.org)
set -euo pipefail
vm_who=vm-image
source "$(dirname "$0")/common.sh"
apt_who=vm-image
source "$vm_scripts/../apt_retry.sh"

print_path=no
[ "${1:-}" = --path ] && print_path=yes
suite=bookworm

image_ready() { [ -f "$vm_image/ready" ]; }
finish() {
  [ $print_path = no ] || echo "$vm_image"
  exit 0
}
image_ready && finish

if [ "$(id -u)" -ne 0 ]; then
  echo "$vm_who: the image $vm_image is not made yet, and making it needs root (debootstrap, chroot)" >&2
  exit 1
fi
for tool in debootstrap:debootstrap mkfs.ext4:e2fsprogs qemu-system-x86_64:qemu-system-x86 flock:util-linux; do
  command -v "${tool%%:*}" >/dev/null ||
    { echo "$vm_who: ${tool%%:*} is missing (the ${tool#*:} package: scripts/setup.sh vm)" >&2; exit 1; }
done

mkdir -p "$vm_cache"
free_mib=$(df --output=avail -BM "$vm_cache" | tail -n 1 | tr -dc '0-9')
if [ "$free_mib" -lt 6144 ]; then
  echo "$vm_who: $vm_cache has $free_mib MiB free; making the image needs about 6 GiB" >&2
  exit 1
fi

# One build at a time: a second caller (CI's background build and
# `make wine-test`, say) waits for the first and then finds the image made.
exec 9>"$vm_cache/lock"
if ! flock -n 9; then
  echo "$vm_who: another image build is running; waiting for it (at most 3600 s)" >&2
  flock -w 3600 9 || { echo "$vm_who: the other image build did not finish within 3600 s" >&2; exit 1; }
  image_ready && finish
fi

build="$vm_cache/build-$vm_key"
root="$build/root"

unmount_under() {
  local target
  for target in $(findmnt -rn -o TARGET | grep "^$1/" | sort -r || true); do
    umount -l "$target" 2>/dev/null || true
  done
}
remove_build() {
  [ -d "$build" ] || return 0
  unmount_under "$build"
  rm -rf --one-file-system "$build"
}
cleanup() {
  set +e
  vm_end_step
  vm_end_qemu
  remove_build
}
trap cleanup EXIT
trap 'exit 130' INT TERM

remove_build   # what a build that was stopped left
mkdir -p "$build"
started=$(vm_seconds)
timings=()
timed() {
  local what=$1 begin
  shift
  begin=$(vm_seconds)
  "$@" || exit 1
  timings+=("$what $(($(vm_seconds) - begin)) s")
}

# The mirror and the index checks this machine's own apt uses (a mirror
# that serves a dated snapshot needs its Valid-Until check off here too).
host_mirror=$(grep -hoE '^(URIs:|deb) +https?://[^ ]*/debian/?( |$)' /etc/apt/sources.list /etc/apt/sources.list.d/*.sources \
  2>/dev/null | head -n 1 | grep -oE 'https?://[^ ]*' || true)
mirror=${KESTROVA_VM_MIRROR:-${host_mirror:-http://deb.debian.org/debian}}
mirror=${mirror%/}
security=${mirror%/debian}/debian-security
apt_checks=$(apt-config dump 2>/dev/null | grep -E '^Acquire::Check-(Valid-Until|Date) ' || true)

# Runs COMMAND with the registry retries; says what the registry said last.
retried() {
  local what=$1
  if ! apt_with_retries "$@"; then
    echo "$vm_who: $what failed after $apt_attempts attempts; the package registry said:" >&2
    sed 's/^/  /' <<<"$complaint" >&2
    return 1
  fi
}

fresh_debootstrap() {
  unmount_under "$root"
  rm -rf --one-file-system "$root"
  debootstrap --variant=minbase --arch=amd64 "$suite" "$root" "$mirror"
}

configure_root() {
  printf 'deb %s %s main\ndeb %s %s-updates main\ndeb %s %s-security main\n' \
    "$mirror" "$suite" "$mirror" "$suite" "$security" "$suite" >"$root/etc/apt/sources.list"
  [ -z "$apt_checks" ] || sed 's/$/;/' <<<"$apt_checks" >"$root/etc/apt/apt.conf.d/90kestrova-checks"
  cp -L /etc/resolv.conf "$root/etc/resolv.conf"
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"   # no service starts in the chroot
  chmod 755 "$root/usr/sbin/policy-rc.d"
  # A small initrd: the root disk's drivers, not every module.
  mkdir -p "$root/etc/initramfs-tools/conf.d"
  echo "MODULES=list" >"$root/etc/initramfs-tools/conf.d/kestrova"
  printf '%s\n' virtio_pci virtio_blk ext4 >>"$root/etc/initramfs-tools/modules"
  install -m 755 "$vm_scripts/guest_init.sh" "$root/sbin/kestrova-init"
  echo kestrova-vm >"$root/etc/hostname"
  chroot "$root" dpkg --add-architecture i386
}

install_packages() {
  { apt_update "apt-get update (in the image)" chroot "$root" apt-get update -qq || true; } &&
  retried "apt-get install (in the image)" chroot "$root" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends linux-image-amd64 wine wine32:i386 python3 iproute2 &&
  chroot "$root" apt-get clean &&
  rm -rf "$root"/var/lib/apt/lists/*
}

kernel_files() {
  local kernel initrd
  kernel=$(ls "$root"/boot/vmlinuz-* 2>/dev/null | tail -n 1)
  [ -n "$kernel" ] || { echo "$vm_who: the image has no kernel in /boot" >&2; return 1; }
  initrd="$root/boot/initrd.img-${kernel##*/vmlinuz-}"
  if [ ! -f "$initrd" ]; then
    chroot "$root" update-initramfs -c -k "${kernel##*/vmlinuz-}" || return 1
  fi
  cp "$kernel" "$build/vmlinuz"
  cp "$initrd" "$build/initrd.img"
}

make_disk() {
  truncate -s 8G "$build/disk.img"
  mkfs.ext4 -q -F -L kestrova -d "$root" "$build/disk.img"
}

# Inside the machine: the 32-bit prefix every run starts from (the disk is
# a snapshot then, so a run never changes it).
prepare_wine() {
  local script="$build/prepare.sh" rc=0
  cat >"$script" <<'GUEST'
set -e
export WINEPREFIX=$KESTROVA_WINE_PREFIX WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$(dirname "$WINEPREFIX")"
wine wineboot --init
wineserver -w
test -f "$WINEPREFIX/system.reg"
echo "the Wine prefix $WINEPREFIX is ready: $(wine --version), $(du -sh "$WINEPREFIX" | cut -f1)"
GUEST
  vm_boot "$build" write 600 1800 "$build/boot" "$script" || rc=$?
  [ $rc -eq 0 ] || echo "$vm_who: making the Wine prefix inside the machine failed (status $rc)" >&2
  return $rc
}

echo "$vm_who: making $vm_image from $mirror ($suite)" >&2
timed debootstrap vm_step "debootstrap ($suite, minbase)" 2400 retried debootstrap fresh_debootstrap
timed configure configure_root
timed packages vm_step "the kernel and Wine in the image" 2400 install_packages
timed kernel vm_step "the kernel and its initrd" 600 kernel_files
timed disk vm_step "the disk image (mkfs.ext4 -d)" 900 make_disk
rm -rf --one-file-system "$root"
timed wineboot prepare_wine
rm -rf "$build/boot" "$build/prepare.sh"

used=$(du -BM "$build/disk.img" | cut -f1)
{
  echo "key $vm_key"
  echo "made $(date -u +%Y-%m-%dT%H:%M:%SZ) from $mirror in $(($(vm_seconds) - started)) s"
  printf '%s\n' "${timings[@]}"
  echo "disk.img 8 GiB, $used used"
} >"$build/ready"
mv "$build" "$vm_image"
# Images of older recipes are not used again.
for old in "$vm_cache"/image-*; do
  [ "$old" = "$vm_image" ] || rm -rf --one-file-system "$old"
done
echo "$vm_who: ready in $(($(vm_seconds) - started)) s: $vm_image ($(paste -sd ';' "$vm_image/ready" | sed 's/;/; /g'))" >&2
finish
