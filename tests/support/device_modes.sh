#!/bin/sh
# device_modes.sh record|compare FILE
# The modes and owners of the device files every program on the machine writes to or reads
# from: recorded into FILE before the test suite and compared with it after the suite. A
# test that changes one of them (through a link it followed) breaks the machine for all.
set -eu
devices="/dev/null /dev/zero /dev/full /dev/random /dev/urandom /dev/tty"

modes() {
  for device in $devices; do
    if [ -e "$device" ]; then stat -c '%n %a %U:%G %F' "$device"; fi
  done
}

case "${1:-}" in
  record)
    modes >"$2"
    cat "$2"
    ;;
  compare)
    [ -s "$2" ] || { echo "device_modes.sh: nothing recorded in $2" >&2; exit 1; }
    if ! modes | diff "$2" - >&2; then
      echo "device_modes.sh: the tests changed a device file (before: <, after: >)" >&2
      exit 1
    fi
    echo "device files unchanged: $devices"
    ;;
  *)
    echo "usage: device_modes.sh record|compare FILE" >&2
    exit 2
    ;;
esac
