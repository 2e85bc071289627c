#!/bin/sh
# Times reading the pictures straight out of a container against unpacking it first, on
# a disc image (genisoimage) and a Windows Installer package (wixl) built from Wine's
# modules. Each round runs, in turn and each into a fresh folder:
#   (a) harvix-cli extract CONTAINER
#   (b) 7zz x CONTAINER into a folder, then harvix-cli extract on that folder
#   (c) 7zz x CONTAINER alone
# and prints each one's median wall time, the ratios a/b and a/c, and the peak resident
# size of (a). Builds harvix-cli in release mode first (as bench/bench-lib.sh does).
# Usage: bench/container-bench.sh [--rounds N] [--modules N] [--big] [--work DIR]
#                                 [--cli PATH] [--no-msi] [--keep]
#   --modules N  the first N modules (*.exe, *.dll, by name) of Wine's (default 150)
#   --big        the disc image holds every module of Wine's, padded to 650 MiB, and
#                no package is made (a package that large takes wixl long to make)
#   --cli PATH   time this harvix-cli instead of building one
set -eu
. "$(dirname "$0")/bench-lib.sh"

rounds=3
modules=150
big=0
msi=1
keep=0
work=""
cli=""
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --modules) modules=$2; shift 2 ;;
    --big) big=1; msi=0; shift ;;
    --work) work=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    --no-msi) msi=0; shift ;;
    --keep) keep=1; shift ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done

for tool in 7zz genisoimage /usr/bin/time; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool is needed (7zip, genisoimage, time)" >&2; exit 2; }
done
if [ "$msi" = 1 ] && ! command -v wixl >/dev/null 2>&1; then
  echo "wixl is needed for the package (wixl), or give --no-msi" >&2
  exit 2
fi
[ -d "$wine_modules" ] || { echo "Wine's modules are not in $wine_modules (libwine)" >&2; exit 2; }

if [ -z "$cli" ]; then
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -g -DNDEBUG" \
      -DHARVIX_GUI=OFF -DHARVIX_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" --target harvix-cli -j2 >/dev/null
  cli="$build/cli/harvix-cli"
fi

work=${work:-"$build/container-bench"}
rm -rf "$work"
mkdir -p "$work/modules"
[ "$keep" = 1 ] || trap 'rm -rf "$work"' EXIT

# The modules: links into one folder, which both tools follow.
if [ "$big" = 1 ]; then
  find "$wine_modules" -maxdepth 1 -type f | sort >"$work/chosen"
else
  find "$wine_modules" -maxdepth 1 -type f \( -name '*.exe' -o -name '*.dll' \) | sort | head -n "$modules" >"$work/chosen"
fi
while read -r module; do
  ln -s "$module" "$work/modules/"
done <"$work/chosen"
if [ "$big" = 1 ]; then
  # Padding up to the size of a full CD, one file the masks do not match.
  have=$(du -Lbc "$work/modules" | tail -n 1 | cut -f 1)
  want=$((650 * 1024 * 1024))
  if [ "$have" -lt "$want" ]; then
    head -c $((want - have)) /dev/zero >"$work/padding.bin"
    ln -s "$work/padding.bin" "$work/modules/"
  fi
fi

containers=""
genisoimage -quiet -f -J -R -o "$work/wine.iso" "$work/modules"
containers="$work/wine.iso"

if [ "$msi" = 1 ]; then
  # One component a module, all in one folder of the package, its cabinet inside it.
  wxs="$work/wine.wxs"
  {
    echo '<?xml version="1.0"?>'
    echo '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">'
    echo '  <Product Id="*" Name="Wine modules" Language="1033" Version="1.0.0.0" Manufacturer="Harvix"'
    echo '           UpgradeCode="12345678-1234-1234-1234-123456789012">'
    echo '    <Package InstallerVersion="200" Compressed="yes" />'
    echo '    <Media Id="1" Cabinet="wine.cab" EmbedCab="yes" />'
    echo '    <Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="ProgramFilesFolder">'
    echo '      <Directory Id="INSTALLDIR" Name="Wine">'
    n=0
    while read -r module; do
      n=$((n + 1))
      printf '        <Component Id="C%d" Guid="00000000-0000-0000-0000-%012d"><File Id="F%d" Name="%s" Source="%s" KeyPath="yes" /></Component>\n' \
        "$n" "$n" "$n" "$(basename "$module")" "modules/$(basename "$module")"
    done <"$work/chosen"
    echo '      </Directory>'
    echo '    </Directory></Directory>'
    printf '    <Feature Id="All" Level="1">'
    i=1
    while [ "$i" -le "$n" ]; do
      printf '<ComponentRef Id="C%d" />' "$i"
      i=$((i + 1))
    done
    echo '</Feature>'
    echo '  </Product>'
    echo '</Wix>'
  } >"$wxs"
  (cd "$work" && wixl -o wine.msi wine.wxs)
  containers="$containers $work/wine.msi"
fi

# time_run FILE COMMAND...: appends "seconds peak-KiB" of one run of COMMAND to FILE.
time_run() {
  file=$1
  shift
  /usr/bin/time -f '%e %M' -o "$work/one" "$@" >/dev/null 2>"$work/err" || {
    echo "failed: $*" >&2
    cat "$work/err" >&2
    exit 1
  }
  tail -n 1 "$work/one" >>"$file"
}

median() {
  cut -d ' ' -f "$2" "$1" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "harvix-cli: $cli"
echo "7-Zip:      $(7zz | sed -n 2p)"
echo "$(wc -l <"$work/chosen") files of $wine_modules; $rounds rounds, alternating, warm cache"
for container in $containers; do
  label=$(basename "$container")
  # (b) reads the folder with the masks (a) reads the container with, the default ones;
  # but 7-Zip unpacks a package's files under their keys in the File table, which have
  # no extension: that folder is read whole.
  mask="*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx"
  case $container in *.msi) mask="*" ;; esac
  rm -f "$work/a" "$work/b" "$work/c"
  round=0
  while [ "$round" -lt "$rounds" ]; do
    round=$((round + 1))
    rm -rf "$work/out"
    time_run "$work/a" "$cli" extract --dest "$work/out" "$container"
    rm -rf "$work/out" "$work/unpacked"
    # shellcheck disable=SC2016 # the arguments expand in the shell that runs both steps
    time_run "$work/b" sh -c '7zz x -bd -bso0 -bsp0 -o"$2" "$1" && exec "$3" extract --dest "$4" --mask "$5" "$2"' \
      sh "$container" "$work/unpacked" "$cli" "$work/out" "$mask"
    rm -rf "$work/out" "$work/unpacked"
    time_run "$work/c" 7zz x -bd -bso0 -bsp0 -o"$work/unpacked" "$container"
    rm -rf "$work/unpacked"
  done
  a=$(median "$work/a" 1)
  b=$(median "$work/b" 1)
  c=$(median "$work/c" 1)
  peak=$(cut -d ' ' -f 2 "$work/a" | sort -n | tail -n 1)
  echo
  echo "$label: $(du -b "$container" | cut -f 1) bytes"
  printf '  (a) harvix-cli extract          %8.2f s\n' "$a"
  printf '  (b) 7zz x, harvix-cli extract   %8.2f s\n' "$b"
  printf '  (c) 7zz x                       %8.2f s\n' "$c"
  awk -v a="$a" -v b="$b" -v c="$c" -v peak="$peak" 'BEGIN {
    printf "  a/b %.2f (goal at most 0.6)   a/c %.2f (goal at most 1.2)   peak of (a) %.1f MiB (goal under 64)\n",
      a / b, a / c, peak / 1024 }'
done
