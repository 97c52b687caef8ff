#!/usr/bin/env bash
# Builds the Debian package with CPack, installs it with dpkg, checks that
# the installed programs answer `status` and `--help`, and removes it again.
#
#   package_test.sh BUILD/CPackConfig.cmake
#
# Needs root. Leaves the machine as it found it: skips (exit 77) rather than
# touch a quorvane-dictation that is installed already.
set -euo pipefail
config=$1
skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
command -v dpkg >/dev/null || skip "no dpkg here"
validate=$(dirname "$0")/../support/validate_messages.py
python=${QUORVANE_PYTHON:-python3}

# Build trees on the same machine take turns.
exec 9>"/tmp/quorvane-dictation-package-test.lock"
flock 9

state=$(dpkg-query -W -f='${db:Status-Status}' quorvane-dictation 2>/dev/null || true)
case $state in
  "" | not-installed | config-files) ;;
  *) skip "the quorvane-dictation package is here already ($state)" ;;
esac
[ ! -e /usr/bin/quorvane-dictation ] || skip "/usr/bin/quorvane-dictation exists already"

work=$(mktemp -d)
ours=no
cleanup() {
  if [ "$ours" = yes ]; then dpkg_patiently -r quorvane-dictation >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# dpkg fails at once while another package manager holds its lock: wait.
dpkg_patiently() {
  for _ in $(seq 120); do
    dpkg "$@" >"$work/dpkg.log" 2>&1 && return 0
    grep -qi "lock" "$work/dpkg.log" || break
    sleep 1
  done
  cat "$work/dpkg.log"
  return 1
}

cpack --config "$config" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail cpack; }
debs=("$work"/quorvane-dictation_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no package"
deb=${debs[0]}

depends=$(dpkg-deb -f "$deb" Depends)
# libsamplerate0 is linked, so dpkg-shlibdeps adds it; libpulse0 is named.
[[ $depends == *libsamplerate0* && $depends == *libpulse0* ]] || fail "Depends: $depends"
[[ $depends == *python3* ]] || fail "Depends: $depends"
[ "$(dpkg-deb -f "$deb" Recommends)" = "pocketsphinx-en-us, xdotool | wtype | ydotool" ] ||
  fail "Recommends: $(dpkg-deb -f "$deb" Recommends)"
[ "$(dpkg-deb -f "$deb" Suggests)" = "libnotify-bin, ibus" ] || fail "Suggests"
contents=$(dpkg-deb -c "$deb")
for file in usr/bin/quorvane-dictation usr/share/man/man1/quorvane-dictation.1.gz \
            usr/bin/quorvane-dictate usr/share/man/man1/quorvane-dictate.1.gz \
            usr/share/quorvane-dictation/python/quorvane_dictate/cli.py \
            usr/share/quorvane-dictation/python/quorvane_dictation/_blocking.py \
            usr/libexec/quorvane-dictation/ibus-engine-quorvane \
            usr/share/quorvane-dictation/python/quorvane_ibus/engine.py \
            usr/share/ibus/component/quorvane.xml \
            usr/share/doc/quorvane-dictation/protocol.md usr/share/doc/quorvane-dictation/performance.md usr/share/doc/quorvane-dictation/privacy.md \
            usr/share/doc/quorvane-dictation/models.md \
            usr/share/doc/quorvane-dictation/copyright \
            usr/share/doc/quorvane-dictation/changelog.gz \
            usr/lib/quorvane-dictation/vosk/libvosk.so \
            usr/share/quorvane-dictation/vosk/model/en-us/am/final.mdl \
            usr/share/quorvane-dictation/vosk/model/en-us/graph/HCLr.fst \
            usr/lib/quorvane-dictation/whisper/libwhisper.so.1 \
            usr/share/quorvane-dictation/whisper/model/ggml-base.bin; do
  [[ $contents == *" ./$file"* ]] || fail "$file is not in the package"
done

# Debian's own checker: no errors and no warnings (informational tags pass).
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail lintian; }
fi

ours=yes
dpkg_patiently -i "$deb" || fail "dpkg -i"
output=$(/usr/bin/quorvane-dictation status </dev/null 2>"$work/stderr") || fail "status exited $?"
[ ! -s "$work/stderr" ] || fail "wrote to standard error: $(cat "$work/stderr")"
[[ $output != *$'\n'* && $output == '{'*'"type":"status"'*'}' ]] || fail "not one status line: $output"
printf '%s\n' "$output" | "$python" "$validate" || fail "invalid status line"
# The second pass's library opens where the package put it, stripped, with
# the ggml libraries beside it.
"$python" -c "import ctypes; ctypes.CDLL('/usr/lib/quorvane-dictation/whisper/libwhisper.so.1')" ||
  fail "the installed libwhisper.so.1 does not load"
# The desktop dictation finds its modules where the package put them.
help=$(/usr/bin/quorvane-dictate --help </dev/null 2>&1) || fail "quorvane-dictate --help: $help"
[[ $help == usage:*toggle* ]] || fail "quorvane-dictate --help: $help"

# The input method: its component runs the installed engine, which
# describes itself to ibus-daemon.
grep -q "<exec>/usr/libexec/quorvane-dictation/ibus-engine-quorvane --ibus</exec>" \
  /usr/share/ibus/component/quorvane.xml || fail "component: $(cat /usr/share/ibus/component/quorvane.xml)"
engines=$(/usr/libexec/quorvane-dictation/ibus-engine-quorvane --xml </dev/null 2>&1) ||
  fail "ibus-engine-quorvane --xml: $engines"
[[ $engines == "<engines><engine><name>quorvane</name><longname>Dictation</longname>"* ]] ||
  fail "ibus-engine-quorvane --xml: $engines"

dpkg_patiently -r quorvane-dictation || fail "dpkg -r"
ours=no
for file in /usr/bin/quorvane-dictation /usr/bin/quorvane-dictate /usr/share/quorvane-dictation \
            /usr/libexec/quorvane-dictation /usr/share/ibus/component/quorvane.xml; do
  [ ! -e "$file" ] || fail "dpkg -r left $file"
done
echo "$(basename "$deb"): built, installed, answered status and --help, removed"
