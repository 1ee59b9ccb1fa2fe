#!/bin/sh
# check_metadata.sh <source dir> <version>: the desktop entry and the
# AppStream metadata pass Debian's validators, the metadata launches that
# desktop entry, and the metadata's latest release and the package's
# changelog both carry <version>. Fails, never skips, when a validator is
# missing.
set -eu
src=$1
version=$2
desktop=$src/app/commcheck.desktop
metainfo=$src/packaging/commcheck.metainfo.xml
changelog=$src/packaging/changelog

status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

for tool in appstreamcli desktop-file-validate; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "FAIL: $tool is not installed (scripts/install-deps.sh installs it)" >&2
        exit 1
    fi
done

desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"

# Every finding fails but one: the component's id is the program's name, as
# are the desktop entry's and the icon's, not a reverse domain name (the
# project has no domain of its own).
appstreamcli validate --no-net --strict --pedantic \
    --override=cid-desktopapp-is-not-rdns=pedantic "$metainfo" ||
    fail "appstreamcli validate $metainfo"

launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
[ "$launchable" = "$(basename "$desktop")" ] ||
    fail "the metadata launches '$launchable', the desktop entry is $(basename "$desktop")"

release=$(sed -n 's:.*<release version="\([^"]*\)".*:\1:p' "$metainfo" | head -n 1)
[ "$release" = "$version" ] ||
    fail "the metadata's latest release is '$release', the program's version $version"

entry=$(sed -n '1s/^commcheck (\([^)]*\)).*/\1/p' "$changelog")
[ "$entry" = "$version" ] ||
    fail "the changelog's latest entry is '$entry', the program's version $version"

[ "$status" -eq 0 ] && echo "metadata of commcheck $version: valid"
exit "$status"
