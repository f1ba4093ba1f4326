#!/bin/busybox sh
# SPDX-License-Identifier: MIT
# /init of the test initramfs. Loads the DRM driver named by relay_driver=
# on the kernel command line, runs crtc-relay on the serial console (so a
# key typed on the host ends it), reports its exit status and the kernel
# log, and powers off. relay_shell=1 gives a shell instead.
# The host reads the "crtc-relay-init:" lines; keep them as they are.

export PATH=/bin

say() {
    echo "crtc-relay-init: $*"
    echo "crtc-relay-init: $*" >/dev/kmsg
}

print_kernel_log() {
    echo "crtc-relay-init: kernel log begins"
    dmesg -r
    echo "crtc-relay-init: kernel log ends"
    # Let the serial line drain: what is still queued when the session
    # hangs up or the guest powers off is lost, the end marker with it.
    sleep 1
}

# Second stage, started below as "/init session": the leader of a session
# whose controlling terminal is the console, so that Ctrl-C there reaches
# the program as SIGINT. Everything is printed from here because the
# console is hung up when the session leader exits.
if [ "$1" = session ]; then
    trap : INT  # Ctrl-C is for the program; exec resets this for it
    if [ "${relay_shell:-0}" = 1 ]; then
        echo "Run: crtc-relay /dev/dri/card0 (Enter or Ctrl-C ends it); exit powers off."
        sh
        exit
    fi
    # What the device has, read without setting a mode.
    say "listing the device"
    crtc-relay --list /dev/dri/card0
    say "listing ends with status $?"
    # The same as JSON, and the kernel's own connector names to check its
    # kernel_name against.
    say "listing as JSON"
    crtc-relay --list --json /dev/dri/card0
    say "JSON listing ends with status $?"
    say "connectors in sysfs: $(cd /sys/class/drm && echo card0-*)"
    # The row's run, then those its boot goes on with (.1 to .9), each
    # with its arguments one a line.
    for arguments in /etc/crtc-relay-arguments /etc/crtc-relay-arguments.?; do
        [ -f "$arguments" ] || continue
        set --
        while IFS= read -r argument; do
            set -- "$@" "$argument"
        done <"$arguments"
        say "starting crtc-relay"
        crtc-relay "$@" /dev/dri/card0
        say "crtc-relay exit status: $?"
    done
    print_kernel_log
    exit
fi

/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# The CRC files of --verify=crc live in debugfs.
mount -t debugfs debugfs /sys/kernel/debug
exec </dev/ttyS0 >/dev/ttyS0 2>&1

give_up() {
    say "$*"
    print_kernel_log
    poweroff -f
}

modules_file="/etc/drivers/${relay_driver:-none}"
[ -f "$modules_file" ] || give_up "no module list for driver '${relay_driver}'"

while read -r module options; do
    # Options come from our own list, one word each.
    # shellcheck disable=SC2086
    insmod "$module" $options || give_up "insmod $module failed"
done <"$modules_file"

waited=0
while [ ! -c /dev/dri/card0 ]; do
    [ "$waited" -lt 50 ] || give_up "no /dev/dri/card0 after loading ${relay_driver}"
    sleep 0.2
    waited=$((waited + 1))
done
say "driver ${relay_driver} ready"

setsid -c /init session
poweroff -f
