#!/bin/sh
# check_units.sh <cmake> <build dir> <source dir>: the systemd units, the
# sysusers.d file and the maintainer scripts, as the build installs them
# under /usr, in a scratch root:
#  - systemd-analyze verify finds nothing to say about either unit (the
#    template as the instance commcheck-answer@ttyUSB0), with the program
#    ExecStart names and the manual page Documentation names looked up in
#    that root;
#  - systemd-analyze security rates each no more exposed than its limit
#    (below);
#  - the package's postinst makes the user commcheck there, a member of
#    dialout, and its postrm takes the services' logs on purge;
#  - the installed commcheck-cli takes the example monitor.conf (its ports
#    and logs moved into the scratch root) and the example answer.conf's
#    text and options;
#  - and the same checks refuse a unit spoilt on purpose in each of the
#    ways of the table at the end, so that a check that cannot fail is
#    noticed.
# Fails, never skips, when systemd's tools are missing.
set -eu
cmake=$1
build=$2
src=$3

# The most exposure systemd-analyze security (0 to 10) may rate each unit
# at. What stays exposed in the monitor is what it is for: the network
# (device-server lines and the metrics listener: PrivateNetwork=,
# IPAddressDeny=, AF_INET/AF_INET6), the serial devices (PrivateDevices=,
# DeviceAllow=), the group dialout that owns them (SupplementaryGroups=),
# /proc/sys/kernel/random/boot_id and /proc/PID/exe that Qt's serial port
# lock files read (ProcSubset=), logs its group may read (UMask=0027),
# Qt's regular expressions compiled to machine code (MemoryDenyWriteExecute=),
# the journal's socket (AF_UNIX), the host's root and its users
# (RootDirectory=, PrivateUsers=): 1.5 with systemd 252. The answering
# station has no network: 0.6. Taking away any of the hardening the rating
# counts raises either above its limit.
monitor_limit=1.5
answer_limit=0.6

for tool in systemd-analyze systemd-sysusers; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "FAIL: $tool is not installed (scripts/install-deps.sh installs systemd)" >&2
        exit 1
    fi
done

root=$(mktemp -d "${TMPDIR:-/tmp}/commcheck-units.XXXXXX")
monitor=""
# shellcheck disable=SC2317 # run by the trap
cleanup() {
    if [ -n "$monitor" ]; then
        kill -KILL "$monitor" 2>/dev/null || true
    fi
    rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

if ! DESTDIR=$root "$cmake" --install "$build" --prefix /usr >"$root.install.log" 2>&1; then
    cat "$root.install.log" >&2
    rm -f "$root.install.log"
    echo "FAIL: cmake --install $build into $root" >&2
    exit 1
fi
rm -f "$root.install.log"

units=/usr/lib/systemd/system
for file in "$units/commcheck-monitor.service" "$units/commcheck-answer@.service" \
    /usr/lib/sysusers.d/commcheck.conf; do
    if [ ! -f "$root$file" ]; then
        echo "FAIL: the install has no $file" >&2
        exit 1
    fi
done
# The units every service needs (sysinit.target and the like), from the
# host, where systemd looks in the scratch root for its own.
mkdir -p "$root/lib/systemd"
cp -R /lib/systemd/system "$root/lib/systemd/"

status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

# verify UNIT: systemd-analyze verify's findings on UNIT in the root, empty
# when there are none; a failure with nothing printed is a finding too.
verify() {
    findings=$(MANPATH=$root/usr/share/man \
        systemd-analyze verify --root="$root" "$units/$1" 2>&1) || \
        findings="${findings:-systemd-analyze verify $1 failed}"
    printf '%s' "$findings"
}

# exposure UNIT LIMIT: prints the rating; fails when it is above LIMIT.
exposure() {
    report=$(systemd-analyze security --offline=true --root="$root" \
        --threshold="$(echo "$2" | awk '{ printf "%d", $1 * 10 + 0.5 }')" "$units/$1" 2>&1) &&
        rated=0 || rated=1
    printf '%s\n' "$report" | sed -n 's/^.*\(Overall exposure level.*\)$/\1/p'
    return "$rated"
}

for unit in commcheck-monitor.service commcheck-answer@ttyUSB0.service; do
    findings=$(verify "$unit")
    if [ -n "$findings" ]; then
        printf '%s\n' "$findings" >&2
        fail "systemd-analyze verify $unit"
    else
        echo "verify $unit: nothing found"
    fi
done

exposure commcheck-monitor.service "$monitor_limit" ||
    fail "commcheck-monitor.service is more exposed than $monitor_limit"
exposure commcheck-answer@ttyUSB0.service "$answer_limit" ||
    fail "commcheck-answer@.service is more exposed than $answer_limit"

# The user the postinst makes, beside the host's users and groups (dialout
# among them); DPKG_ROOT keeps the scripts off this system.
mkdir -p "$root/etc" "$root/var/log/commcheck"
cp /etc/passwd /etc/group "$root/etc/"
if ! DPKG_ROOT=$root sh "$src/packaging/postinst" configure >/dev/null 2>&1; then
    fail "postinst configure"
fi
grep -q '^commcheck:[^:]*:[0-9]*:[0-9]*:[^:]*:[^:]*:/usr/sbin/nologin$' "$root/etc/passwd" ||
    fail "postinst made no user commcheck without a login"
grep -Eq '^dialout:[^:]*:[0-9]+:(.*,)?commcheck(,.*)?$' "$root/etc/group" ||
    fail "commcheck is not a member of dialout"
: >"$root/var/log/commcheck/press-3.csv"
DPKG_ROOT=$root sh "$src/packaging/postrm" remove || fail "postrm remove"
[ -f "$root/var/log/commcheck/press-3.csv" ] || fail "postrm remove took the logs"
DPKG_ROOT=$root sh "$src/packaging/postrm" purge || fail "postrm purge"
[ ! -e "$root/var/log/commcheck" ] || fail "postrm purge left /var/log/commcheck"

# The examples as the installed program reads them. monitor.conf: the
# monitor starts on it, each line down on a port that is not there, and
# ends with 0 on SIGTERM; a refused file ends it at once with 2.
program=$root/usr/bin/commcheck-cli
examples=$root/usr/share/doc/commcheck/examples
awk -v root="$root" '
    /^port = / { $0 = "port = " root "/no-such-port-" ++ports }
    /^log = \/var\/log\// { sub(/^log = /, "log = " root) }
    { print }' "$examples/monitor.conf" >"$root/monitor.conf"
# LogsDirectory= makes it for the service.
mkdir -p "$root/var/log/commcheck"
sections=$(grep -c '^\[' "$root/monitor.conf")
"$program" monitor "$root/monitor.conf" --metrics-listen 127.0.0.1:0 \
    >"$root/monitor.out" 2>&1 &
monitor=$!
deadline=$(($(date +%s) + 30))
while [ "$(grep -c ' down' "$root/monitor.out")" -lt "$sections" ] &&
    kill -0 "$monitor" 2>/dev/null && [ "$(date +%s)" -lt "$deadline" ]; do
    sleep 0.1
done
kill -TERM "$monitor" 2>/dev/null || true
ended=0
wait "$monitor" || ended=$?
monitor=""
if [ "$ended" -ne 0 ] || [ "$(grep -c ' down' "$root/monitor.out")" -lt "$sections" ]; then
    cat "$root/monitor.out" >&2
    fail "the monitor on the example monitor.conf: exit $ended, not all $sections lines down"
else
    echo "example monitor.conf: $sections lines taken"
fi
# answer.conf, read as systemd reads an EnvironmentFile: the answering
# station takes its text and options, then finds no port (3, not 2).
text=$(sed -n 's/^TEXT=//p' "$examples/answer.conf")
options=$(sed -n 's/^OPTIONS=//p' "$examples/answer.conf")
ended=0
# shellcheck disable=SC2086 # OPTIONS is split into words, as systemd splits $OPTIONS.
"$program" answer "$root/no-such-port" --text "$text" $options >"$root/answer.out" 2>&1 ||
    ended=$?
if [ "$ended" -ne 3 ]; then
    cat "$root/answer.out" >&2
    fail "the answering station on the example answer.conf: exit $ended, not 3 (no port)"
else
    echo "example answer.conf: text and options taken"
fi

# Each spoilt unit: its name, the sed expression that spoils the monitor's
# unit, and what must then be said about it.
spoil() {
    name=$1
    expression=$2
    expected=$3
    unit=$root$units/commcheck-monitor.service
    cp "$unit" "$root/kept.service"
    sed -i "$expression" "$unit"
    if cmp -s "$unit" "$root/kept.service"; then
        fail "$name: '$expression' changed nothing in the unit"
    else
        case "$expected" in
        exposure) said=$(exposure commcheck-monitor.service "$monitor_limit") && said="" ;;
        *) said=$(verify commcheck-monitor.service) ;;
        esac
        case "$said" in
        *"$expected"*) echo "$name: refused" ;;
        "") fail "$name: nothing was found" ;;
        *) fail "$name: refused for something else: $said" ;;
        esac
    fi
    cp "$root/kept.service" "$unit"
}
spoil "misspelt directive" 's/^ProtectHome=/ProtectHom=/' "Unknown key"
spoil "bad time" 's/^RestartSec=5s/RestartSec=5q/' "Failed to parse"
spoil "missing program" 's|/commcheck-cli monitor|/commcheck-monitor monitor|' "not executable"
spoil "missing manual page" 's|man:commcheck-cli(1)|man:commcheck-monitor(1)|' "man commcheck-monitor(1)"
spoil "unknown section" 's/^\[Install\]/[Instal]/' "Unknown section"
spoil "no file system protection" '/^ProtectSystem=/d' exposure

[ "$status" -eq 0 ] && echo "units: verified, exposure within limits, refused when spoilt"
exit "$status"
