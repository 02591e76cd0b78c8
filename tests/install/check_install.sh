#!/bin/sh
# The install folder and the package: `cmake --install` lays out a complete folder, its snxsvc
# -Service (under a test SNX_ROOT) registers the service and the companions and links the
# life-sign units so that cycle, report and pulse work as after the package, and `cpack -G DEB`
# packs the same folder with the maintainer scripts.
#   check_install.sh CMAKE CPACK BUILD_DIR
set -eu
cmake=$1 cpack=$2 build=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$work/opt" >/dev/null
for f in snxsvc snxctl QorPerf.dll QorPulse.dll SnxReport.dll QorVoiceAlert.dll QorAssure.dll \
         Sentinex.ini examples/voice-dial.record examples/voice-dial.baresip doc/service.md; do
  [ -e "$work/opt/$f" ] || fail "missing $f"
done
[ -x "$work/opt/examples/voice-dial.record" ] || fail "the dial command is not executable"
[ "$(stat -c %a "$work/opt/Sentinex.ini")" = 644 ] || fail "Sentinex.ini is not 644"
"$work/opt/snxctl" ini --dir "$work/opt" show >/dev/null || fail "the example Sentinex.ini does not load"

for switch in --help --version; do
  "$work/opt/snxsvc" $switch >"$work/out" || fail "snxsvc $switch: exit $?"
done
grep -qx "snxsvc $("$work/opt/snxctl" --version | cut -d' ' -f2)" "$work/out" ||
  fail "snxsvc and snxctl differ in version"

# By hand as by the package: -Service registers everything the tools need.
export SNX_ROOT="$work/root" SNX_POWER=record
"$work/opt/snxsvc" -Service >"$work/out" || fail "snxsvc -Service failed"
grep -q '^next:' "$work/out" || fail "-Service does not say what comes next: $(cat "$work/out")"
systemd="$work/root/etc/systemd/system"
unit="$systemd/snxsvc.service"
grep -qx "ExecStart=$work/opt/snxsvc" "$unit" || fail "unit: $(cat "$unit")"
grep -qx "Type=notify" "$unit" || fail "unit is not Type=notify"
grep -qx "ExecStart=$work/opt/snxctl pulse" "$systemd/snxsvc-pulse.service" ||
  fail "the pulse unit is not linked or names another snxctl"
[ -L "$systemd/snxsvc-pulse.timer" ] || fail "the pulse timer is not linked"

# A web page on loopback for the URL test and the push.
python3 -c '
import http.server, socketserver, sys
s = socketserver.TCPServer(("127.0.0.1", 0), http.server.SimpleHTTPRequestHandler)
print(s.server_address[1], flush=True)
s.serve_forever()' >"$work/port" 2>/dev/null &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
for _ in 1 2 3 4 5 6 7 8 9 10; do [ -s "$work/port" ] && break; sleep 0.5; done
url="http://127.0.0.1:$(cat "$work/port")/"
ctl="$work/opt/snxctl"
"$ctl" conf set AdminId admin >/dev/null && "$ctl" conf set Password secret >/dev/null &&
  "$ctl" conf set MachineName host >/dev/null && "$ctl" conf add URLS "$url" >/dev/null ||
  fail "snxctl conf"
"$ctl" cycle >"$work/out" 2>&1 && grep -qx 'decision: up' "$work/out" ||
  fail "cycle on a good URL: $(cat "$work/out")"
printf '01/10/25 00:00:00 (event): 101, %s, UP\r\r\n' "$url" >"$work/opt/Uptime.log"
"$ctl" report --since 2000-01-01 >"$work/out" 2>&1 || fail "report: $(cat "$work/out")"
date +'%m/%d/%y %H:%M:%S System working.' >"$work/opt/Beat.txt"
"$ctl" pulse --url "$url" >"$work/out" 2>&1 || fail "pulse: $(cat "$work/out")"

"$work/opt/snxsvc" -UnregServer || fail "snxsvc -UnregServer failed"
[ ! -e "$unit" ] || fail "the unit is still there after -UnregServer"
[ ! -L "$systemd/snxsvc-pulse.timer" ] || fail "the pulse timer link is still there"
"$ctl" report --since 2000-01-01 >/dev/null 2>&1 && fail "a companion is still registered"
unset SNX_ROOT

if command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
  (cd "$work" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null) ||
    fail "cpack -G DEB failed"
  deb=$(ls "$work"/deb/snxsvc_*.deb)
  dpkg-deb -c "$deb" >"$work/contents"
  grep -q '\./opt/snxsvc/snxsvc$' "$work/contents" || fail "the package lacks /opt/snxsvc/snxsvc"
  grep -q '\./opt/snxsvc/QorAssure.dll$' "$work/contents" || fail "the package lacks the plug-ins"
  dpkg-deb -I "$deb" postinst >"$work/postinst"
  grep -qx 'folder=/opt/snxsvc' "$work/postinst" && grep -q 'snxsvc" -Service$' "$work/postinst" ||
    fail "the postinst does not register the service"
  for script in postinst prerm postrm; do
    dpkg-deb -I "$deb" "$script" >"$work/$script" && sh -n "$work/$script" || fail "$script"
  done
  grep -q '\./opt/snxsvc/examples/Sentinex.ini$' "$work/contents" &&
    ! grep -q '\./opt/snxsvc/Sentinex.ini$' "$work/contents" ||
    fail "the package must carry the example Sentinex.ini, never the live one (postinst copies it)"
  grep -q '\./usr/sbin/snxctl -> /opt/snxsvc/snxctl$' "$work/contents" || fail "no snxctl on PATH"
  for f in usr/share/man/man8/snxsvc.8.gz usr/share/man/man8/snxctl.8.gz \
           usr/share/bash-completion/completions/snxctl usr/share/doc/snxsvc/copyright \
           usr/share/doc/snxsvc/changelog.gz; do
    grep -q "\./$f\$" "$work/contents" || fail "the package lacks /$f"
  done
  dpkg-deb -x "$deb" "$work/x"
  if command -v readelf >/dev/null && readelf -S "$work/x/opt/snxsvc/snxsvc" | grep -q debug_info; then
    fail "snxsvc is not stripped"
  fi
  maintainer=$(zcat "$work/x/usr/share/doc/snxsvc/changelog.gz" | sed -n 's/^ -- \(.*>\)  .*/\1/p')
  [ "$(dpkg-deb -f "$deb" Maintainer)" = "$maintainer" ] || fail "the changelog's maintainer differs"
  # The completion offers the commands and each command's words.
  words=$(bash -c '. "$1"; COMP_WORDS=(snxctl conf ""); COMP_CWORD=2; _snxctl; echo "${COMPREPLY[*]}"' \
    sh "$work/x/usr/share/bash-completion/completions/snxctl")
  case " $words " in *" set "*" check "*) ;; *) fail "completion of 'snxctl conf': $words" ;; esac
  if command -v lintian >/dev/null; then
    lintian --suppress-tags dir-or-file-in-opt "$deb" >"$work/lintian" 2>&1 || true
    ! grep '^E:' "$work/lintian" || fail "lintian reports errors"
  fi
fi
echo "install folder and package: good"
