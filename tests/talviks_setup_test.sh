#!/usr/bin/env bash
# Two setups at once: the second waits for the first, so every install runs
# with the no-start policy in place, no two installs overlap, what the first
# installed is not installed again, and no policy is left behind. apt-get,
# dpkg-query and sudo are stand-ins, and the lock and the policy are scratch
# files: the host's packages, policy and lock are never touched.
set -u
talviks=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/talviks-test.$(stat -Lc %i /proc/self/ns/pid).$$.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir "$work/bin"
cat >"$work/bin/dpkg-query" <<'EOF'
#!/bin/sh
# Installed when listed: dpkg-query -W -f=FORMAT PACKAGE
for package; do :; done
grep -qx "$package" "$STUB_DIR/installed" 2>/dev/null || exit 1
printf 'install ok installed'
EOF
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/sh
# An install that takes a second and notes what it finds wrong.
case " $* " in *" install "*) ;; *) exit 0 ;; esac
[ -x "$TALVIKS_POLICY_RC" ] || echo "an install began without the no-start policy" >>"$STUB_DIR/errors"
alone=""
mkdir "$STUB_DIR/running" 2>/dev/null && alone=yes || echo "two installs ran at once" >>"$STUB_DIR/errors"
sleep 1
[ -x "$TALVIKS_POLICY_RC" ] || echo "the no-start policy went during an install" >>"$STUB_DIR/errors"
for word; do
  case "$word" in -* | *=* | install) ;; *) echo "$word" >>"$STUB_DIR/installed" ;; esac
done
echo "$*" >>"$STUB_DIR/installs"
[ -z "$alone" ] || rmdir "$STUB_DIR/running"
EOF
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod 755 "$work/bin/"*

host_policy=$(ls -l /usr/sbin/policy-rc.d 2>&1)
setup() {
  PATH=$work/bin:$PATH STUB_DIR=$work TALVIKS_SETUP_LOCK=$work/setup.lock \
    TALVIKS_POLICY_RC=$work/policy-rc.d "$talviks" setup >"$work/setup$1.txt" 2>&1
}
setup 1 &
first=$!
setup 2 &
second=$!
wait $first || { cat "$work/setup1.txt"; fail "the first setup failed"; }
wait $second || { cat "$work/setup2.txt"; fail "the second setup failed"; }

[ "$(ls -l /usr/sbin/policy-rc.d 2>&1)" = "$host_policy" ] || fail "the host's policy changed"
[ ! -e "$work/errors" ] || fail "$(cat "$work/errors")"
[ "$(wc -l <"$work/installs")" -eq 1 ] || fail "installed $(wc -l <"$work/installs") times: $(cat "$work/installs")"
grep -q ' chrony ' "$work/installs" || fail "not every package installed: $(cat "$work/installs")"
[ ! -e "$work/policy-rc.d" ] || fail "the no-start policy was left behind"
echo "two setups at once: one install, the policy in place throughout"
