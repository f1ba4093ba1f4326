#!/bin/busybox sh
# /init of the test initramfs. Loads the DRM driver named by relay_driver=
# on the kernel command line, runs crtc-relay on the serial console (so a
# newline typed on the host ends it), reports its exit status and the
# kernel log, and powers off. relay_shell=1 gives a shell instead.

/bin/busybox --install -s /bin
export PATH=/bin

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
exec </dev/ttyS0 >/dev/ttyS0 2>&1

say() {
    echo "crtc-relay-init: $*"
    echo "crtc-relay-init: $*" >/dev/kmsg
}

finish() {
    echo "crtc-relay-init: kernel log begins"
    dmesg -r
    echo "crtc-relay-init: kernel log ends"
    poweroff -f
}

modules_file="/etc/drivers/${relay_driver:-none}"
if [ ! -f "$modules_file" ]; then
    say "no module list for driver '${relay_driver}'"
    finish
fi

while read -r module options; do
    # Options come unquoted from our own list, one word each.
    # shellcheck disable=SC2086
    if ! insmod "$module" $options; then
        say "insmod $module failed"
        finish
    fi
done <"$modules_file"

waited=0
while [ ! -c /dev/dri/card0 ]; do
    if [ "$waited" -ge 50 ]; then
        say "no /dev/dri/card0 after loading ${relay_driver}"
        finish
    fi
    sleep 0.2
    waited=$((waited + 1))
done
say "driver ${relay_driver} ready"

if [ "${relay_shell:-0}" = 1 ]; then
    echo "Run: crtc-relay /dev/dri/card0 (Enter ends it); leave the shell to power off."
    setsid cttyhack sh
    finish
fi

say "starting crtc-relay"
crtc-relay /dev/dri/card0
status=$?
say "crtc-relay exit status: $status"
finish
