#!/bin/sh
# CUPS backend of the demo: keeps a copy of the printer command stream and
# passes the job on to CUPS's serial backend.
#
#   device URI: qeltee:/ABSOLUTE/COPY?serial=/ABSOLUTE/PORT
if [ $# -eq 0 ]; then
    echo 'direct qeltee "Unknown" "Serial printer with a copy of the job"'
    exit 0
fi
if [ $# -lt 5 ] || [ $# -gt 6 ]; then
    echo "Usage: qeltee job-id user title copies options [file]" >&2
    exit 1
fi
rest=${DEVICE_URI#qeltee:}
copy=${rest%%\?*}
port=${rest#*\?serial=}
if [ -z "$copy" ] || [ -z "$port" ] || [ "$port" = "$rest" ]; then
    echo "ERROR: bad device URI $DEVICE_URI" >&2
    exit 1
fi
serial=$(dirname "$0")/serial
if [ $# -eq 6 ]; then
    exec < "$6"
fi
# The job's exit status is the serial backend's.
tee "$copy" | DEVICE_URI="serial:$port?baud=115200+bits=8+parity=none+flow=none" \
    "$serial" "$1" "$2" "$3" "$4" "$5"
