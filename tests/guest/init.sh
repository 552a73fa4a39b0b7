#!/bin/bash
# The guest's first process (installed as /sbin/tq-guest-init). It mounts what Wine and the
# tests need, unpacks the job the host put on the second disk (a tar), runs it, writes the job's
# results as a tar on the third disk and powers the machine off. Should anything go wrong the
# kernel's panic=1 and QEMU's -no-reboot end the machine anyway.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 TERM=dumb
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm
mount -t devpts -o ptmxmode=0666,newinstance devpts /dev/pts
ln -sf pts/ptmx /dev/ptmx
mount -t tmpfs shm /dev/shm
mount -t tmpfs tmp /tmp
mount -t tmpfs run /run
mount -o remount,rw /
hostname guest

echo "guest: up after $(cut -d' ' -f1 /proc/uptime) s"
rm -rf /job /out
mkdir -p /job /out
if tar -xf /dev/vdb -C /job; then
    # The job's own time limits end its cases; this one only keeps the machine from hanging.
    limit=$(cat /job/time-limit 2>/dev/null || echo 1800)
    timeout -k 10 "$limit" /bin/bash /job/job.sh /out 2>&1 | tee /out/job.log
    echo "${PIPESTATUS[0]}" >/out/job.rc
else
    echo "guest: no job on /dev/vdb" >/out/job.log
    echo 2 >/out/job.rc
fi
echo "guest: job ended with $(cat /out/job.rc) after $(cut -d' ' -f1 /proc/uptime) s"
# Whatever the job left running goes, then its files reach the disk before the power does.
kill -TERM -1 2>/dev/null
sleep 1
kill -KILL -1 2>/dev/null
tar -cf /dev/vdc -C /out . || echo "guest: cannot write the results"
sync
mount -o remount,ro / 2>/dev/null
sync
echo o >/proc/sysrq-trigger
sleep 30
