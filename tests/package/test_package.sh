#!/usr/bin/env bash
# The Debian package, end to end: ./scripts/package builds it from a clean tree,
# the validators and lintian find no error in it, and it is unpacked into a
# scratch root (never the running system) where its postinst and postrm run
# against that root (DPKG_ROOT), its programs start from their installed paths,
# and an unprivileged member of its group pings loopback through its helper.
#
#   test_package.sh SOURCE_DIR WORK_DIR VERSION
set -uo pipefail

source_dir="$1"
work="$2"
version="$3"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

build="$work/build"
if ! "$source_dir/scripts/package" --build-dir "$build" >"$work.log" 2>&1; then
  cat "$work.log"
  echo "FAIL: ./scripts/package failed"
  exit 1
fi
deb="$build/kanaliko_${version}_amd64.deb"
[ -f "$deb" ] || { ls "$build"; echo "FAIL: no $deb"; exit 1; }
pass "built $(basename "$deb")"

# ---------------------------------------------------------------------------
# Control data: dependencies from dpkg-shlibdeps, the scripts' tools by hand.
depends="$(dpkg-deb -f "$deb" Depends)"
for needed in adduser libc6 libqt6core6 libstdc++6; do
  [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
[[ "$depends" == *ferrox* || "$depends" == *markuptree* ]] &&
  fail "Depends names a private library: $depends"
[ "$(dpkg-deb -f "$deb" Recommends)" = "libcap2-bin" ] || fail "Recommends is not libcap2-bin"
pass "control: Depends: $depends"

# ---------------------------------------------------------------------------
# The files.
# A scratch root that another user can reach, on a file system that honours
# file capabilities (a nosuid mount ignores them).
scratch_parent=""
for candidate in "${TMPDIR:-/tmp}" "$work"; do
  mkdir -p "$candidate"
  if ! findmnt -no OPTIONS -T "$candidate" | grep -qw nosuid &&
    [ "$(namei -m "$(realpath "$candidate")" | awk 'NR > 1 && substr($1, 10, 1) !~ /[xt]/' | wc -l)" = 0 ]; then
    scratch_parent="$candidate"
    break
  fi
done
root="$(mktemp -d -p "${scratch_parent:-${TMPDIR:-/tmp}}")"
trap 'rm -rf "$root"' EXIT
chmod 0755 "$root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$root/DEBIAN"
helper=/usr/libexec/kanaliko/kanaliko-rawsock
app_id="$(basename "$root"/usr/share/applications/*.desktop .desktop)"
expected=(
  /usr/bin/kanaliko
  /usr/bin/kanaliko-cli
  /usr/lib/kanaliko/libferrox.so.0
  /usr/lib/kanaliko/libmarkuptree.so.0
  "$helper"
  "/usr/share/applications/$app_id.desktop"
  "/usr/share/metainfo/$app_id.metainfo.xml"
  "/usr/share/icons/hicolor/scalable/apps/$app_id.svg"
  /usr/share/man/man1/kanaliko.1.gz
  /usr/share/man/man1/kanaliko-cli.1.gz
  /usr/share/doc/kanaliko/examples/settings.xml
  /usr/share/doc/kanaliko/copyright
  /usr/share/doc/kanaliko/changelog.gz
)
for file in "${expected[@]}"; do
  [ -e "$root$file" ] || fail "missing $file"
done
[ -e "$root/usr/lib/kanaliko/libferrox.so" ] && fail "the development link libferrox.so is packaged"
cmp -s "$root/usr/share/doc/kanaliko/examples/settings.xml" "$source_dir/examples/settings.xml" ||
  fail "the example scheme differs from examples/settings.xml"
for page in kanaliko kanaliko-cli; do
  warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || fail "$page.1: $warnings"
done
zcat "$root/usr/share/man/man1/kanaliko-cli.1.gz" | grep -q "^\.SH EXIT STATUS" ||
  fail "kanaliko-cli.1 has no EXIT STATUS section"
pass "files (${#expected[@]})"

# ---------------------------------------------------------------------------
# Validators and lintian: no errors. The one warning of lintian that remains is
# known: maintainer-script-should-not-parse-etc-passwd-or-group for the
# DPKG_ROOT case, where the name service cannot see the target's groups. The
# desktop entry's command is in the package, so lintian must not miss it.
if ! out="$(desktop-file-validate "$root/usr/share/applications/$app_id.desktop" 2>&1)"; then
  fail "desktop-file-validate: $out"
else
  pass "desktop-file-validate${out:+: $out}"
fi
if ! out="$(appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" 2>&1)"; then
  fail "appstreamcli validate: $out"
else
  pass "appstreamcli validate: $(echo "$out" | tail -1)"
fi
out="$(lintian --fail-on error "$deb" 2>&1)"
status=$?
echo "$out" | sed 's/^/  lintian: /'
[ $status -eq 0 ] || fail "lintian reports errors"
echo "$out" | grep -q '^E:' && fail "lintian reports errors"
echo "$out" | grep -q 'desktop-command-not-in-package' &&
  fail "lintian: the desktop entry's command is not in the package"

# ---------------------------------------------------------------------------
# The programs from their installed paths: the private libraries come from the
# RUNPATH, with no LD_LIBRARY_PATH and no ldconfig.
out="$(env -u LD_LIBRARY_PATH "$root/usr/bin/kanaliko-cli" --help 2>&1)" ||
  fail "kanaliko-cli --help: $out"
[[ "$out" == *"Usage: kanaliko-cli COMMAND"* ]] || fail "kanaliko-cli --help prints: $out"
out="$(env -u LD_LIBRARY_PATH "$root/usr/bin/kanaliko-cli" --version 2>&1)"
[[ "$out" == "kanaliko-cli $version"* ]] || fail "kanaliko-cli --version prints: $out"
out="$(env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen "$root/usr/bin/kanaliko" --version 2>&1)" ||
  fail "kanaliko --version: $out"
[[ "$out" == "kanaliko $version"* ]] || fail "kanaliko --version prints: $out"
grep -q '^Exec=kanaliko ' "$root/usr/share/applications/$app_id.desktop" ||
  fail "the desktop entry does not start kanaliko"
"$root$helper" >/dev/null 2>&1
[ $? -eq 2 ] || fail "the helper started by hand does not refuse with status 2"
pass "installed programs run"

# ---------------------------------------------------------------------------
# The maintainer scripts against the scratch root.
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: the maintainer scripts and the helper's capability need root (CI runs as root)"
  [ $failures -eq 0 ] || exit 1
  exit 0
fi
mkdir -p "$root/etc" "$root/var/lib/dpkg"
printf 'root:x:0:\n' >"$root/etc/group"
printf 'root:*::\n' >"$root/etc/gshadow"
printf 'root:x:0:0:root:/root:/bin/sh\n' >"$root/etc/passwd"
printf 'root:*:1:0:99999:7:::\n' >"$root/etc/shadow"
: >"$root/var/lib/dpkg/statoverride"
chmod 0640 "$root/etc/gshadow" "$root/etc/shadow"

DPKG_ROOT="$root" sh "$root/DEBIAN/postinst" configure || fail "postinst configure failed"
gid="$(grep '^kanaliko:' "$root/etc/group" | cut -d: -f3)"
[ -n "$gid" ] || fail "postinst did not create the group kanaliko"
[ "$(stat -c '%u %g %a' "$root$helper")" = "0 $gid 750" ] ||
  fail "helper is $(stat -c '%u %g %a' "$root$helper"), expected root, kanaliko, 0750"
getcap "$root$helper" | grep -q 'cap_net_raw=ep' || fail "helper lacks cap_net_raw=ep"
# An upgrade runs it again: nothing is added twice and the capability stays.
DPKG_ROOT="$root" sh "$root/DEBIAN/postinst" configure "$version" || fail "postinst (upgrade) failed"
[ "$(grep -c '^kanaliko:' "$root/etc/group")" = 1 ] || fail "the group exists twice"
getcap "$root$helper" | grep -q 'cap_net_raw=ep' || fail "upgrade lost the capability"
pass "postinst: group kanaliko ($gid), helper root:kanaliko 0750 cap_net_raw=ep"

# An unprivileged member of the group, no capabilities of its own, pings
# loopback through the installed helper; a user outside the group cannot. The
# program finds the helper by its compiled-in path: a private mount namespace
# shows the scratch root's /usr/libexec there, and nothing else of the system
# changes.
for candidate in $(seq 62000 62100); do
  getent passwd "$candidate" >/dev/null || getent group "$candidate" >/dev/null || {
    user="$candidate"
    break
  }
done
home="$root/home-$user"
mkdir -p "$home" && chown "$user:$user" "$home"
as_user() {
  local groups="$1"
  shift
  unshare --mount --propagation private -- sh -c \
    'mount --bind "$0/usr/libexec" /usr/libexec && exec "$@"' "$root" \
    setpriv --reuid="$user" --regid="$user" --groups="$groups" --inh-caps=-all --ambient-caps=-all \
    env -u LD_LIBRARY_PATH -u KANALIKO_RAWSOCK HOME="$home" XDG_CONFIG_HOME="$home" \
    XDG_STATE_HOME="$home" "$@"
}
if [ -z "$scratch_parent" ]; then
  echo "SKIP: no scratch folder that another user can reach on a mount that honours file" \
    "capabilities; the installed helper is not run"
elif [ "$(sysctl -n net.ipv4.ping_group_range | awk '{print ($1 <= $2)}')" = 1 ]; then
  echo "SKIP: this system lets every group use ping sockets; the helper is not needed for ping"
else
  out="$(as_user "$gid" timeout 30 "$root/usr/bin/kanaliko-cli" ping 127.0.0.1 --count 2 \
    --interval 200 2>&1)" || fail "a member of kanaliko cannot ping: $out"
  [[ "$out" == *"Получено: 2"* ]] || fail "ping as a member of kanaliko: $out"
  out="$(as_user "$user" timeout 30 "$root/usr/bin/kanaliko-cli" ping 127.0.0.1 --count 1 2>&1)"
  [ $? -eq 2 ] || fail "a user outside kanaliko could ping: $out"
  pass "the installed helper serves members of kanaliko only"
fi

# The administrator's own owner and mode (dpkg-statoverride) win.
dpkg-statoverride --root "$root" --add root root 0700 "$helper" || fail "dpkg-statoverride --add"
chown 0:0 "$root$helper" && chmod 0700 "$root$helper"
DPKG_ROOT="$root" sh "$root/DEBIAN/postinst" configure "$version" || fail "postinst with override"
[ "$(stat -c '%u %g %a' "$root$helper")" = "0 0 700" ] ||
  fail "postinst changed an overridden helper: $(stat -c '%u %g %a' "$root$helper")"
pass "postinst keeps a dpkg-statoverride"

DPKG_ROOT="$root" sh "$root/DEBIAN/postrm" remove || fail "postrm remove failed"
grep -q '^kanaliko:' "$root/etc/group" || fail "postrm remove took the group away"
DPKG_ROOT="$root" sh "$root/DEBIAN/postrm" purge || fail "postrm purge failed"
grep -q '^kanaliko:' "$root/etc/group" && fail "postrm purge left the group"
pass "postrm: the group goes on purge only"

[ $failures -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "package test passed"
