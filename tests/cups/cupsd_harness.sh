# Private CUPS scheduler for tests and the demo (sourced by bash scripts).
#
# Everything lives below one directory: configuration, spool, cache, logs and
# a ServerBin made of links to the system's CUPS programs plus our own filter.
# The scheduler listens on a unix socket in that directory only, so several
# of them can run at once and the system's CUPS is never touched.
#
#   qel_cupsd_require_root            skip (exit 77) unless run as root
#   qel_cupsd_prepare ROOT [FILTER]   write the configuration (FILTER: rastertoqel)
#   qel_cupsd_start                   start cupsd, wait until it answers
#   qel_cupsd_stop                    stop it and wait for it to exit
#   qel_cupsd_job_state JOB           print the job's IPP job-state number
# After qel_cupsd_prepare, CUPS_SERVER points the CUPS clients at it.

QEL_CUPSD_PID=
QEL_CUPSD_ROOT=

# Ends the calling test as skipped (77) unless it runs as root: the private
# cupsd runs its filters as lp.
qel_cupsd_require_root()
{
    if [ "$(id -u)" -ne 0 ]; then
        echo "the private cupsd needs root (it runs its filters as lp): skipped"
        exit 77
    fi
}

qel_cupsd_prepare()
{
    local root=$1 filter=${2:-}
    local f
    QEL_CUPSD_ROOT=$root
    rm -rf "$root"
    mkdir -p "$root"/{etc/ppd,spool/tmp,cache,state,log,serverbin/filter,serverbin/backend}
    # Filters run as lp: everything they read must be reachable for others.
    chmod 0755 "$root" "$root"/etc "$root"/serverbin "$root"/serverbin/filter "$root"/serverbin/backend

    for f in daemon cgi-bin notifier monitor driver; do
        [ -e /usr/lib/cups/$f ] && ln -s /usr/lib/cups/$f "$root/serverbin/$f"
    done
    for f in /usr/lib/cups/filter/* /usr/lib/cups/backend/*; do
        ln -s "$f" "$root/serverbin/$(basename "$(dirname "$f")")/$(basename "$f")"
    done
    # The scheduler refuses a filter that is not root-owned or that others
    # can write: install a copy rather than link into the build tree.
    if [ -n "$filter" ]; then
        install -m 0755 "$filter" "$root/serverbin/filter/rastertoqel"
    fi

    local groups=root
    getent group lpadmin >/dev/null && groups="root lpadmin"
    cat > "$root/etc/cups-files.conf" <<CONF
ServerRoot $root/etc
RequestRoot $root/spool
TempDir $root/spool/tmp
CacheDir $root/cache
StateDir $root/state
ServerBin $root/serverbin
DataDir /usr/share/cups
AccessLog $root/log/access_log
ErrorLog $root/log/error_log
PageLog $root/log/page_log
Printcap $root/etc/printcap
FileDevice Yes
User lp
Group lp
SystemGroup $groups
CONF
    cat > "$root/etc/cupsd.conf" <<CONF
LogLevel debug
MaxLogSize 0
Listen $root/cups.sock
Browsing No
DefaultAuthType None
WebInterface No
PreserveJobHistory Yes
PreserveJobFiles No
JobRetryInterval 1
<Location />
  Order deny,allow
  Deny all
  Allow localhost
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
    export CUPS_SERVER=$root/cups.sock
}

qel_cupsd_start()
{
    local root=$QEL_CUPSD_ROOT i
    /usr/sbin/cupsd -t -c "$root/etc/cupsd.conf" -s "$root/etc/cups-files.conf" \
        > "$root/log/cupsd-check.txt" 2>&1 || {
        cat "$root/log/cupsd-check.txt" >&2
        return 1
    }
    /usr/sbin/cupsd -f -c "$root/etc/cupsd.conf" -s "$root/etc/cups-files.conf" \
        > "$root/log/cupsd-stdout.txt" 2>&1 &
    QEL_CUPSD_PID=$!
    for i in $(seq 1 300); do
        if lpstat -r 2>/dev/null | grep -q 'is running'; then
            return 0
        fi
        if ! kill -0 "$QEL_CUPSD_PID" 2>/dev/null; then
            echo "cupsd exited at start; see $root/log" >&2
            tail -20 "$root/log/error_log" >&2 2>/dev/null
            QEL_CUPSD_PID=
            return 1
        fi
        sleep 0.1
    done
    echo "cupsd did not answer within 30 s" >&2
    return 1
}

qel_cupsd_stop()
{
    local i
    [ -n "$QEL_CUPSD_PID" ] || return 0
    kill -TERM "$QEL_CUPSD_PID" 2>/dev/null
    for i in $(seq 1 100); do
        kill -0 "$QEL_CUPSD_PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$QEL_CUPSD_PID" 2>/dev/null
    wait "$QEL_CUPSD_PID" 2>/dev/null
    QEL_CUPSD_PID=
}

# IPP job-state of a job as a keyword: pending, pending-held, processing,
# processing-stopped, canceled, aborted or completed.
qel_cupsd_job_state()
{
    local job=$1 root=$QEL_CUPSD_ROOT
    cat > "$root/get-job-state.test" <<'TEST'
{
    OPERATION Get-Job-Attributes
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri job-uri $uri
    ATTR name requesting-user-name root
    ATTR keyword requested-attributes job-state
    STATUS successful-ok
    DISPLAY job-state
}
TEST
    ipptool -c "ipp://$(qel_cupsd_uri_host)/jobs/$job" \
        "$root/get-job-state.test" 2>/dev/null | tail -n +2 | head -1
}

# Waits until JOB has left the pending/held/processing states (at most
# SECONDS, default 60) and prints its final job-state.
qel_cupsd_wait_job()
{
    local job=$1 limit=${2:-60} state i
    for i in $(seq 1 $((limit * 10))); do
        state=$(qel_cupsd_job_state "$job")
        case "$state" in
            pending | pending-held | processing | "") sleep 0.1 ;;
            *) echo "$state"; return 0 ;;
        esac
    done
    echo "${state:-unknown}"
    return 1
}

# The scheduler's socket as the host part of an ipp: URI.
qel_cupsd_uri_host()
{
    printf '%s' "$QEL_CUPSD_ROOT/cups.sock" | sed 's|/|%2F|g'
}
