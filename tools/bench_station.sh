# The station on 16 ports, for tools/benchmark.sh (sourced; uses $out and $limit): the Linux
# station (release build) on COM33–COM48 = ttyUSB0–15 of a private device directory, on an
# Xvfb of its own, or the Windows station (x86_64) under Wine on COM21–COM36 of the rig's
# prefix, on the rig's display. Either way 16 simulated devices at wire speed whose ports are
# there from the start but which stay silent until each one's own arrival, one every 1.237 s,
# so that most arrive while others are being updated; each ends 500 ms after its final
# command, its port going with it. A 17th device is updated by the updater alone meanwhile.
# Figures: each update against the design limit, each device's pick-up from its arrival (and
# from its port's appearance), the station's own CPU beside its children's and the servers'.

station_pids=()   # simulators, Xvfb and the station: stopped by station_stop, pass or fail

# Asked to end, then killed if it has not within 5 s.
stop_pid() {
    local pid=$1
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

station_stop() {
    local i
    # The station first: its children end with it (and are killed outright if it is).
    for ((i = ${#station_pids[@]} - 1; i >= 0; i--)); do stop_pid "${station_pids[i]}"; done
    station_pids=()
}

# CPU ticks of a process itself, and of its children it has waited for.
own_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
reaped_ticks() { awk '{ sub(/^.*\) /, ""); print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
# The Windows station's children are not its children on Linux (Wine starts each process on
# its own): the updaters of this prefix, sampled while they run, each at its last reading.
declare -A wine_child_ticks=()
wine_children_sample() {
    local p command
    for p in $(grep -lsz "^WINEPREFIX=$WINEPREFIX\$" /proc/[0-9]*/environ | cut -d/ -f3); do
        command=$(tr '\0' ' ' 2>/dev/null <"/proc/$p/cmdline") || continue
        # The control beside the station is not one of its children.
        [[ $command =~ ^[A-Za-z]:[^\ ]*tq734-updater\.exe && $command != *control.jsonl* ]] &&
            wine_child_ticks[$p]=$(own_ticks "$p")
    done
    return 0
}
wine_children_ticks() {
    local total=0 p
    for p in "${!wine_child_ticks[@]}"; do total=$((total + wine_child_ticks[$p])); done
    echo "$total"
}

# The Linux station's children so far: those it has waited for and those running now.
children_ticks() {
    local total c
    total=$(reaped_ticks "$1")
    for c in $(pgrep -P "$1" || true); do
        total=$((total + $(own_ticks "$c") + $(reaped_ticks "$c")))
    done
    echo "$total"
}

# The simulated device n's port.
link_of() {
    if [ "$build" = linux ]; then echo "$dir/dev/ttyUSB$1"; else echo "$WINEPREFIX/dosdevices/com$((21 + $1))"; fi
}

station_sixteen() {   # station_sixteen linux|windows
    local build=$1 dir=$out/station-$1 n hz
    hz=$(getconf CLK_TCK)
    rm -rf "$dir"
    mkdir -p "$dir/dev" "$dir/config"
    local ports=() arrive=()
    for n in $(seq 0 15); do
        arrive[n]=$((4000 + n * 1237))
        "$out/native/tools/simulator/tq734_sim" --link "$(link_of "$n")" --report "$dir/sim-$n.report" \
            --wire-time --version 2.384 --arrive-after-ms "${arrive[n]}" --timeout-s 300 >"$dir/sim-$n.out" 2>&1 &
        station_pids+=($!)
        if [ "$build" = linux ]; then ports+=("COM$((33 + n))"); else ports+=("COM$((21 + n))"); fi
    done
    # A control beside the station: a 17th device, updated by the updater alone at the same
    # time, so that the machine's load can be told from the station's share.
    local control=16 control_port
    if [ "$build" = linux ]; then control_port=COM49; else control_port=COM37; fi
    "$out/native/tools/simulator/tq734_sim" --link "$(link_of "$control")" --report "$dir/control.report" \
        --wire-time --version 2.384 --arrive-after-ms $((4000 + 8 * 1237)) --timeout-s 300 >"$dir/sim-$control.out" 2>&1 &
    station_pids+=($!)
    local sims=("${station_pids[@]}")
    for n in $(seq 0 16); do
        for _ in $(seq 100); do grep -q READY "$dir/sim-$n.out" && break; sleep 0.05; done
        grep -q READY "$dir/sim-$n.out" || { echo "station: simulator $n not ready" >&2; return 1; }
    done
    local t_start station xvfb
    if [ "$build" = linux ]; then
        # Xvfb names the display it found free once it accepts clients.
        local fifo=$dir/displayfd display
        mkfifo "$fifo"
        Xvfb -displayfd 3 -noreset -screen 0 1366x768x24 -nolisten tcp 3>"$fifo" >"$dir/xvfb.log" 2>&1 &
        xvfb=$!
        station_pids+=("$xvfb")
        display=$(timeout 10 head -1 "$fifo" || true)
        rm -f "$fifo"
        [ -n "$display" ] || { echo "station: Xvfb did not start" >&2; return 1; }
        t_start=$(date +%s.%N)
        DISPLAY=:$display TQ734_DEVICE_DIR=$dir/dev XDG_CONFIG_HOME=$dir/config NO_AT_BRIDGE=1 GTK_THEME=Adwaita \
            LC_ALL=C.UTF-8 "$out/native/app/tq734-station" "${ports[@]}" -r "$dir/records.jsonl" >"$dir/station.log" 2>&1 &
        station=$!
        TQ734_DEVICE_DIR=$dir/dev XDG_CONFIG_HOME=$dir/config "$out/native/app/tq734-updater" -a -n -w -p "$control_port" \
            -r "$dir/control.jsonl" >"$dir/control.log" 2>&1 &
    else
        xvfb=${RIG_XVFB_PID:-0}
        wine_child_ticks=()
        t_start=$(date +%s.%N)
        "$WINE_LOADER" "$out/x86_64/app/tq734-station.exe" "${ports[@]}" -r "Z:${dir//\//\\}\\records.jsonl" \
            >"$dir/station.log" 2>&1 &
        station=$!
        "$WINE_LOADER" "$out/x86_64/app/tq734-updater.exe" -a -n -w -p "$control_port" \
            -r "Z:${dir//\//\\}\\control.jsonl" >"$dir/control.log" 2>&1 &
    fi
    station_pids+=($!)
    station_pids+=("$station")
    # Children's CPU: what the Linux station has waited for plus its running children; under
    # Wine, every updater of the prefix at its last reading, and the Wine server apart.
    kids() {
        if [ "$build" = linux ]; then children_ticks "$station"; else wine_children_sample; wine_children_ticks; fi
    }

    # CPU from just before the first arrival to the last device's end.
    local first_arrival=$(( ${arrive[0]} / 1000 - 1 )) a_own a_children a_x a_time b_own b_children b_x b_time
    local a_server=0 b_server=0
    sleep "$first_arrival"
    a_time=$(date +%s.%N) a_own=$(own_ticks "$station") a_children=$(kids) a_x=$(own_ticks "$xvfb")
    [ "$build" = windows ] && a_server=$(own_ticks "$server_pid")
    local deadline=$((SECONDS + 240)) alive
    while :; do
        alive=0
        for n in $(seq 0 16); do kill -0 "${sims[n]}" 2>/dev/null && alive=$((alive + 1)); done
        [ "$alive" = 0 ] && break
        kill -0 "$station" 2>/dev/null || { echo "station: ended early, see $dir/station.log" >&2; return 1; }
        [ "$SECONDS" -ge "$deadline" ] && { echo "station: $alive devices still not done after 240 s" >&2; return 1; }
        [ "$build" = windows ] && wine_children_sample
        sleep 0.5
    done
    # The last record is written before its update's final command, so it is already there.
    b_time=$(date +%s.%N) b_own=$(own_ticks "$station") b_children=$(kids) b_x=$(own_ticks "$xvfb")
    [ "$build" = windows ] && b_server=$(own_ticks "$server_pid")
    plugged_in || return 1
    station_stop

    local records=0 ok=0
    [ -f "$dir/records.jsonl" ] && records=$(head -16 "$dir/records.jsonl" | wc -l)
    ok=$(head -16 "$dir/records.jsonl" | grep -c '"result":"ok".*"exit":0,' || true)
    echo "$build station, 16 ports, 16 devices at wire speed: $records records, $ok of them ok with exit 0;" \
        "$(grep -h '^image:' "$dir"/sim-*.report | sort | uniq -c | awk '{ $1 = $1 " x"; print }' | paste -sd, -)"
    # Per device: transfer (block 0 to finish request) and pick-up (arrival to the first
    # identification request answered, and to block 0), all on the device's own clock.
    for n in $(seq 0 15); do
        awk -v n="$n" -v arr="${arrive[n]}" '
            / arrived$/ && a == "" { a = substr($1, 3) }
            / rx block 0$/ && f == "" { f = substr($1, 3) }
            / rx finish length=/ && l == "" { l = substr($1, 3) }
            END { printf "%d %.3f %.0f %.0f\n", n, (l - f) / 1000, a - arr, f - arr }' "$dir/sim-$n.report"
    done >"$dir/per-device.txt"
    head -16 "$dir/records.jsonl" | grep -o '"seconds":[0-9.]*' | cut -d: -f2 >"$dir/record-seconds.txt" || true
    awk -v lim="$limit" '
        / rx block 0$/ && f == "" { f = substr($1, 3) }
        / rx finish length=/ && l == "" { l = substr($1, 3) }
        END { printf "  control, the updater alone beside the station at the same time: transfer %.3f x limit, %s\n",
                     (l - f) / 1000 / lim, img }' img="$(grep '^image:' "$dir/control.report")" "$dir/control.report"
    echo "  then 16 devices plugged in, one every 0.613 s, each with its own port (short updates):" \
        "$(tail -n +17 "$dir/records.jsonl" | grep -c '"result":"ok".*"exit":0,' || true) of" \
        "$(tail -n +17 "$dir/records.jsonl" | wc -l) records ok with exit 0"
    local stats='function stats(file, scale, format,   v, k, i, j, t, m) {
            k = 0
            while ((getline line < file) > 0) { split(line, f, " "); v[++k] = f[col] * scale }
            close(file)
            for (i = 2; i <= k; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
            m = k % 2 ? v[(k + 1) / 2] : (v[k / 2] + v[k / 2 + 1]) / 2
            return sprintf(format " / " format " / " format, v[1], m, v[k])
        }'
    awk -v lim="$limit" -v file="$dir/per-device.txt" -v rs="$dir/record-seconds.txt" -v plug="$dir/plugged.txt" "$stats"'
        BEGIN {
            col = 2; printf "  transfer, block 0 to finish request (min / median / max): %s x limit\n", stats(file, 1 / lim, "%.3f")
            col = 1; printf "  whole update as each record gives it, first answer to end:  %s x limit\n", stats(rs, 1 / lim, "%.3f")
            col = 3; printf "  pick-up, arrival to the first identification answered:      %s ms\n", stats(file, 1, "%.0f")
            col = 4; printf "  pick-up, arrival to block 0 received:                       %s ms\n", stats(file, 1, "%.0f")
            col = 3; printf "  plugged in (port appears, answering) to the first request:  %s ms\n", stats(plug, 1, "%.0f")
            col = 2; printf "  plugged in (port appears, answering) to block 0 received:   %s ms\n", stats(plug, 1, "%.0f")
        }'
    awk -v a="$a_time" -v b="$b_time" -v so="$((b_own - a_own))" -v ch="$((b_children - a_children))" \
        -v x="$((b_x - a_x))" -v sv="$((b_server - a_server))" -v wo="$b_own" -v wc="$b_children" -v t0="$t_start" -v hz="$hz" 'BEGIN {
        s = b - a
        printf "  CPU over the updates (%.1f s, from 1 s before the first arrival to the last end), as a share of one core:\n", s
        printf "    station %.2f s = %.2f %%; its children %.2f s = %.2f %% (%.3f %% per device); Xvfb %.2f s = %.2f %%",
            so / hz, 100 * so / hz / s, ch / hz, 100 * ch / hz / s, 100 * ch / hz / s / 16, x / hz, 100 * x / hz / s
        if (sv > 0) printf "; wineserver %.2f s = %.2f %%", sv / hz, 100 * sv / hz / s
        printf "\n"
        printf "    whole run from the station'"'"'s start (%.1f s): station %.2f s, children %.2f s\n", b - t0, wo / hz, wc / hz
    }'
}

# Then each port as a device with its own USB port: the port appears with the device already
# answering, while the station's child tries the absent port once a second. Short updates (the
# device finishes after block 20): only the pick-up counts here. Uses the caller's build and dir; writes
# $dir/plugged.txt.
plugged_in() {
    local n plugged=()
    # The removal children see the first devices' ports go; the waiting children follow.
    sleep 3
    for n in $(seq 0 15); do
        "$out/native/tools/simulator/tq734_sim" --link "$(link_of "$n")" --report "$dir/plug-$n.report" \
            --wire-time --version 2.384 --finish-after-block 20 --timeout-s 60 >"$dir/plug-$n.out" 2>&1 &
        station_pids+=($!)
        plugged+=($!)
        sleep 0.613
    done
    local deadline=$((SECONDS + 60)) alive
    while :; do
        alive=0
        for n in $(seq 0 15); do kill -0 "${plugged[n]}" 2>/dev/null && alive=$((alive + 1)); done
        [ "$alive" = 0 ] && break
        [ "$SECONDS" -ge "$deadline" ] && { echo "station: $alive plugged-in devices not done after 60 s" >&2; return 1; }
        sleep 0.5
    done
    for n in $(seq 0 15); do
        awk -v n="$n" '
            / start on / && s == "" { s = substr($1, 3) }
            / rx identify request$/ && i == "" { i = substr($1, 3) }
            / rx block 0$/ && f == "" { f = substr($1, 3) }
            END { printf "%d %.0f %.0f\n", n, f - s, i - s }' "$dir/plug-$n.report"
    done >"$dir/plugged.txt"
}
