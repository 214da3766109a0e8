#!/bin/bash
# scripts/install-deps on a mirror caught mid-sync, acted out by stand-ins
# for apt-get, dpkg, dpkg-query and id (root, so that no sudo hides them):
# every index update fails, nothing is installed yet, the plain install
# fails or works as PLAIN says, and an install with -t bookworm works. Both
# runs must succeed within three minutes; only the first may take -t
# bookworm, and it must say that the security updates are missing.
set -euo pipefail
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
cat >"$bin/apt-get" <<'STANDIN'
#!/bin/bash
echo "apt-get $*" >>"$CALLS"
[ "$1" = update ] && { echo "E: Failed to fetch bookworm-security i386 Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"; exit 100; }
[[ $PLAIN = works || " $* " = *" -t bookworm "* ]] || { echo "E: Unable to correct problems, you have held broken packages."; exit 100; }
STANDIN
printf '#!/bin/sh\nexit 0\n' >"$bin/dpkg"
printf '#!/bin/sh\nexit 1\n' >"$bin/dpkg-query"
printf '#!/bin/sh\necho 0\n' >"$bin/id"
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
