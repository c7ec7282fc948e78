#!/bin/busybox sh
# PID 1 of the MIDI test VM (see run.sh): brings up the ALSA sequencer, snd-virmidi
# and an emulated USB MIDI controller, runs the checks, prints one line per check
# and a summary line on the serial console, and powers off.
#
# The end-to-end checks run the updater's chain (qb4ii_vm_e2e) against the
# standalone controller emulator: first on sequencer ports of its own, as on a
# desktop, then on the USB gadget's device side, where its resets unplug and
# replug the gadget through its UDC file.

/bin/busybox --install -s /bin
export PATH=/bin:/opt/qb4ii
export LD_LIBRARY_PATH=/lib/x86_64-linux-gnu
export HOME=/tmp

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp

port="Korvan QB4 II MIDI 1"
gadget_device="hw:QB4Gadget,0"
virmidi_device="hw:VirMidi,0"
interval_ms=$(cat /etc/qb4ii-interval-ms)
identity_request=F07E7F0601F7

failed=""
checks=0

# check NAME STATUS DETAILS: one result line.
check() {
    checks=$((checks + 1))
    [ "$2" = PASS ] || failed="$failed $1"
    echo "QB4II-VM CHECK $1: $2${3:+ $3} [at $(cut -d' ' -f1 /proc/uptime) s]"
}

finish() {
    echo "QB4II-VM kernel: $(dmesg | grep -c 'buffer overrun') MIDI buffer overruns logged"
    if [ -z "$failed" ]; then
        echo "QB4II-VM SUMMARY: PASS ($checks checks)"
    else
        echo "QB4II-VM SUMMARY: FAIL (failed:$failed)"
    fi
    sync
    poweroff -f
}

# wait_for_line FILE TEXT SECONDS
wait_for_line() {
    i=0
    until grep -q "$2" "$1" 2>/dev/null; do
        i=$((i + 1))
        [ $i -gt $(($3 * 10)) ] && return 1
        sleep 0.1
    done
}

# wait_for_exit PID SECONDS: the process's exit status, or 124 after stopping it
# at the deadline.
wait_for_exit() {
    i=0
    while kill -0 "$1" 2>/dev/null; do
        i=$((i + 1))
        if [ $i -gt $(($2 * 10)) ]; then
            kill -TERM "$1" 2>/dev/null
            wait "$1"
            return 124
        fi
        sleep 0.1
    done
    wait "$1"
}

# show FILE: the file's lines, indented, on the console.
show() {
    sed 's/^/    /' "$1"
}

# --- A sequencer that appears after the service started looking for one --------
qb4ii_vm_host appear "Midi Through Port-0" 30000 > /tmp/appear.log 2> /tmp/appear.err &
appear_pid=$!
wait_for_line /tmp/appear.log waiting 20 || echo "QB4II-VM the appear check did not start"

# --- Kernel side -----------------------------------------------------------------
while read -r module params; do
    insmod "/lib/modules/$module" $params || echo "QB4II-VM insmod $module failed"
done < /lib/modules/load-order

wait_for_exit $appear_pid 40
appear_status=$?
show /tmp/appear.log
if [ $appear_status -eq 0 ] && [ ! -s /tmp/appear.err ]; then
    check sequencer-appears PASS "(nothing on stderr while absent)"
else
    show /tmp/appear.err
    check sequencer-appears FAIL "(status $appear_status, $(wc -c < /tmp/appear.err) bytes on stderr)"
fi

# --- The standalone emulator on sequencer ports of its own, as on a desktop --------
# Before the USB controller exists, so that its port is the only controller port.
qb4ii-controller-emulator --seq --keep-running > /tmp/seq-emulator.log 2>&1 &
emulator_pid=$!
wait_for_line /tmp/seq-emulator.log "ports appear" 10
qb4ii_vm_e2e update "Korvan QB4 II MIDI" 1.00 1.05 $interval_ms 500 > /tmp/seq-e2e.log 2>&1
e2e_status=$?
kill -TERM $emulator_pid 2>/dev/null
wait_for_exit $emulator_pid 10
emulator_status=$?
show /tmp/seq-emulator.log
show /tmp/seq-e2e.log
if [ $e2e_status -eq 0 ] && [ $emulator_status -eq 0 ] && grep -q "image verified" /tmp/seq-emulator.log; then
    check emulator-seq-update PASS "(detected, 1.00, update at $interval_ms ms verified, reset, 1.05)"
else
    check emulator-seq-update FAIL "(updater $e2e_status, emulator $emulator_status)"
fi

# The emulated controller: a USB MIDI gadget on dummy_hcd, bound by snd-usb-audio.
mount -t configfs configfs /sys/kernel/config
g=/sys/kernel/config/usb_gadget/qb4
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
udc=$(ls /sys/class/udc | head -n 1)

# Plugging the gadget back in: write the UDC's name, and if the controller's port
# is not listed again within a few seconds, unbind and bind once more. Under
# software emulation a rebind now and then does not enumerate; that is the
# emulated host controller, not the updater, and a real user would replug too.
cat > /bin/qb4ii-plug <<PLUG
#!/bin/sh
for attempt in 1 2 3; do
    echo $udc > $g/UDC
    i=0
    while [ \$i -lt 80 ]; do
        grep -q '"$port"' /proc/asound/seq/clients 2>/dev/null && exit 0
        i=\$((i + 1))
        sleep 0.1
    done
    echo "qb4ii-plug: \"$port\" not listed after attempt \$attempt, binding again" >&2
    echo > $g/UDC
    sleep 1
done
dmesg | tail -n 20 >&2
exit 1
PLUG
chmod +x /bin/qb4ii-plug
qb4ii-plug

if wait_for_line /proc/asound/seq/clients "\"$port\"" 30; then
    check usb-port-listed PASS "(\"$port\")"
else
    cat /proc/asound/cards /proc/asound/seq/clients
    check usb-port-listed FAIL "(\"$port\" not in the sequencer's list)"
    finish
fi

qb4ii_vm_host list > /tmp/list.log 2>&1
show /tmp/list.log

# --- Identity request and reply through MidiManager --------------------------------
# The controller's 37-byte reply for firmware 1.05, as the updater knows it.
identity_reply=$(qb4ii_vm_host reply 1 0 5)
qb4ii_vm_device respond $gadget_device $identity_request $identity_reply 60 > /tmp/respond.log 2>&1 &
respond_pid=$!
wait_for_line /tmp/respond.log ready 10
qb4ii_vm_host identity "$port" $identity_reply 20000 > /tmp/identity.log 2>&1
identity_status=$?
wait_for_exit $respond_pid 5
respond_status=$?
show /tmp/respond.log
show /tmp/identity.log
if [ $identity_status -eq 0 ] && [ $respond_status -eq 0 ]; then
    check identity-round-trip PASS
else
    check identity-round-trip FAIL "(host $identity_status, device $respond_status)"
fi

# --- The firmware image message, streamed in blocks ----------------------------------
image_size=$(qb4ii_vm_host image /tmp/image.syx)

# send_image NAME DEVICE PORT [--juce]: captures on DEVICE what the host sends to
# PORT; leaves the captured size in $captured and the host's status in $send_status.
# snd-virmidi's raw side is read with alsa-utils' amidi, which stops 5 s after
# the last byte; the USB device's with qb4ii_vm_device, which stops at the size.
send_image() {
    rm -f /tmp/$1.bin
    if [ $1 = virmidi ]; then
        amidi -p $2 -r /tmp/$1.bin -t 5 > /tmp/$1.capture.log 2>&1 &
        capture_pid=$!
        # Ready once it has the raw MIDI device open.
        i=0
        until ls -l /proc/$capture_pid/fd 2>/dev/null | grep -q /dev/snd/midi || [ $i -gt 100 ]; do
            i=$((i + 1))
            sleep 0.1
        done
    else
        qb4ii_vm_device capture $2 /tmp/$1.bin $image_size > /tmp/$1.capture.log 2>&1 &
        capture_pid=$!
        wait_for_line /tmp/$1.capture.log ready 10
    fi
    qb4ii_vm_host send "$3" $interval_ms $4 > /tmp/$1.send.log 2>&1
    send_status=$?
    # Whatever is still on its way arrives within moments; amidi waits out its 5 s.
    wait_for_exit $capture_pid $([ $1 = virmidi ] && echo 10 || echo 5)
    show /tmp/$1.send.log
    show /tmp/$1.capture.log
    captured=$(wc -c < /tmp/$1.bin 2>/dev/null || echo 0)
}

for target in usb virmidi; do
    if [ $target = usb ]; then
        send_image usb $gadget_device "$port"
    else
        send_image virmidi $virmidi_device "VirMIDI*"
    fi
    if [ $send_status -eq 0 ] && cmp -s /tmp/image.syx /tmp/$target.bin; then
        check image-$target PASS "($captured of $image_size bytes, identical$([ $target = virmidi ] && echo ", read with amidi"))"
    else
        check image-$target FAIL "(host status $send_status, $captured of $image_size bytes, $(cmp /tmp/image.syx /tmp/$target.bin 2>&1))"
    fi
done

# --- Control: the framework's own output ---------------------------------------------
send_image juce $gadget_device "$port" --juce
if [ $send_status -ne 0 ]; then
    check juce-control FAIL "(the control could not send)"
elif cmp -s /tmp/image.syx /tmp/juce.bin; then
    check juce-control PASS "(NOTE: juce::MidiOutput now delivers the slices intact; the ALSA service may no longer be needed)"
else
    check juce-control PASS "(juce::MidiOutput delivered $captured of $image_size bytes: the slices are lost, as known)"
fi

# --- Unplugging: sends on a vanished port fail, as soon as it is not listed ------------
vanish_failures=0
for round in 1 2 3; do
    qb4ii_vm_host vanish "$port" 30000 > /tmp/vanish.log 2>&1 &
    vanish_pid=$!
    if wait_for_line /tmp/vanish.log "unplug now" 10; then
        echo > $g/UDC
        wait_for_line /tmp/vanish.log "plug in now" 10 && qb4ii-plug
    fi
    wait_for_exit $vanish_pid 40 || vanish_failures=$((vanish_failures + 1))
    show /tmp/vanish.log
    # The next round starts on a listed port.
    wait_for_line /proc/asound/seq/clients "\"$port\"" 30
done
if [ $vanish_failures -eq 0 ]; then
    check send-to-vanished-port PASS "(refused while gone and once back, 3 rounds)"
else
    check send-to-vanished-port FAIL "($vanish_failures of 3 rounds)"
fi

# --- The whole chain against the emulator on the USB gadget --------------------------
# A reset of the emulator is a real USB unplug and replug, through the UDC file.
qb4ii-controller-emulator --rawmidi $gadget_device --version 1.00 --keep-running --log-bursts 100 \
    --unplug-command "echo > $g/UDC" --plug-command qb4ii-plug > /tmp/usb-emulator.log 2>&1 &
emulator_pid=$!
wait_for_line /tmp/usb-emulator.log "ports appear" 10

# A normal update at the controller's own pacing: 5000 ms erase wait, 259 ms a block.
qb4ii_vm_e2e update "$port" 1.00 1.05 > /tmp/e2e-update.log 2>&1
e2e_status=$?
show /tmp/e2e-update.log
verified=$(grep "image verified" /tmp/usb-emulator.log)
if [ $e2e_status -eq 0 ] && [ -n "$verified" ]; then
    check e2e-update-real-pacing PASS "($(grep -o 'sending to complete [0-9.]* s' /tmp/e2e-update.log); emulator:${verified#*image verified})"
else
    check e2e-update-real-pacing FAIL "(updater $e2e_status, emulator: ${verified:-no image verified})"
fi

# A real unplug in the middle of a transfer, and the replug.
qb4ii_vm_e2e offline "$port" $interval_ms 500 40 > /tmp/e2e-offline.log 2>&1 &
offline_pid=$!
if wait_for_line /tmp/e2e-offline.log "unplug now" 60; then
    echo > $g/UDC
    wait_for_line /tmp/e2e-offline.log "plug in now" 40 && qb4ii-plug
fi
wait_for_exit $offline_pid 60
offline_status=$?
show /tmp/e2e-offline.log

kill -TERM $emulator_pid 2>/dev/null
wait_for_exit $emulator_pid 10
emulator_status=$?
show /tmp/usb-emulator.log
if [ $offline_status -eq 0 ] && [ $emulator_status -eq 0 ] && grep -q "image lost: unplugged" /tmp/usb-emulator.log; then
    check e2e-unplug-mid-transfer PASS "(Device Offline, idle, detected again)"
else
    check e2e-unplug-mid-transfer FAIL "(updater $offline_status, emulator $emulator_status)"
fi

finish
