#!/bin/busybox sh
# The emulated USB MIDI controller of the test VM (installed as /bin/qb4ii-usb): a
# configfs gadget named "Korvan QB4 II" on dummy_hcd, which the same kernel's
# snd-usb-audio binds and the sequencer lists as "Korvan QB4 II MIDI 1". Its gadget
# side is the raw MIDI device hw:QB4Gadget,0, where a device program plays the
# controller.
#
#   qb4ii-usb create        makes the gadget and plugs it in
#   qb4ii-usb plug [--no-round-trip]
#                           plugs it in; 0 once the host lists the port and an
#                           identity request through it is answered (by a device
#                           program started for it, or by the one holding the gadget
#                           side), or with --no-round-trip (for a device program
#                           that plugs itself in and cannot answer meanwhile) once it
#                           opens
#   qb4ii-usb unplug        unplugs it; 0 once the port is no longer listed
#   qb4ii-usb verify        0 when the port is listed and opens, and the gadget side
#                           is there
#   qb4ii-usb listed        0 when the controller's port is listed
#   qb4ii-usb soak CYCLES [no]
#                           unplugs and plugs CYCLES times as the checks do, with
#                           both sides holding the controller open (no: nothing
#                           held), checking a round trip after each plug; prints a
#                           line a cycle and a summary
#
# How it unplugs and plugs (/etc/qb4ii-usb-method, default udc):
#   udc         unbinding and binding the gadget (its UDC file): the host sees a
#               disconnect and enumerates the device afresh, and the gadget's raw
#               MIDI side goes and comes back, as a controller loses power
#   soft        the device controller's pull-up (the UDC's soft_connect), the
#               gadget staying bound (dummy_hcd on Debian 12's kernel does not
#               enumerate the device again this way)
#   authorized  the host de-authorises and re-authorises the device: no bus traffic
#               beyond a configuration change

#
# A plug that does not bring back a port that opens is the emulated bus's fault,
# not the updater's: it is written to /tmp/harness-faults with the kernel's last
# lines, for the checks to tell the two apart.

g=/sys/kernel/config/usb_gadget/qb4
port="Korvan QB4 II MIDI 1"
gadget_device="hw:QB4Gadget,0"
identity_request=F07E7F0601F7
method=$(cat /etc/qb4ii-usb-method 2>/dev/null || echo udc)
udc=$(ls /sys/class/udc 2>/dev/null | head -n 1)
faults=/tmp/harness-faults

# Tenths of a second since boot.
now() { awk '{ printf "%d", $1 * 10 }' /proc/uptime; }

# The controller's port on the sequencer's kernel client for the USB device. A
# program that has the port open holds a port of its own with the same name on its
# user client, which must not count.
listed() {
    awk -v port="\"$port\"" '/^Client/ { kernel = /\[Kernel/ } kernel && /^  Port/ && index($0, port) { found = 1 }
                             END { exit !found }' /proc/asound/seq/clients 2>/dev/null
}

# wait_listed YES|NO TENTHS: 0 once the port's listing is as asked.
wait_listed() {
    i=0
    while :; do
        if [ "$1" = YES ]; then listed && return 0; else listed || return 0; fi
        i=$((i + 1))
        [ $i -gt "$2" ] && return 1
        sleep 0.1
    done
}

# The host's side of the device, for the authorized method.
host_device() {
    for d in /sys/bus/usb/devices/*; do
        [ "$(cat "$d/product" 2>/dev/null)" = "Korvan QB4 II" ] && echo "$d" && return 0
    done
    return 1
}

do_unplug() {
    case $method in
        soft) echo disconnect > /sys/class/udc/$udc/soft_connect ;;
        udc) echo > $g/UDC ;;
        authorized) d=$(host_device) && echo 0 > "$d/authorized" ;;
    esac
}

do_plug() {
    case $method in
        soft) echo connect > /sys/class/udc/$udc/soft_connect ;;
        # A gadget the bus lost while still bound is unbound first.
        udc) [ -n "$(cat $g/UDC)" ] && echo > $g/UDC
             echo $udc > $g/UDC ;;
        authorized) d=$(host_device) && echo 1 > "$d/authorized" ;;
    esac
}

harness_fault() {
    echo "qb4ii-usb: $1" >&2
    dmesg | tail -n 15 | sed 's/^/qb4ii-usb:     /' >&2
    echo "$1" >> $faults
}

create() {
    mount -t configfs configfs /sys/kernel/config 2>/dev/null
    mkdir -p $g/strings/0x409 $g/configs/c.1/strings/0x409 $g/functions/midi.usb0
    echo 0x1209 > $g/idVendor
    echo 0x0001 > $g/idProduct
    echo Korvan > $g/strings/0x409/manufacturer
    echo "Korvan QB4 II" > $g/strings/0x409/product
    echo 0001 > $g/strings/0x409/serialnumber
    echo MIDI > $g/configs/c.1/strings/0x409/configuration
    echo QB4Gadget > $g/functions/midi.usb0/id
    echo 1 > $g/functions/midi.usb0/in_ports
    echo 1 > $g/functions/midi.usb0/out_ports
    ln -s $g/functions/midi.usb0 $g/configs/c.1/
    # Bound once for good: the soft and authorized methods leave the gadget bound.
    echo $udc > $g/UDC
    wait_listed YES 300 || { harness_fault "\"$port\" not listed 30 s after the gadget was bound"; return 1; }
    qb4ii_vm_host probe "$port" > /dev/null || { harness_fault "\"$port\" listed but does not open"; return 1; }
}

# wait_for_text FILE PATTERN TENTHS: 0 once FILE has a line matching PATTERN. The
# file is emptied before its program starts in the background: see init.sh.
wait_for_text() {
    i=0
    until grep -q "$2" "$1" 2>/dev/null; do
        i=$((i + 1))
        [ $i -gt "$3" ] && return 1
        sleep 0.1
    done
}

# start_responder LOG SECONDS: a device program on the gadget side that answers one
# identity request with the reply for firmware 1.05, as $responder, once it has the
# device open or cannot open it.
start_responder() {
    reply=${reply:-$(qb4ii_vm_host reply 1 0 5)}
    : > $1
    qb4ii_vm_device respond $gadget_device $identity_request $reply $2 > $1 2>&1 &
    responder=$!
    wait_for_text $1 "ready\|cannot open" 50
}

# answered: 0 once an identity request through the port is answered.
answered() {
    # A device program holding the gadget side answers instead.
    start_responder /tmp/plug-respond.log 30
    qb4ii_vm_host ping "$port" 20000 > /tmp/plug-ping.log 2>&1
    answer=$?
    stop_device_side $responder /tmp/plug-respond.log
    return $answer
}

plug() {
    do_plug
    wait_listed YES 300 || { harness_fault "\"$port\" not listed 30 s after plugging in ($method)"; return 1; }
    if [ "$1" = --no-round-trip ]; then
        qb4ii_vm_host probe "$port" > /dev/null || { harness_fault "\"$port\" listed but does not open after plugging in ($method)"; return 1; }
    else
        answered || { harness_fault "\"$port\" listed but no identity round trip after plugging in ($method): $(tr '\n' ' ' < /tmp/plug-ping.log)"; return 1; }
    fi
}

unplug() {
    do_unplug
    wait_listed NO 300 || { harness_fault "\"$port\" still listed 30 s after unplugging ($method)"; return 1; }
}

verify() {
    listed || { harness_fault "\"$port\" is not listed"; return 1; }
    grep -q QB4Gadget /proc/asound/cards || { harness_fault "the gadget's raw MIDI side is gone"; return 1; }
    qb4ii_vm_host probe "$port" > /dev/null || { harness_fault "\"$port\" listed but does not open"; return 1; }
}

# round_trip: a round trip through the updater's MIDI manager, the device side
# answering the identity request with the reply for firmware 1.05. When the first
# request goes unanswered the same device side gets a second one: $round_trips
# says how many it took (0: none answered).
round_trip() {
    start_responder /tmp/soak-respond.log 15
    round_trips=0
    if qb4ii_vm_host identity "$port" $reply 3000 > /tmp/soak-identity.log 2>&1; then
        round_trips=1
    elif qb4ii_vm_host identity "$port" $reply 3000 >> /tmp/soak-identity.log 2>&1; then
        round_trips=2
    fi
    stop_device_side $responder /tmp/soak-respond.log
}

# stop_device_side PID LOG: the device side ends by itself once it answered or lost
# its device; one that does not is stopped, and one stuck in the driver killed.
stop_device_side() {
    i=0
    while kill -0 $1 2>/dev/null && [ $i -lt 30 ]; do
        [ $i -eq 10 ] && kill $1 2>/dev/null
        i=$((i + 1))
        sleep 0.1
    done
    if kill -0 $1 2>/dev/null; then
        echo "device side stuck in $(cat /proc/$1/wchan 2>/dev/null)" >> $2
        kill -KILL $1 2>/dev/null
    fi
    wait $1 2>/dev/null
}

# soak CYCLES: each cycle unplugs and plugs the controller as the checks do, while
# both sides hold it open as the updater and a running controller do: the host holds
# an output (the vanish command of qb4ii_vm_host, which also checks that sends on it
# are refused while the port is gone and once it is back) and the device side the
# gadget's raw MIDI device. After each plug, a fresh round trip with one request
# shows whether the first message after a plug arrives. With HOLD=no nothing holds
# the controller across the unplug: quicker cycles, for many of them.
soak() {
    cycles=$1
    unplug_failed=0 plug_failed=0 vanish_failed=0 first=0 second=0 none=0
    start=$(now)
    c=0
    while [ $c -lt "$cycles" ]; do
        c=$((c + 1))
        rm -f $faults
        holder="" vanish=""
        if [ "$HOLD" != no ]; then
            : > /tmp/soak-holder.log
            qb4ii_vm_device respond $gadget_device F7F7F7 00 600 > /tmp/soak-holder.log 2>&1 &
            holder=$!
            : > /tmp/soak-vanish.log
            qb4ii_vm_host vanish "$port" 120000 > /tmp/soak-vanish.log 2>&1 &
            vanish=$!
            wait_for_text /tmp/soak-vanish.log "unplug now\|cannot" 100
        fi
        t=$(now)
        unplug 2>/dev/null || unplug_failed=$((unplug_failed + 1))
        gone=$(($(now) - t))
        [ -n "$holder" ] && stop_device_side $holder /tmp/soak-holder.log
        # As in the checks, the holder must have seen the port go before it comes back.
        [ -n "$vanish" ] && wait_for_text /tmp/soak-vanish.log "plug in now\|not unplugged" 100
        t=$(now)
        plug 2>/dev/null || plug_failed=$((plug_failed + 1))
        back=$(($(now) - t))
        [ -s $faults ] && echo "QB4II-VM REPLUG cycle $c: $(tr '\n' ';' < $faults)"
        if [ -n "$vanish" ]; then
            if ! wait $vanish; then
                vanish_failed=$((vanish_failed + 1))
                echo "QB4II-VM REPLUG cycle $c: the vanish round failed: $(tr '\n' ' ' < /tmp/soak-vanish.log)"
            fi
        fi
        round_trip
        case $round_trips in
            1) first=$((first + 1)) ;;
            2) second=$((second + 1))
               echo "QB4II-VM REPLUG cycle $c: the first request went unanswered: $(tr '\n' ' ' < /tmp/soak-respond.log)" ;;
            *) none=$((none + 1))
               echo "QB4II-VM REPLUG cycle $c: no reply to two requests: $(cat /tmp/soak-identity.log /tmp/soak-respond.log | tr '\n' ' ')" ;;
        esac
        echo "QB4II-VM REPLUG cycle $c: gone after $((gone * 100)) ms, back and answering after $((back * 100)) ms, round trip at request $round_trips [at $(cut -d' ' -f1 /proc/uptime) s]"
    done
    echo "QB4II-VM REPLUG SUMMARY: method $method, $cycles cycles, held open: ${HOLD:-yes}:" \
         "$unplug_failed unplugs and $plug_failed plugs failed, $vanish_failed vanish rounds failed;" \
         "the first request after the plug answered in $first, only the second in $second, neither in $none;" \
         "$(( ($(now) - start) / 10 )) s in all"
    dmesg | grep -iE "error|warn|drain|overrun|fail|waiting" | sed 's/^\[ *[0-9.]*\] //' | sort | uniq -c | sort -rn | head -n 12 \
        | sed 's/^/QB4II-VM REPLUG kernel: /'
}

case "$1" in
    create) create ;;
    plug) plug "$2" ;;
    unplug) unplug ;;
    verify) verify ;;
    listed) listed ;;
    soak) HOLD=$3 soak "$2" ;;
    *) echo "usage: qb4ii-usb create | plug [--no-round-trip] | unplug | verify | listed | soak CYCLES [no]" >&2; exit 2 ;;
esac
