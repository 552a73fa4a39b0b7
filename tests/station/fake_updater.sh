#!/usr/bin/env bash
# Stands in for tq734-updater under the station, where the window and the cycle are tested
# without devices: it logs what a plan says for its port and ends as the plan says.
#   TQ734_FAKE_PLAN="COM21=ok COM22=error ..."   plans: wait absent ok updating error wrong
#                                                  uptodate crash finishing
#   TQ734_FAKE_GONE_S=N   the removal step (-g) ends after N seconds (default: never)
port="" removal=no
while [ $# -gt 0 ]; do
    case $1 in
        -p) port=$2; shift ;;
        -g) removal=yes ;;
    esac
    shift
done
say() { printf '%s %s %s\n' "$(date +%Y-%m-%dT%H:%M:%S.%3N%:z)" "$port" "$*"; }
forever() { exec sleep 100000; }
say start version=1.0.0
if [ "$removal" = yes ]; then
    say port state=open
    [ -n "${TQ734_FAKE_GONE_S:-}" ] || forever
    sleep "$TQ734_FAKE_GONE_S"
    say gone reason=silent
    say exit code=0 seconds=$TQ734_FAKE_GONE_S
    exit 0
fi
plan=wait
for p in ${TQ734_FAKE_PLAN:-}; do
    [ "${p%%=*}" = "$port" ] && plan=${p#*=}
done
progress() {
    local upto=$1 i
    for i in 1 2 3 4 5 6 7 8 9 10; do
        [ $((i * 10)) -le "$upto" ] || return 0
        say progress percent=$((i * 10)) blocks=$((i * 1231 / 10)) of=1231
        sleep 0.05
    done
}
device() {
    say port state=open
    sleep 0.3
    say device id=TQ tq734=yes
    say device version=${1:-2.384}
    say status text=\"Ожидание\"
}
case $plan in
    wait) say port state=open; forever ;;
    absent) say port state=unusable; forever ;;
    updating) device; progress 40; say info text=\"Нет ответа\"; forever ;;
    finishing) device; progress 100; say status text=\"Обновление\"; forever ;;
    ok) device; progress 100; say status text=\"Обновление\"
        say result code=0 text=\"Обновление ПО произведено успешно.\"; say final_command sent
        say record written=yes; say exit code=0 seconds=2; exit 0 ;;
    error) device; progress 30; say result code=4 text=\"Ошибка при записи во флеш-память\"
        say final_command sent; say record written=yes; say exit code=4 seconds=2; exit 4 ;;
    wrong) say port state=open; sleep 0.3; say device id=XY tq734=no; say record written=yes
        say exit code=126 seconds=1; exit 126 ;;
    uptodate) device 2.385; say up_to_date version=2.385; say record written=yes; say exit code=0 seconds=1; exit 0 ;;
    crash) device; progress 20; kill -SEGV $$ ;;
esac
