#!/bin/bash
# The virtual machine's first process (/sbin/kestrova-init; no init system):
# mounts what a command needs, the host's control folder and the shares it
# lists at the host's own paths, runs the host's command.sh with its output
# on the serial console, leaves the exit status in the control folder and
# powers the machine off. Whatever happens, the machine ends: the host waits
# for a status it gets only from here.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8 TMPDIR=/tmp
exec </dev/null >/dev/console 2>&1

power_off() {
  sync
  mount -o remount,ro / 2>/dev/null   # a clean disk for the next boot when it was written
  echo o >/proc/sysrq-trigger
  sleep 60
  exit 1   # the kernel panics and QEMU (-no-reboot) ends
}

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
ln -sf /proc/self/fd /dev/fd
echo kestrova-vm >/proc/sys/kernel/hostname
# Loopback, which no init system brings up here: the checks talk to servers
# of their own on 127.0.0.1.
ip link set lo up || echo "kestrova-vm: the loopback interface cannot be brought up"

options=trans=virtio,version=9p2000.L,msize=262144
modprobe 9pnet_virtio && modprobe 9p
mkdir -p /kestrova/control
if ! mount -t 9p -o "$options,cache=none" control /kestrova/control; then
  echo "kestrova-vm: the control folder cannot be mounted"
  power_off
fi
while read -r tag mode path; do
  [ -n "$tag" ] || continue
  mkdir -p "$path" 2>/dev/null
  if [ "$mode" = ro ]; then
    mount -t 9p -o "$options,cache=loose,ro" "$tag" "$path"
  else
    mount -t 9p -o "$options,cache=mmap" "$tag" "$path"
  fi || { echo "kestrova-vm: $path cannot be mounted"; echo 125 >/kestrova/control/status; power_off; }
done </kestrova/control/mounts

echo "kestrova-vm: booted"
# Commands find the Wine prefix made when the image was built here.
export KESTROVA_IN_VM=1 KESTROVA_WINE_PREFIX=/opt/kestrova/wine-x86 KESTROVA_WINE_PREFIX_ARCHS=x86
bash /kestrova/control/command.sh
echo $? >/kestrova/control/status
echo "kestrova-vm: done"
power_off
