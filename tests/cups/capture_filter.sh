#!/bin/sh
# Stands in for rastertoqel in the scheduler tests of the PPDs: it hands the
# CUPS raster stream on unchanged, so the test sees exactly what the filter
# would have read.  Same arguments as a CUPS filter; the file is optional.
if [ $# -lt 5 ] || [ $# -gt 6 ]; then
    echo "Usage: $0 job-id user title copies options [file]" >&2
    exit 1
fi
echo "PAGE: 1 1" >&2
if [ $# -eq 6 ]; then
    exec cat "$6"
fi
exec cat
