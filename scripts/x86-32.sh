# Shared by install-deps and x86-mode: how this host runs 32-bit x86 code.
# Sourced, not run.

binfmt_dir=/proc/sys/fs/binfmt_misc
# The i386 ELF magic and mask, as QEMU's qemu-binfmt-conf.sh gives them.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# The same magic as binfmt_misc lists it back.
i386_magic_listed=7f454c4601010100000000000000000002000300
# The oldest QEMU seen to run 32-bit Wine; 7.2 cannot map its shared user
# data (it ignores MAP_FIXED_NOREPLACE).
qemu_minimum=10.0.0

# Whether a 32-bit program starts and does its job: the i386 dynamic loader
# that the 32-bit half of Wine brought prints its version.
runs_32bit_code() {
  /lib/ld-linux.so.2 --version 2>/dev/null | grep -q '^ld.so '
}

# The enabled binfmt_misc entries that take i386 ELF programs, one path a line.
i386_binfmt_entries() {
  local entry
  [ -e "$binfmt_dir/status" ] || return 0
  for entry in "$binfmt_dir"/*; do
    case $(basename "$entry") in register | status) continue ;; esac
    if grep -qx enabled "$entry" 2>/dev/null &&
        grep -qx "magic $i386_magic_listed" "$entry" 2>/dev/null; then
      echo "$entry"
    fi
  done
}

binfmt_interpreter() {
  sed -n 's/^interpreter //p' "$1"
}

# X.Y.Z of a QEMU user-mode binary, empty when it does not run.
qemu_version() {
  local banner
  banner=$("$1" --version 2>/dev/null | head -n1) || true
  sed -n 's/.* version \([0-9][0-9.]*\).*/\1/p' <<<"$banner"
}

version_at_least() {
  [ "$(printf '%s\n%s\n' "$2" "$1" | sort -V | head -n1)" = "$2" ]
}

# Whether a QEMU user-mode binary runs and is at least qemu_minimum.
qemu_recent_enough() {
  local version
  version=$(qemu_version "$1")
  [ -n "$version" ] && version_at_least "$version" "$qemu_minimum"
}

# One line that says how 32-bit x86 code runs here. binfmt_misc is asked
# before the kernel's own ELF loader, so an i386 entry means emulation even
# on a host that could run the code natively.
describe_32bit() {
  local entry interpreter
  if ! runs_32bit_code; then
    echo "32-bit x86 code: cannot run here (scripts/install-deps sets it up)"
    return
  fi
  entry=$(i386_binfmt_entries | head -n1)
  if [ -z "$entry" ]; then
    echo "32-bit x86 code: native"
    return
  fi
  interpreter=$(binfmt_interpreter "$entry")
  echo "32-bit x86 code: emulated ($(basename "$interpreter") $(qemu_version "$interpreter"))"
}
