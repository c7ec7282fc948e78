#!/bin/busybox sh
# PID 1 of the MIDI test VM (see run.sh): brings up the ALSA sequencer, snd-virmidi
# and an emulated USB MIDI controller (usb.sh), runs the checks, prints one line per
# check and a summary line on the serial console, and powers off.
#
# The end-to-end checks run the updater's chain (qb4ii_vm_e2e) against the
# standalone controller emulator: first on sequencer ports of its own, as on a
# desktop, then on the USB gadget's device side, where its resets unplug and
# replug the gadget.

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
harness_failed=""
checks=0

# check NAME STATUS DETAILS [KIND]: one result line. A failure is the updater's
# (KIND product, the default) or the harness's (KIND harness: the emulated USB bus
# did not bring the controller back).
check() {
    checks=$((checks + 1))
    if [ "$2" != PASS ]; then
        if [ "${4:-product}" = harness ]; then harness_failed="$harness_failed $1"; else failed="$failed $1"; fi
    fi
    echo "QB4II-VM CHECK $1: $2${3:+ $3}${4:+ [$4 failure]} [at $(cut -d' ' -f1 /proc/uptime) s]"
}

finish() {
    echo "QB4II-VM kernel: $(dmesg | grep -c 'buffer overrun') MIDI buffer overruns logged"
    if [ -z "$failed$harness_failed" ]; then
        echo "QB4II-VM SUMMARY: PASS ($checks checks)"
    else
        echo "QB4II-VM SUMMARY: FAIL (failed:${failed:+ product:$failed}${harness_failed:+${failed:+;} harness:$harness_failed})"
    fi
    sync
    poweroff -f
}

# wait_for_line FILE TEXT SECONDS
# A log waited on is emptied before its program starts in the background, by the
# shell itself: the program's own redirection truncates it only once the program
# runs, and until then the log of an earlier round would match at once.
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
: > /tmp/appear.log
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
: > /tmp/seq-emulator.log
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

# The emulated controller: a USB MIDI gadget on dummy_hcd, bound by snd-usb-audio
# (see usb.sh). Asked for by run.sh, a soak of many unplug and plug cycles takes the
# place of the checks that follow.
if qb4ii-usb create; then
    check usb-port-listed PASS "(\"$port\", opens)"
else
    cat /proc/asound/cards /proc/asound/seq/clients
    check usb-port-listed FAIL "(\"$port\" not usable after binding the gadget)" harness
    finish
fi

if [ -f /etc/qb4ii-replug-cycles ]; then
    qb4ii-usb soak $(cat /etc/qb4ii-replug-cycles)
    finish
fi

# Asked for by run.sh (QB4II_VM_PERF), figures take the place of the checks: the
# updater's CPU while idle beside the controller and 32 other sequencer ports, its
# detection latency from a real plug-in to the version, and what it holds over
# many real replugs (qb4ii_vm_e2e idle and replug).
perf_figures() {
    cycles=$(cat /etc/qb4ii-perf)
    echo "QB4II-VM PERF ports: $(grep -c '^  Port' /proc/asound/seq/clients) sequencer ports listed"

    qb4ii_vm_e2e idle "$port" 60 baseline > /tmp/idle-baseline.log 2>&1
    show /tmp/idle-baseline.log
    # Nobody plays the controller yet: detection keeps asking every 100 ms.
    qb4ii_vm_e2e idle "$port" 60 silent > /tmp/idle-silent.log 2>&1
    show /tmp/idle-silent.log
    start_usb_emulator
    # The controller answered: only the port poll runs.
    qb4ii_vm_e2e idle "$port" 60 answering > /tmp/idle-answering.log 2>&1
    show /tmp/idle-answering.log

    qb4ii-usb unplug
    : > /tmp/replug.log
    qb4ii_vm_e2e replug "$port" $cycles 10 > /tmp/replug.log 2>&1 &
    replug_pid=$!
    c=0
    while [ $c -lt $cycles ]; do
        c=$((c + 1))
        wait_for_line /tmp/replug.log "cycle $c: plug in now" 60 || break
        cut -d' ' -f1 /proc/uptime > /tmp/qb4ii-plugged-at
        qb4ii-usb plug --no-round-trip
        wait_for_line /tmp/replug.log "cycle $c: version read\|FAIL" 60 || break
        qb4ii-usb unplug
    done
    wait_for_exit $replug_pid 120
    replug_status=$?
    show /tmp/replug.log
    stop_usb_emulator

    grep -h "% of one core" /tmp/idle-baseline.log /tmp/idle-silent.log /tmp/idle-answering.log | sed 's/^/QB4II-VM PERF /'
    grep -E "after the warm-up|at the end|RSS from|detection latency" /tmp/replug.log | sed 's/^/QB4II-VM PERF /'
    if grep -q "% of one core" /tmp/idle-silent.log && grep -q "% of one core" /tmp/idle-answering.log \
        && [ $replug_status -eq 0 ]; then
        check perf-figures PASS
    else
        check perf-figures FAIL "(replug $replug_status)"
    fi
    finish
}

qb4ii_vm_host list > /tmp/list.log 2>&1
show /tmp/list.log

# run_check NAME: runs check_NAME, which sets $status (PASS or FAIL) and $details.
# A failure during which the emulated USB bus failed to bring the controller back,
# or after which the controller is not there and usable (usb.sh wrote to
# /tmp/harness-faults), is the harness's: the check runs once more from a fresh
# plug. Any other failure is the updater's and is not retried.
run_check() {
    name=$(echo $1 | tr _ -)
    rm -f /tmp/harness-faults
    check_$1
    # A controller that is gone or unusable after a failure was lost by the bus.
    [ $status != PASS ] && qb4ii-usb verify
    if [ $status != PASS ] && [ -s /tmp/harness-faults ]; then
        echo "QB4II-VM $name: the emulated USB bus failed ($(tr '\n' ';' < /tmp/harness-faults)), once more from a fresh plug"
        rm -f /tmp/harness-faults
        qb4ii-usb listed && qb4ii-usb unplug
        if qb4ii-usb plug; then
            check_$1
            [ $status != PASS ] && qb4ii-usb verify
        else
            details="(no fresh plug either)"
        fi
    fi
    if [ $status = PASS ]; then
        check $name PASS "$details"
    elif [ -s /tmp/harness-faults ]; then
        check $name FAIL "$details" harness
    else
        check $name FAIL "$details" product
    fi
}

# --- Identity request and reply through MidiManager --------------------------------
# The controller's 37-byte reply for firmware 1.05, as the updater knows it.
identity_reply=$(qb4ii_vm_host reply 1 0 5)
check_identity_round_trip() {
    : > /tmp/respond.log
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
        status=PASS details=""
    else
        status=FAIL details="(host $identity_status, device $respond_status)"
    fi
}

# Another program sends a forged identity reply (firmware 9.99) straight to
# every port: the framework's own input takes it, the updater's does not.
check_forged_identity_reply() {
    qb4ii_vm_host forged "$port" $(qb4ii_vm_host reply 9 9 9) > /tmp/forged.log 2>&1 && status=PASS || status=FAIL
    show /tmp/forged.log
    details="($(sed -n 's/^forged: //p' /tmp/forged.log))"
}

# --- The firmware image message, streamed in blocks ----------------------------------
image_size=$(qb4ii_vm_host image /tmp/image.syx)

# send_image NAME DEVICE PORT [--juce]: captures on DEVICE what the host sends to
# PORT; leaves the captured size in $captured and the host's status in $send_status.
# snd-virmidi's raw side is read with alsa-utils' amidi, which stops 5 s after
# the last byte; the USB device's with qb4ii_vm_device, which stops at the size.
send_image() {
    rm -f /tmp/$1.bin
    if [ $1 = virmidi ]; then
        : > /tmp/$1.capture.log
        amidi -p $2 -r /tmp/$1.bin -t 5 > /tmp/$1.capture.log 2>&1 &
        capture_pid=$!
        # Ready once it has the raw MIDI device open.
        i=0
        until ls -l /proc/$capture_pid/fd 2>/dev/null | grep -q /dev/snd/midi || [ $i -gt 100 ]; do
            i=$((i + 1))
            sleep 0.1
        done
    else
        : > /tmp/$1.capture.log
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

# check_image TARGET DEVICE PORT
check_image() {
    send_image $1 $2 "$3"
    if [ $send_status -eq 0 ] && cmp -s /tmp/image.syx /tmp/$1.bin; then
        status=PASS details="($captured of $image_size bytes, identical$([ $1 = virmidi ] && echo ", read with amidi"))"
    else
        status=FAIL details="(host status $send_status, $captured of $image_size bytes, $(cmp /tmp/image.syx /tmp/$1.bin 2>&1))"
    fi
}
check_image_usb() { check_image usb $gadget_device "$port"; }
check_image_virmidi() { check_image virmidi $virmidi_device "VirMIDI*"; }

# --- Control: the framework's own output ---------------------------------------------
check_juce_control() {
    send_image juce $gadget_device "$port" --juce
    if [ $send_status -ne 0 ]; then
        status=FAIL details="(the control could not send)"
    elif cmp -s /tmp/image.syx /tmp/juce.bin; then
        status=PASS details="(NOTE: juce::MidiOutput now delivers the slices intact; the ALSA service may no longer be needed)"
    else
        status=PASS details="(juce::MidiOutput delivered $captured of $image_size bytes: the slices are lost, as known)"
    fi
}

# --- Unplugging: sends on a vanished port fail, as soon as it is not listed ------------
check_send_to_vanished_port() {
    vanish_failures=0
    for round in 1 2 3; do
        : > /tmp/vanish.log
        qb4ii_vm_host vanish "$port" 60000 > /tmp/vanish.log 2>&1 &
        vanish_pid=$!
        if wait_for_line /tmp/vanish.log "unplug now" 10; then
            qb4ii-usb unplug
            wait_for_line /tmp/vanish.log "plug in now" 10 && qb4ii-usb plug
        fi
        wait_for_exit $vanish_pid 70 || vanish_failures=$((vanish_failures + 1))
        show /tmp/vanish.log
        # The next round starts on a port that is back and opens.
        [ -s /tmp/harness-faults ] && break
    done
    if [ $vanish_failures -eq 0 ] && [ ! -s /tmp/harness-faults ]; then
        status=PASS details="(refused while gone and once back, 3 rounds)"
    else
        status=FAIL details="($vanish_failures of $round rounds)"
    fi
}

# --- The whole chain against the emulator on the USB gadget --------------------------
# A reset of the emulator is a real USB unplug and replug (usb.sh).
start_usb_emulator() {
    : > /tmp/usb-emulator.log
    qb4ii-controller-emulator --rawmidi $gadget_device --version 1.00 --keep-running --log-bursts 100 \
        --unplug-command "qb4ii-usb unplug" --plug-command "qb4ii-usb plug --no-round-trip" > /tmp/usb-emulator.log 2>&1 &
    emulator_pid=$!
    wait_for_line /tmp/usb-emulator.log "ports appear" 10
}

stop_usb_emulator() {
    kill -TERM $emulator_pid 2>/dev/null
    wait_for_exit $emulator_pid 10
    emulator_status=$?
    show /tmp/usb-emulator.log
}

# A normal update at the controller's own pacing: 5000 ms erase wait, 259 ms a block.
check_e2e_update_real_pacing() {
    start_usb_emulator
    qb4ii_vm_e2e update "$port" 1.00 1.05 > /tmp/e2e-update.log 2>&1
    e2e_status=$?
    show /tmp/e2e-update.log
    stop_usb_emulator
    verified=$(grep "image verified" /tmp/usb-emulator.log)
    if [ $e2e_status -eq 0 ] && [ -n "$verified" ]; then
        status=PASS details="($(grep -o 'sending to complete [0-9.]* s' /tmp/e2e-update.log); emulator:${verified#*image verified})"
    else
        status=FAIL details="(updater $e2e_status, emulator: ${verified:-no image verified})"
    fi
}

# Another sequencer client connected to write to the controller: the update is
# refused, and nothing but identity requests reaches the USB device.
check_e2e_refused_while_another_client_writes() {
    start_usb_emulator
    aconnect "Midi Through:0" "Korvan QB4 II:0"
    qb4ii_vm_e2e in-use "$port" "Midi Through" > /tmp/e2e-in-use.log 2>&1
    e2e_status=$?
    aconnect -d "Midi Through:0" "Korvan QB4 II:0"
    show /tmp/e2e-in-use.log
    stop_usb_emulator
    if [ $e2e_status -eq 0 ] && grep -q " 0 erase requests, 0 images verified, 0 rejected or lost" /tmp/usb-emulator.log \
        && ! grep -q "burst" /tmp/usb-emulator.log; then
        status=PASS details="(\"Controller In Use\", nothing sent to the gadget)"
    else
        status=FAIL details="(updater $e2e_status; the emulator saw more than identity requests)"
    fi
}

# qb4ii-update as a script runs it, at the controller's own pacing, its JSON read
# by one that leaves after the first line ("| head -n 1"): every write after that
# fails, yet the update goes on to its confirmed end and exit 0. The control: a
# program that does not guard against it dies here of SIGPIPE (status 141).
# (busybox's shell has no PIPESTATUS: each side's status goes to a file.)
check_cli_update_real_pacing() {
    start_usb_emulator
    { yes; echo $? > /tmp/pipe-control.status; } | head -n 1 > /dev/null
    { qb4ii-update update --json --port "$port" 2> /tmp/cli-update.err; echo $? > /tmp/cli-update.status; } \
        | head -n 1 > /tmp/cli-update.json
    cli_status=$(cat /tmp/cli-update.status) control_status=$(cat /tmp/pipe-control.status)
    show /tmp/cli-update.json
    show /tmp/cli-update.err
    stop_usb_emulator
    verified=$(grep "image verified" /tmp/usb-emulator.log)
    if [ "$cli_status" = 0 ] && [ "$control_status" = 141 ] && grep -q '"event": "detected"' /tmp/cli-update.json \
        && [ -n "$verified" ]; then
        status=PASS details="(reader gone after line 1; exit 0, confirmed; emulator:${verified#*image verified})"
    else
        status=FAIL details="(exit $cli_status, control $control_status, emulator: ${verified:-no image verified})"
    fi
}

# A real unplug in the middle of a transfer, and the replug.
check_e2e_unplug_mid_transfer() {
    start_usb_emulator
    : > /tmp/e2e-offline.log
    qb4ii_vm_e2e offline "$port" $interval_ms 500 40 > /tmp/e2e-offline.log 2>&1 &
    offline_pid=$!
    if wait_for_line /tmp/e2e-offline.log "unplug now" 60; then
        qb4ii-usb unplug
        wait_for_line /tmp/e2e-offline.log "plug in now" 40 && qb4ii-usb plug
    fi
    wait_for_exit $offline_pid 90
    offline_status=$?
    show /tmp/e2e-offline.log
    stop_usb_emulator
    if [ $offline_status -eq 0 ] && [ $emulator_status -eq 0 ] && grep -q "image lost: unplugged" /tmp/usb-emulator.log; then
        status=PASS details="(Device Offline, idle, detected again)"
    else
        status=FAIL details="(updater $offline_status, emulator $emulator_status)"
    fi
}

[ -f /etc/qb4ii-perf ] && perf_figures

for check_name in identity_round_trip forged_identity_reply image_usb image_virmidi juce_control send_to_vanished_port \
            e2e_refused_while_another_client_writes e2e_update_real_pacing cli_update_real_pacing e2e_unplug_mid_transfer; do
    run_check $check_name
done

finish
