#!/usr/bin/env bash
# remember_port 7, then Wine's own `reg query` must show COMport as REG_DWORD 0x7.
# Usage: settings_reg_query.sh WINE_LOADER REMEMBER_PORT_EXE
set -u
wine=$1 exe=$2
key='HKCU\Software\Ostrel\TQ734 Updater'
cleanup() { "$wine" reg delete "$key" /f >/dev/null 2>&1; }
trap cleanup EXIT
cleanup
"$wine" "$exe" 7 || { echo "remember_port.exe failed"; exit 1; }
out=$("$wine" reg query "$key" /v COMport 2>&1 | tr -d '\r')
echo "$out"
echo "$out" | grep -Eq '^[[:space:]]+COMport[[:space:]]+REG_DWORD[[:space:]]+0x7$'
