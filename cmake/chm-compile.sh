#!/usr/bin/env bash
# Compiles a help project into a .chm whose context map names topics inside
# the file.  Usage: chm-compile.sh <chmcmd> <help dir> <project.hhp> <work dir> <output.chm>
#
# Debian's chmcmd stores each [ALIAS] topic of the context map (#IVB/#STRINGS,
# what F1 and HH_HELP_CONTEXT look up) as the absolute path of the file on the
# build machine, whatever the project says; that path exists on no Windows
# machine, so every context would open nothing. Run chrooted into a copy of the
# help folder, the absolute path of a topic is "/name.htm", the name of the
# topic inside the compiled file, and no host path is stored;
# chm-context-map.py then drops the leading "/" from the map's names.
# The chroot borrows the host's /usr (chmcmd and its C library) through a bind
# mount in a private mount namespace, which disappears with the process.
set -euo pipefail
PATH=$PATH:/usr/sbin:/sbin
[ $# -eq 5 ] || { echo "usage: $0 <chmcmd> <help dir> <project.hhp> <work dir> <output.chm>" >&2; exit 2; }
chmcmd=$1 src=$2 project=$3 work=$4 out=$5

exe=$(readlink -f "$(command -v "$chmcmd")")
case "$exe" in
  /usr/*) ;;
  *) echo "chm-compile: $exe lies outside /usr, which is all the chroot can see" >&2; exit 1 ;;
esac

# --one-file-system: never follow into a bind mount, should one be left.
rm -rf --one-file-system "$work"
mkdir -p "$work"
cp -R "$src"/. "$work"/

# What the loader needs to start chmcmd: /usr bound in, and the top-level
# links into it (merged /usr) or the real folders bound in as well.
binds=()
for d in usr bin sbin lib lib32 lib64 libx32; do
  if [ -L "/$d" ]; then
    ln -s "$(readlink "/$d")" "$work/$d"
  elif [ -d "/$d" ]; then
    mkdir "$work/$d"
    binds+=("$d")
  fi
done

# Root in CI; elsewhere a user namespace grants the mount and the chroot.
ns=(unshare --mount)
[ "$(id -u)" -eq 0 ] || ns=(unshare --map-root-user --mount)

log="$work.log"
if ! "${ns[@]}" /bin/sh -ec '
      root=$1 exe=$2 project=$3; shift 3
      for d; do mount --rbind "/$d" "$root/$d"; done
      exec chroot "$root" "$exe" --no-html-scan "$project"' \
    sh "$work" "$exe" "$project" "${binds[@]}" >"$log" 2>&1; then
  cat "$log" >&2
  echo "chm-compile: chmcmd failed on $src/$project" >&2
  exit 1
fi

name=$(sed -n 's/^[Cc]ompiled file=\(.*\)\r\?$/\1/p' "$work/$project" | tr -d '\r')
if [ ! -s "$work/$name" ]; then
  cat "$log" >&2
  echo "chm-compile: chmcmd wrote no $name" >&2
  exit 1
fi
# The map's names relative to the file's root, as readers of the map expect.
/usr/bin/python3 "$(dirname "$0")/chm-context-map.py" "$work/$name"
mkdir -p "$(dirname "$out")"
cp "$work/$name" "$out"
