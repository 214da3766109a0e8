#!/bin/bash
# install-deps ($1) on a mirror mid-sync, acted out by stand-ins (root, so no
# sudo hides them): updates fail, the plain install fails or works (PLAIN),
# -t bookworm works, and only a failed plain install may take it, saying so.
set -euo pipefail
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
cat >"$bin/apt-get" <<'STANDIN'
#!/bin/bash
echo "apt-get $*" >>"$CALLS"
[ "$1" = update ] && { echo "E: Failed to fetch bookworm-security i386 Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"; exit 100; }
[[ $PLAIN = works || " $* " = *" -t bookworm "* ]] || { echo "E: Unable to correct problems, you have held broken packages."; exit 100; }
STANDIN
for standin in dpkg:true 'dpkg-query:case "$*" in *osslsigncode) echo installed 2.9;; *) exit 1;; esac' 'id:echo 0'; do
  printf '#!/bin/sh\n%s\n' "${standin#*:}" >"$bin/${standin%%:*}"
done
chmod +x "$bin"/*
for PLAIN in fails works; do
  export PLAIN CALLS=$bin/calls-$PLAIN
  SECONDS=0
  out=$(env -u KSF_DEPS_INSTALLED -u KSF_EMULATE_32BIT PATH="$bin:$PATH" bash "$1" 2>&1) ||
    { echo "FAIL: plain install $PLAIN: install-deps failed: $out"; exit 1; }
  [ "$SECONDS" -lt 180 ] || { echo "FAIL: plain install $PLAIN: took $SECONDS s"; exit 1; }
  took=$(grep -c -- ' -t bookworm ' "$CALLS" || true)
  told=$(grep -c '^install-deps: .*without its latest security updates' <<<"$out" || true)
  [ "$PLAIN:$took:$told" = fails:1:1 ] || [ "$PLAIN:$took:$told" = works:0:0 ] ||
    { echo "FAIL: plain install $PLAIN: -t bookworm taken $took times, told $told times: $out"; exit 1; }
  echo "plain install $PLAIN: passed in $SECONDS s"
done
