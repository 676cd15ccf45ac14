# Small assertion helpers for the shell tests (sourced).
QEL_FAILURES=0
QEL_CHECKS=0

fail()
{
    echo "FAIL: $*" >&2
    QEL_FAILURES=$((QEL_FAILURES + 1))
}

pass()
{
    echo "ok: $*"
}

# expect_fields CASE LINE "key=value key=value ...": every pair must occur in
# LINE as a whole word.
expect_fields()
{
    local name=$1 line=$2 pair
    QEL_CHECKS=$((QEL_CHECKS + 1))
    for pair in $3; do
        case " $line " in
            *" $pair "*) ;;
            *)
                fail "$name: expected $pair in: $line"
                return 1
                ;;
        esac
    done
    pass "$name"
}

# expect_eq CASE ACTUAL EXPECTED
expect_eq()
{
    QEL_CHECKS=$((QEL_CHECKS + 1))
    if [ "$2" = "$3" ]; then pass "$1 ($2)"; else fail "$1: got '$2', expected '$3'"; fi
}

# field KEY LINE: the value of key=value in LINE.
field()
{
    printf '%s\n' "$2" | tr ' ' '\n' | sed -n "s/^$1=//p" | head -1
}

finish()
{
    if [ "$QEL_FAILURES" -ne 0 ]; then
        echo "$QEL_FAILURES of $QEL_CHECKS checks failed" >&2
        exit 1
    fi
    echo "all $QEL_CHECKS checks passed"
    exit 0
}
