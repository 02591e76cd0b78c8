#!/usr/bin/env bash
# The package under a real systemd: a Debian 12 container booted by systemd-box installs the
# .deb, enables and starts the service, drives Go mode against a site on loopback until the
# watchdog asks for a reboot (recorded: SNX_POWER=record in a unit drop-in), reboots the
# container and expects Go mode to resume by itself; then `systemctl restart` in Go resumes
# Go, and after `snxctl stop` a restart stays stopped. `apt-get purge` leaves no unit and no
# enable link behind, also when systemd does not run during the purge.
#
#   check_systemd_box.sh CPACK BUILD_DIR SOURCE_DIR
#
# Needs root, systemd-box (SYSTEMD_BOX, else ../shared/tools/systemd-box beside the source
# tree, else on PATH) and its root made by `systemd-box create`; exits 77 (skipped) with one
# line saying why where the machine cannot run it. The container is removed on any exit; the
# whole run is bounded (SNX_BOX_TEST_SECONDS, 300).
set -uo pipefail
cpack=$1 build=$(cd "$2" && pwd) source=$3
skip() { echo "SKIPPED: real-systemd package test: $*"; exit 77; }

[ "$(id -u)" = 0 ] || skip "needs root"
tool=${SYSTEMD_BOX:-$source/../shared/tools/systemd-box}
[ -x "$tool" ] || tool=$(command -v systemd-box) || skip "no systemd-box (set SYSTEMD_BOX)"
[ -e "${SYSTEMD_BOX_CACHE:-/var/cache/systemd-box}/bookworm/.complete" ] ||
  skip "no systemd-box root yet (run: $tool create)"
command -v dpkg-shlibdeps >/dev/null || skip "no dpkg-shlibdeps to build the package"

export SYSTEMD_BOX_TIMEOUT=${SYSTEMD_BOX_TIMEOUT:-90}
name=snxtest-$$
work=$(mktemp -d)
booted=0
cleanup() {
  trap - EXIT INT TERM
  [ -n "${alarm:-}" ] && kill "$alarm" 2>/dev/null
  if [ "$booted" = 1 ]; then timeout -k 5 120 "$tool" stop "$name" >/dev/null 2>&1; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "FAIL: interrupted or out of time (${SNX_BOX_TEST_SECONDS:-300}s)" >&2; exit 1' INT TERM
# The whole run is bounded: the trap above removes the container when the time is up.
(
  trap 'kill "$nap" 2>/dev/null; exit 0' TERM
  sleep "${SNX_BOX_TEST_SECONDS:-300}" &
  nap=$!
  wait "$nap" && kill -TERM $$
) >/dev/null 2>&1 </dev/null &
alarm=$!

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
fatal() { echo "FAIL: $*" >&2; exit 1; }
say() { echo "-- $*"; }
# box CMD...: one bounded command inside the container.
box() { timeout -k 5 60 "$tool" run "$name" "$@"; }
# wait_for SECONDS CMD...: until CMD succeeds inside the container; false after SECONDS.
wait_for() {
  local end=$((SECONDS + $1))
  shift
  until box "$@" >/dev/null 2>&1; do
    ((SECONDS < end)) || return 1
    sleep 0.5
  done
}
go_running() { wait_for "$1" sh -c 'snxctl state | grep -q "Go loop running"'; }

say "building the package"
(cd "$work" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null 2>&1) ||
  fatal "cpack -G DEB failed"
deb=$(ls "$work"/deb/snxsvc_*.deb) || fatal "no package built"

say "booting $name"
booted=1
timeout -k 5 150 "$tool" boot "$name" >"$work/boot.log" 2>&1 ||
  { sed 's/^/   /' "$work/boot.log"; booted=0; timeout 60 "$tool" stop "$name" >/dev/null 2>&1
    skip "this machine cannot boot a systemd-box container (above)"; }
"$tool" copy "$name" "$deb" /root/snxsvc.deb || fatal "cannot copy the package in"

install_package() {
  box env DEBIAN_FRONTEND=noninteractive apt-get install -y -q /root/snxsvc.deb >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fatal "apt-get install of the package failed"; }
}
say "installing the package"
install_package
[ "$(box sh -c 'command -v snxctl')" = /usr/sbin/snxctl ] || fail "snxctl is not on PATH"
box systemctl cat snxsvc.service >/dev/null 2>&1 || fail "systemd does not know snxsvc.service"
box systemctl is-enabled --quiet snxsvc.service && fail "the package enabled the service"

say "a watched site, the settings, and the service with recorded reboots"
# A short minute and one restart before the reboot decision; the site is python's web server
# as a unit of its own, so that it comes back after the reboot.
box bash -c '
  set -e
  mkdir -p /srv/site && echo "<html>up</html>" >/srv/site/index.html
  printf "%s\n" "[Service]" \
    "ExecStart=/usr/bin/python3 -m http.server 8080 --bind 127.0.0.1 --directory /srv/site" \
    "[Install]" "WantedBy=multi-user.target" >/etc/systemd/system/snx-site.service
  mkdir -p /etc/systemd/system/snxsvc.service.d
  printf "%s\n" "[Service]" "Environment=SNX_POWER=record SNX_MINUTE_SECONDS=1" \
    >/etc/systemd/system/snxsvc.service.d/test.conf
  systemctl daemon-reload
  systemctl enable --now --quiet snx-site.service
  snxctl conf set AdminId admin && snxctl conf set Password secret
  snxctl conf set MachineName "$(hostname)"
  snxctl conf set MinuteInterval 1 && snxctl conf set RestartsB4Reboot 1
  snxctl conf set RstrSecs 2 && snxctl conf set WATCH 0
  snxctl conf add URLS http://127.0.0.1:8080/index.html
  systemctl enable --now --quiet snxsvc.service' >"$work/setup.log" 2>&1 ||
  { cat "$work/setup.log" >&2; fatal "setting up the site, the settings or the service failed"; }
wait_for 30 snxctl state || fatal "the service does not answer on its socket"
wait_for 15 snxctl probe http://127.0.0.1:8080/index.html || fatal "the site does not answer"

say "Go, then the site fails until the watchdog asks for a reboot"
box snxctl go >/dev/null || fail "snxctl go was not taken"
go_running 20 || fail "Go mode did not start"
wait_for 30 test -s /opt/snxsvc/Beat.txt || fail "no good cycle (no heartbeat)"
box rm /srv/site/index.html
wait_for 90 test -s /run/snxsvc/reboot-requests || fatal "no reboot request recorded"
box sh -c 'echo "<html>up</html>" >/srv/site/index.html'

say "rebooting the container"
# Its own wait for the new boot: a mark in /run (a tmpfs) is gone once the container rebooted.
# (`systemd-box reboot` tells the boots apart by their PID namespace's inode number, which the
# kernel reuses, so it can miss the new boot and wait out its whole timeout.)
box sh -c 'touch /run/snx-test-mark && systemctl reboot' >/dev/null 2>&1
wait_for 120 sh -c '[ ! -e /run/snx-test-mark ] && timeout 5 systemctl is-system-running --wait |
  grep -qE "^(running|degraded)$"' || fatal "the container did not come back from its reboot"
box test -e /run/snxsvc/reboot-requests && fail "the reboot request survived: no real reboot"
go_running 60 || fail "Go mode did not resume by itself after the reboot"

say "systemctl restart in Go"
box systemctl restart snxsvc.service || fail "systemctl restart failed"
go_running 60 || fail "Go mode did not resume after systemctl restart"

say "snxctl stop, then a restart stays stopped"
box snxctl stop >/dev/null || fail "snxctl stop was not taken"
wait_for 20 sh -c '! snxctl state | grep -q "Go loop running"' || fail "Go mode did not end"
box systemctl restart snxsvc.service || fail "systemctl restart failed"
wait_for 30 snxctl state || fail "the service does not answer after the restart"
for _ in 1 2 3 4 5; do
  if box sh -c 'snxctl state | grep -q "Go loop running"'; then
    fail "Go mode resumed after snxctl stop and a restart"
    break
  fi
  sleep 1
done

# no_unit_left WHEN: nothing of the package's units is left, nor a link to one.
no_unit_left() {
  local left
  left=$(box sh -c 'ls -d /etc/systemd/system/snxsvc* /etc/systemd/system/*.wants/snxsvc* \
    /lib/systemd/system/snxsvc* /opt/snxsvc /var/lib/snxsvc 2>/dev/null
    find /etc/systemd -xtype l 2>/dev/null; pgrep -x snxsvc')
  [ -z "$left" ] || fail "$1 left behind: $(echo $left)"
}
say "apt-get purge"
box rm -rf /etc/systemd/system/snxsvc.service.d  # the test's own drop-in
box env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q snxsvc >"$work/purge.log" 2>&1 ||
  { cat "$work/purge.log" >&2; fail "apt-get purge failed"; }
no_unit_left "the purge"
[ -z "$(box systemctl list-unit-files --no-legend 'snxsvc*')" ] || fail "systemd still lists snxsvc units"

say "install, enable, then purge where systemd does not run"
install_package
box systemctl enable --quiet snxsvc.service snxsvc-pulse.timer || fail "enabling failed"
box systemctl stop snxsvc.service
# /run/systemd hidden: the maintainer scripts see no running systemd, systemctl reaches none.
box unshare -m sh -c 'mount -t tmpfs tmpfs /run/systemd &&
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q snxsvc' >"$work/purge2.log" 2>&1 ||
  { cat "$work/purge2.log" >&2; fail "apt-get purge without systemd failed"; }
no_unit_left "the purge without systemd"

if [ "$failures" -gt 0 ]; then
  echo "real-systemd package test: $failures check(s) failed"
  exit 1
fi
echo "real-systemd package test: good"
