#!/usr/bin/env bash
# The programs as a user meets them: --version and --help of both, the usage of every
# harvix-cli command, the wizard's answer to arguments and to a missing display, and
# whether the man pages and the bash completion know every command and option that
# harvix-cli's own help names.
# Usage: programs-test.sh --cli HARVIX_CLI --man-dir DIR --completion FILE [--gui HARVIX]
#        [--version VERSION]
set -uo pipefail

cli="" gui="" man_dir="" completion="" version=""
while [ $# -gt 0 ]; do
  case $1 in
    --cli) cli=$2 ;;
    --gui) gui=$2 ;;
    --man-dir) man_dir=$2 ;;
    --completion) completion=$2 ;;
    --version) version=$2 ;;
    *) echo "programs-test.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done

[ -n "$completion" ] && completion=$(realpath "$completion")

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
scratch=$(mktemp -d "${TMPDIR:-/tmp}/harvix-programs.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# run NAME EXPECTED_STATUS COMMAND...: runs it with stdout and stderr in $scratch
run() {
  local name=$1 want=$2
  shift 2
  "$@" >"$scratch/out" 2>"$scratch/err" </dev/null
  local got=$?
  [ "$got" -eq "$want" ] || fail "$name: status $got, expected $want ($(head -c 300 "$scratch/err"))"
}
lines() { wc -l <"$1" | tr -d ' '; }

# ---------------------------------------------------------------- versions and usage
run "harvix-cli --version" 0 "$cli" --version
want_version="harvix${version:+ $version}"
if [ -n "$version" ]; then
  [ "$(cat "$scratch/out")" = "$want_version" ] || fail "harvix-cli --version printed '$(cat "$scratch/out")'"
else
  grep -Eqx 'harvix [0-9]+\.[0-9]+\.[0-9]+' "$scratch/out" || fail "harvix-cli --version printed '$(cat "$scratch/out")'"
fi
cli_version=$(cat "$scratch/out")

run "harvix-cli --help" 0 "$cli" --help
cp "$scratch/out" "$scratch/help"
# The commands are the lines of the help that hold two blanks and a lower-case word.
commands=$(sed -n 's/^  \([a-z][a-z-]*\)\( .*\)\{0,1\}$/\1/p' "$scratch/help")
[ -n "$commands" ] || fail "harvix-cli --help names no command"
run "harvix-cli without a command" 2 "$cli"
run "harvix-cli with an unknown command" 2 "$cli" no-such-command

for command in $commands; do
  for flag in --help -h; do
    run "harvix-cli $command $flag" 0 "$cli" "$command" "$flag"
    [ "$(grep -c "^Usage: harvix-cli $command" "$scratch/out")" -eq 1 ] ||
      fail "harvix-cli $command $flag does not print its usage line once"
    [ -s "$scratch/err" ] && fail "harvix-cli $command $flag wrote to stderr"
  done
  cp "$scratch/out" "$scratch/usage-$command"
done

if [ -n "$gui" ]; then
  run "harvix --version" 0 "$gui" --version
  [ "$(cat "$scratch/out")" = "$cli_version" ] || fail "harvix --version printed '$(cat "$scratch/out")'"
  run "harvix --help" 0 "$gui" --help
  grep -q '^Usage: harvix' "$scratch/out" || fail "harvix --help prints no usage"
  for args in "--bogus" "extra" "--version --help" "-platform offscreen" "/ /" "/dev/null" "-- -x"; do
    # shellcheck disable=SC2086 # the arguments are split on purpose
    run "harvix $args" 2 "$gui" $args
    grep -q '^Usage: harvix' "$scratch/err" || fail "harvix $args: no usage on stderr"
    [ -s "$scratch/out" ] && fail "harvix $args wrote to stdout"
  done
  run "harvix on a missing path" 2 "$gui" "$scratch/no such folder"
  grep -q "^harvix: $scratch/no such folder: No such file or directory" "$scratch/err" ||
    fail "harvix on a missing path said: $(cat "$scratch/err")"
  # A folder or file is taken: without a display the program then ends with 1.
  run "harvix on a folder without a display" 1 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$gui" "$scratch"
  # No display at all, and a display that cannot be opened: one line naming
  # harvix-cli, status 1 (not Qt's abort).
  run "harvix without a display" 1 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$gui"
  [ "$(lines "$scratch/err")" -eq 1 ] && grep -q harvix-cli "$scratch/err" ||
    fail "harvix without a display said: $(cat "$scratch/err")"
  run "harvix on a display that cannot be opened" 1 \
    env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:65000 "$gui"
  [ "$(lines "$scratch/err")" -eq 1 ] && grep -q harvix-cli "$scratch/err" ||
    fail "harvix on a display that cannot be opened said: $(cat "$scratch/err")"
fi

# ---------------------------------------------------------------- man pages
if [ -n "$man_dir" ]; then
  for page in harvix-cli ${gui:+harvix}; do
    file="$man_dir/$page.1.gz"
    [ -f "$file" ] || { fail "no man page $file"; continue; }
    MANWIDTH=100 man --warnings -l "$file" >"$scratch/$page.txt" 2>"$scratch/man-err" ||
      fail "man -l $page failed"
    [ -s "$scratch/man-err" ] && fail "man --warnings on $page: $(cat "$scratch/man-err")"
    for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
      grep -q "^$section" "$scratch/$page.txt" || fail "$page(1) has no $section section"
    done
    grep -q -- "--version" "$scratch/$page.txt" || fail "$page(1) does not name --version"
  done
  # Every command and option of harvix-cli's help, in the page and the completion.
  for command in $commands; do
    grep -Eq "^ +$command( |$)" "$scratch/harvix-cli.txt" ||
      fail "harvix-cli(1) has no entry for the command $command"
    for option in $(grep -o -- '--[a-z][a-z0-9-]*' "$scratch/usage-$command" | sort -u); do
      grep -q -- "$option" "$scratch/harvix-cli.txt" ||
        fail "harvix-cli(1) does not name $command $option"
    done
  done
fi

# ---------------------------------------------------------------- bash completion
if [ -n "$completion" ]; then
  bash -n "$completion" || fail "the completion $completion is not valid bash"
  bc=/usr/share/bash-completion/bash_completion
  if [ -r "$bc" ]; then
    # complete "LINE": what the completion offers for the last word of LINE
    cat >"$scratch/complete.sh" <<EOF
source $bc
source "$completion"
compopt() { :; }
line=\$1
read -ra COMP_WORDS <<<"\$line"
[[ \$line == *" " ]] && COMP_WORDS+=("")
COMP_LINE=\$line COMP_POINT=\${#line} COMP_CWORD=\$((\${#COMP_WORDS[@]} - 1))
_harvix_cli harvix-cli "\${COMP_WORDS[COMP_CWORD]}" "\${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "\${COMPREPLY[@]}"
EOF
    offer() { (cd "$scratch" && bash "$scratch/complete.sh" "$1" 2>&1); }
    offered=$(offer "harvix-cli ")
    for command in $commands; do
      grep -qx "$command" <<<"$offered" || fail "the completion does not offer the command $command"
      offered_options=$(offer "harvix-cli $command --")
      for option in $(grep -o -- '--[a-z][a-z0-9-]*' "$scratch/usage-$command" | sort -u); do
        grep -qx -- "$option" <<<"$offered_options" ||
          fail "the completion does not offer $command $option"
      done
    done
    mkdir -p "$scratch/dir-a" "$scratch/dir-b"
    [ "$(offer "harvix-cli list dir-" | sort | tr '\n' ' ')" = "dir-a dir-b " ] ||
      fail "the completion does not offer folders for list: $(offer "harvix-cli list dir-")"
    if grep -q -- --kinds "$scratch/usage-extract" 2>/dev/null; then
      [ "$(offer "harvix-cli extract --kinds icon,cu")" = "icon,cursor" ] ||
        fail "the completion does not complete kind names: $(offer "harvix-cli extract --kinds icon,cu")"
    fi
  else
    echo "note: $bc missing, completions not tried"
  fi
fi

if [ "$failures" -gt 0 ]; then
  echo "programs-test.sh: $failures failures"
  exit 1
fi
echo "programs-test.sh: all checks passed"
