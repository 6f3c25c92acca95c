#!/usr/bin/env bash
# The Debian package end to end on this machine: built with cpack, checked by lintian and the menu
# and AppStream validators, installed with apt-get, run from /usr/bin (the commands, the demo fax
# call, the desktop program offscreen), and removed again leaving nothing behind.
# Usage: package_deb_test.sh BUILD_DIR VERSION. Exit 77 (skipped) only when it may not install.
set -uo pipefail
build=$1 version=$2
skip=77
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if sudo -n true 2>/dev/null; then sudo="sudo -n"; else
    echo "SKIP: installing a package needs root or passwordless sudo"; exit $skip
  fi
fi
fail() { echo "FAIL: $*"; exit 1; }
for tool in cpack dpkg-shlibdeps lintian desktop-file-validate appstreamcli man apt-get; do
  command -v "$tool" >/dev/null || fail "$tool is missing: scripts/install-deps.sh test"
done

work=$(mktemp -d /tmp/qv-package.XXXXXX)
installed_by_us=0
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  if [ "$installed_by_us" = 1 ]; then
    flock /tmp/qv-apt.lock $sudo apt-get remove --purge -y -qq -o DPkg::Lock::Timeout=120 quorvane >/dev/null 2>&1 ||
      echo "cleanup: removing quorvane failed; remove it by hand"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# A quorvane installed before the test is someone's: it is removed only when it is this version
# (a test run that was killed before its cleanup), else the test stops and leaves it alone.
status=$(dpkg-query -W -f='${Status} ${Version}' quorvane 2>/dev/null || true)
if [ -n "$status" ] && [ "${status#*not-installed}" = "$status" ]; then
  [ "${status##* }" = "$version" ] || fail "quorvane ${status##* } is installed on this machine; the test will not replace it"
  echo "removing a left-over quorvane $version of an earlier run"
  installed_by_us=1
fi

arch=$(dpkg --print-architecture)
deb=$work/pkg/quorvane_${version}_${arch}.deb
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
[ -f "$deb" ] || fail "cpack made no $deb"

# Only the product: no test program, tool or benchmark of the build.
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents"
for unwanted in line_peer comm_port_holder quorvane_screenshot qv_fontgen _test bench; do
  grep -q "$unwanted" "$work/contents" && fail "the package carries $unwanted"
done
for wanted in usr/bin/quorvane usr/bin/qvfax usr/bin/qvdb usr/bin/qvmodem usr/bin/qvline \
    usr/lib/cups/backend/quorvane usr/share/ppd/quorvane/quorvane.ppd \
    usr/share/applications/org.quorvane.Quorvane.desktop usr/share/metainfo/org.quorvane.Quorvane.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/org.quorvane.Quorvane.svg usr/share/icons/hicolor/48x48/apps/org.quorvane.Quorvane.png \
    usr/share/quorvane/help/index.html usr/share/man/man1/qvfax.1.gz usr/share/doc/quorvane/copyright; do
  grep -qx "./$wanted" "$work/contents" || fail "the package lacks /$wanted"
done
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "no dependencies derived from the linked libraries"

# The checkers: lintian without errors (warnings are printed), menu entry and AppStream clean.
lintian "$deb" >"$work/lintian.log" 2>&1
cat "$work/lintian.log"
grep -q '^E:' "$work/lintian.log" && fail "lintian reports errors"
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/org.quorvane.Quorvane.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.quorvane.Quorvane.metainfo.xml" || fail "appstreamcli validate"

installed_by_us=1
flock /tmp/qv-apt.lock $sudo apt-get install -y -qq -o DPkg::Lock::Timeout=120 "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get install"; }
dpkg -L quorvane >"$work/files"

for program in quorvane qvfax qvdb qvmodem qvline; do
  [ "$(/usr/bin/$program --version)" = "$program $version" ] || fail "/usr/bin/$program --version"
done
[ "$(stat -c '%U %a' /usr/lib/cups/backend/quorvane)" = "root 700" ] || fail "the backend is not root's, mode 0700"
man -w qvfax | grep -q '^/usr/share/man/man1/qvfax.1' || fail "man -w qvfax does not find the installed page"
/usr/bin/quorvane --help | grep -qx 'User guide: /usr/share/quorvane/help' || fail "the installed program does not find its guide"

# The demo fax call: qvfax finds the installed qvmodem beside itself.
export HOME=$work/home
mkdir -p "$HOME"
timeout 120 /usr/bin/qvfax demo --dir "$work/demo" >"$work/demo.log" 2>&1 || { cat "$work/demo.log"; fail "qvfax demo"; }
ls "$work/demo"/*.png >/dev/null 2>&1 || fail "qvfax demo left no received page"

# The desktop program offscreen: once its window is up, a second start over the same data
# directory reaches it and ends with 0 (it asks the first one to come forward).
QT_QPA_PLATFORM=offscreen /usr/bin/quorvane >"$work/app.log" 2>&1 &
app_pid=$!
data=$HOME/.local/share/Quorvane
raised=0
for _ in $(seq 1 60); do
  kill -0 "$app_pid" 2>/dev/null || { cat "$work/app.log"; fail "quorvane ended on its own"; }
  if [ -d "$data" ] && QT_QPA_PLATFORM=offscreen timeout 20 /usr/bin/quorvane >>"$work/app.log" 2>&1; then raised=1; break; fi
  sleep 1
done
[ "$raised" = 1 ] || { cat "$work/app.log"; fail "a second quorvane did not reach the first"; }
kill "$app_pid"; wait "$app_pid" 2>/dev/null; app_pid=""
[ -n "$(ls -A "$data")" ] || fail "quorvane kept nothing in $data"
ls /usr/bin | grep -qi -e '\.dbf$' -e '^qrv' && fail "quorvane wrote its data into /usr/bin"

flock /tmp/qv-apt.lock $sudo apt-get remove --purge -y -qq -o DPkg::Lock::Timeout=120 quorvane >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get remove"; }
installed_by_us=0
while read -r path; do
  [ -e "$path" ] && [ ! -d "$path" ] && fail "$path is left after the removal"
done <"$work/files"
dpkg-query -W quorvane >/dev/null 2>&1 && [ -n "$(dpkg-query -W -f='${Status}' quorvane | grep -v not-installed)" ] &&
  fail "dpkg still knows quorvane"
echo "PASS"
